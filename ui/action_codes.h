#pragma once
// Every action code by name: the codes of the skin's keywords (their keyword
// in the comment; the keyword table maps the keyword to the number) and the
// internal codes without a keyword that pass between the shell, the elements
// and the screens. One name for each number; a number with two meanings has
// one name for each, side by side. The two codes the engine queues itself
// (5 a replay ended, 227 a picture clip ended) are engine::kActionReplayEnded
// and engine::kActionNextClip, since the engine sits beside this layer.
//
// Thread: any thread (constants).

#include <cstdint>

namespace ui {

using ActionCode = int32_t;

enum : ActionCode {
  // The shell: navigation, settings, menus, popups, focus, rotation.
  kActionPreviousMenu = 0,  // PREVIOUS_MENU
  kActionJumpTo = 1,        // JUMP_TO
  kActionEmpty = 2,         // preset of every binding slot; activation skips it
  kActionDisabled = 3,      // ACTION_DISABLED
  kActionUnknown = 4,       // keyword in no entry
  kActionQuit = 6,          // ACTION_QUIT
  kActionIgnore = 7,        // ACTION_IGNORE
  kActionMenuShown = 8,
  kActionAfterRotation = 9,
  kActionBeforeRotation = 10,  // the editors delete their channel's caches on it
  kActionLeavingMenu = 11,
  kActionPopupOpened = 12,
  kActionPopupClosed = 13,
  kActionActivate = 14,
  kActionSaveSettings = 20,  // SAVE_SETTINGS
  kActionSaveAndExit = 21,   // SAVE_AND_EXIT
  kActionInitialise = 22,    // INITIALISE
  kActionRevert = 23,        // REVERT
  kActionExecutable = 24,   // ACTION_EXECUTABLE
  kActionFocusGained = 25,
  kActionFocusLost = 26,
  kActionStartAtLastFrame = 27,
  kActionTypeChars = 28,
  kActionTypeKeys = 29,
  kActionShowImage = 30,  // SHOW_IMAGE
  kActionDeactivated = 31,
  kActionHelpDismiss = 32,  // HW_DISMISSHELP
  kActionHelpOn = 33,       // HW_HELPON
  kActionHelpReset = 34,    // HW_HELPRESET
  kActionHelpOnReset = 35,  // HW_HELPONRESET
  kActionOptionsChanged = 36,
  kActionShowPopup = 37,     // SHOW_POPUP
  kActionSetAttribute = 38,  // SETATTRIBUTE
  kActionMenuOk = 41,        // MENU_OK
  kActionMenuCancel = 42,    // MENU_CANCEL
  kActionFinishEditing = 43,
  kActionCancelEditing = 44,
  kActionPasswordOff = 45,
  kActionPasswordOn = 46,
  kActionAfterMixerCode = 93,  // after a project or render code was handed to the mixer
  kActionSelectOk = 345,       // SL_OK
  kActionSelectCancel = 346,   // SL_CANCEL

  // Elements of the toolkit.
  kActionCalendarNext = 67,         // CL_NEXTDATE
  kActionCalendarPrevious = 68,     // CL_PREVDATE
  kActionCalendarShowMonths = 69,   // CL_SHOWMONTHS
  kActionCalendarShowDays = 70,     // CL_SHOWDAYS
  kActionCalendarSelect = 71,       // CL_SELECT
  kActionCalendarCancel = 72,       // CL_CANCEL
  kActionSetText = 73,
  kActionScrollUp = 74,
  kActionScrollDown = 75,
  kActionSliderStepDown = 76,
  kActionSliderStepUp = 77,
  kActionSliderSet = 78,  // the argument is the value as text
  kActionOptionChanged = 79,  // an element stored an option; the argument is its key name
  kActionClipDeleted = 234,   // the clip order list deleted a clip
  kActionOptionCut = 248,     // option 38 or 39 (the cut points) changed
  kActionItemGroupOpen = 309,
  kActionItemGroupClose = 310,
  kActionSelectionChanged = 342,  // the clip order list's selection changed
  kActionDropDownOpened = 343,
  kActionDropDownClosed = 344,

  // The media and effect browsers.
  kActionEffectPicturesOnly = 47,
  kActionEffectVideosOnly = 48,
  kActionBrowserView = 50,       // PB_VIEW
  kActionBrowserZoomOut = 51,    // PB_ZOOMMINUS
  kActionBrowserZoomIn = 52,     // PB_ZOOMPLUS
  kActionBrowserPrev = 53,       // PB_PREV
  kActionBrowserNext = 54,       // PB_NEXT
  kActionBrowserFullScreen = 55,  // PB_FULLSCREEN
  kActionBrowserSortDate = 56,   // PB_SORTDATE
  kActionBrowserSortName = 57,   // PB_SORTNAME
  kActionBrowserSelectAll = 60,   // PB_SELECTALL
  kActionBrowserSelectNone = 61,  // PB_SELECTNONE
  kActionBrowserPreview = 62,    // PB_PREVIEW
  kActionJumpToMix = 63,         // PB_JUMPTOMIX
  kActionBrowserOpenFileBox = 64,  // PB_OPENFILEBOX
  kActionBrowserAddNote = 65,    // PB_ADDNOTE
  kActionBrowserAddCredits = 66,  // PB_ADDCREDITS
  kActionEffectBrowserReset = 253,
  kActionAssignPhotoEffectToAll = 254,  // ED_ASSIGNPHOTOEFFECTTOALL
  kActionAssignPhotoEffectToOne = 255,  // ED_ASSIGNPHOTOEFFECTTOONE
  kActionAssignOverlayToAll = 256,      // ED_ASSIGNOVERLAYTOALL
  kActionAssignOverlayToOne = 257,      // ED_ASSIGNOVERLAYTOONE
  kActionBlackWhite = 258,              // ED_BLACKWHITE
  kActionSepia = 259,                   // ED_SEPIA
  kActionSaturation = 260,              // ED_SATURATION
  kActionFilterNone = 313,     // MB_FILTER_NONE
  kActionFilterAudio = 314,    // MB_FILTER_AUDIO
  kActionFilterImage = 315,    // MB_FILTER_IMAGE
  kActionFilterVideo = 316,    // MB_FILTER_VIDEO
  kActionFilterProject = 317,  // MB_FILTER_PROJECT
  kActionShowToday = 318,      // MB_SHOWTODAY
  kActionShowYesterday = 319,  // MB_SHOWYESTERDAY
  kActionShowDay = 320,        // MB_SHOWDAY
  kActionShowLast7Days = 321,  // MB_SHOWLAST7DAYS
  kActionShowThisMonth = 322,  // MB_SHOWTHISMONTH
  kActionShowLastMonth = 323,  // MB_SHOWLASTMONTH
  kActionShowAll = 324,        // MB_SHOWALL
  kActionShowCalendar = 325,   // MB_SHOWCALENDER

  // The channels and the mixer.
  kActionChannelClear = 81,       // CH_CLEAR
  kActionChannelClear0 = 82,      // CH_CLEAR0 to CH_CLEAR5: 82 + n
  kActionCreditsStartClear = 88,
  kActionCreditsEndClear = 89,
  kActionSetChannel = 90,         // the argument names the channel element: open its editor
  kActionChannelAssign = 91,      // CH_ASSIGN
  kActionChannelAdvanced = 92,    // CH_ADVANCED
  kActionMuteOn = 94,             // MX_MUTE_ON
  kActionMuteOff = 95,            // MX_MUTE_OFF
  kActionMixStart = 96,           // MX_START
  kActionStartCreditsFinish = 97,  // MX_START_CREDITS_FINISH
  kActionEndCreditsStart = 98,    // MX_END_CREDITS_START
  kActionMixStop = 99,            // MX_STOP
  kActionMixerWizard = 100,       // MX_WIZARD
  kActionMixerAcceptWizard = 101,  // MX_ACCEPTWIZARD
  kActionWizardSetting0 = 102,    // MX_WIZARD_SETTING0 to 9: 102 + n
  kActionSetVolume = 112,         // MX_SETVOLUME
  kActionPlayback = 113,          // MX_PLAYBACK
  kActionPlayStop = 114,          // MX_PLAYSTOP
  kActionPlayPause = 115,         // MX_PLAYPAUSE
  kActionChannelStateChanged = 116,
  kActionSelChannelOn = 117,      // MX_SEL_CHANNEL_ON
  kActionSelChannelOff = 118,     // MX_SEL_CHANNEL_OFF
  kActionChannelOn0 = 119,        // MX_CHANNEL_ON_0 to _5: 119 + n
  kActionChannelOff0 = 127,       // MX_CHANNEL_OFF_0 to _5: 127 + n
  kActionEffectOn0 = 135,         // MX_EFFECT_ON_0 to _5: 135 + n
  kActionEffectOff0 = 143,        // MX_EFFECT_OFF_0 to _5: 143 + n
  kActionEffectToggle = 151,      // MX_EFFECT_TOGGLE
  kActionVolume0 = 152,           // MX_VOL_0 to _5: 152 + n
  kActionTempoValue0 = 160,       // a panel's tempo slider: 160 + n
  kActionMasterVolume = 166,      // MX_MASTERVOL
  kActionVolumeValue0 = 167,      // a panel's volume slider: 167 + n
  kActionTempoLevel0 = 175,       // MX_TEMPOLEVEL_0 to _5: 175 + n
  kActionTempo0 = 181,            // MX_TEMPO_0 to _5: 181 + n
  kActionSpeaker0 = 187,          // MX_SPEAKER_0 to _5: 187 + n
  kActionSlideSlowRight = 193,    // MX_VID_SLIDE_SLOW_RIGHT; then left, up, down
  kActionSlideFastRight = 197,    // MX_VID_SLIDE_FAST_RIGHT; then left, up, down
  kActionSlideFastDown = 200,     // MX_VID_SLIDE_FAST_DOWN
  kActionBlindSlowRight = 201,    // MX_VID_BLIND_SLOW_RIGHT; then left, up, down
  kActionBlindFastRight = 205,    // MX_VID_BLIND_FAST_RIGHT; then left, up, down
  kActionFadeSlow = 209,          // MX_VID_FADE_SLOW
  kActionFadeFast = 210,          // MX_VID_FADE_FAST
  kActionSweepSlowRight = 211,    // MX_VID_SWEEP_SLOW_RIGHT; then left, up, down
  kActionSweepFastRight = 215,    // MX_VID_SWEEP_FAST_RIGHT; then left, up, down
  kActionSweepFastDown = 218,     // MX_VID_SWEEP_FAST_DOWN
  kActionFastRandom = 219,        // MX_VID_FAST_RANDOM
  kActionSlowRandom = 220,        // MX_VID_SLOW_RANDOM
  kActionEchoShort = 221,         // MX_AUD_ECHO_SHORT
  kActionEchoLong = 222,          // MX_AUD_ECHO_LONG
  kActionChorus = 223,            // MX_AUD_CHORUS
  kActionReverb = 224,            // MX_AUD_REVERB
  kActionAddEffect = 225,         // MX_ADDEFFECT
  kActionMixerSaveMenu = 226,     // MX_SAVEMENU
  kActionCacheLock = 280,         // cache files are about to be deleted: the editors take their preview lock
  kActionCacheUnlock = 281,       // and release it when they are gone
  kActionShowVideoEffect0 = 282,      // MX_SHOW_VID_EFFECT_0 to _5: 282 + n
  kActionShowAudioEffect0 = 288,      // MX_SHOW_AUD_EFFECT_0 to _5: 288 + n
  kActionShowVideoEffectGrey0 = 294,  // MX_SHOW_VID_EFFECT_GREY_0 to _5: 294 + n
  kActionShowAudioEffectGrey0 = 300,  // MX_SHOW_AUD_EFFECT_GREY_0 to _5: 300 + n
  kActionAcceptEffectFor = 306,   // the argument is the panel's channel number
  kActionAcceptEffect = 307,      // MX_ACCEPTEFFECT
  kActionAllChannelsAcceptEffect = 308,  // MX_ALLCHANACCEPTEFFECT
  kActionProjectLoad = 311,       // the argument names the project; empty: the last one
  kActionProjectSave = 312,       // the argument names the project; empty: the mix's own name
  kActionMixClear = 326,          // MB_MIXCLEAR
  kActionChannelKindChanged = 327,
  kActionMixChanged = 328,
  kActionMixLoad = 329,           // MX_LOAD
  kActionMixSave = 330,           // MX_SAVE
  kActionRenderMms = 331,         // MX_RENDERMMS
  kActionRenderEmail = 332,       // MX_RENDEREMAIL
  kActionRenderBlog = 333,        // MX_RENDEREUBLOG
  kActionRenderDevice = 334,      // MX_RENDEREDEVICE
  kActionCancelRender = 335,      // MX_CANCEL_RENDER
  kActionRenderDone = 336,
  kActionRenderFailed = 337,
  kActionCancelDecompress = 338,  // MX_CANCEL_DECOMPRESS
  kActionDecompressDone = 339,
  kActionDecompressFailed = 340,
  kActionDecompressFailureOk = 341,  // MX_OK_DECOMPRESSFAILURE

  // The editors.
  kActionPanZoomClip = 39,     // the argument is the clip index to edit
  kActionPanZoomChannel = 40,  // the argument names the channel element to edit
  kActionEditorPlay = 228,           // ED_PLAY
  kActionEditorPlaySelection = 229,  // ED_PLAYSELECTION
  kActionEditorPause = 230,          // ED_PAUSE
  kActionEditorStop = 231,           // ED_STOP
  kActionEditorSkipForward = 232,    // ED_SKIPF
  kActionEditorSkipBack = 233,       // ED_SKIPB
  kActionEditorTick = 234,           // queued by an editor's own preview: the position moved
  kActionEditorToggleLoop = 235,     // ED_TOGGLELOOP
  kActionEditorToggleBeatMatch = 236,  // ED_TOGGLEBEATMATCHING
  kActionEditorAddEffect = 237,      // ED_ADDEFFECT
  kActionEditorAddOverlay = 238,     // ED_ADDOVERLAY
  kActionEditorCreditAddOverlay = 239,  // ED_CREDITADDOVERLAY
  kActionEditorAcceptChanges = 240,  // ED_ACCEPTCHANGES
  kActionEditorAcceptEffect = 241,   // ED_ACCEPTEFFECT
  kActionEditorAcceptKenBurns = 242,  // ED_ACCEPTKENBURNS
  kActionAddText = 243,              // ED_ADDTEXT
  kActionAcceptText = 244,           // ED_ACCEPTTEXT
  kActionEditorCutStart = 245,       // ED_CUTSTART
  kActionEditorCutEnd = 246,         // ED_CUTEND
  kActionEditorCutClear = 247,       // ED_CUTCLEAR
  kActionEditorEchoShort = 249,      // ED_AUD_ECHO_SHORT
  kActionEditorEchoLong = 250,       // ED_AUD_ECHO_LONG
  kActionEditorReverb = 251,         // ED_AUD_REVERB
  kActionEditorChorus = 252,         // ED_AUD_CHORUS
  kActionEditorCropPhoto = 261,      // ED_CROPPHOTO
  kActionEditorPanZoomEdit = 262,    // ED_PANZOOMEDIT
  kActionJustifyRight = 263,         // SETATTRIBUTE TextJust in the skin
  kActionJustifyLeft = 264,
  kActionJustifyCentre = 265,
  kActionJustifyFull = 266,
  kActionAlignTop = 267,             // SETATTRIBUTE TextVAlign in the skin
  kActionAlignMiddle = 268,
  kActionAlignBottom = 269,
  kActionTextItalic = 270,           // TE_ITALIC
  kActionTextBold = 271,             // TE_BOLD
  kActionTextUnderline = 272,        // TE_UNDERLINE
  kActionTextClear = 273,            // TE_CLEAR
  kActionSelectTextClip = 274,       // the argument names the channel: its selected clip
  kActionSelectFirstTextClip = 275,  // the argument names the channel: its first clip
  kActionStartCredits = 276,         // TE_STARTCREDIT
  kActionEndCredits = 277,           // TE_ENDCREDIT
  kActionForgetTextClip = 278,
  kActionPlaylistDelete = 279,       // PL_DELETE
  kActionPictureReady = 350,         // a picture editor's worker has the still ready
};

}  // namespace ui
