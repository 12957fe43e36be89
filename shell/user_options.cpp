#include "shell/user_options.h"

#include "platform/os/file.h"
#include "platform/os/registry.h"
#include "platform/os/thread.h"

namespace shell {
namespace {

// Numeric keys by slot; slot 37 and 40 to 44 have none. "HelpOn" (45) lets a
// skin show whether help hints are on and switch them with SETATTRIBUTE: no
// action keyword reaches the plain toggle, and HW_HELPON also resets the
// hints already shown.
constexpr const char16_t* kNumericKeys[UserOptions::kNumericCount] = {
    u"MediaBrowserSort", u"AudioTrackPlayPercentage", u"VideoTrackPlayPercentage", u"ImageTrackPlayPercentage",
    u"RenderPercentage", u"PreviewPlayPercentage", u"AssignKenBurnsToAll", u"AssignOverlayToAll",
    u"AssignPhotoEffectToAll", u"PhotoEffect", u"EffectType", u"EffectSpeed", u"EffectDir",
    u"DecompressionPercentage", u"ImageInterval", u"KenBurnsPosition", u"KenStart", u"KenEnd",
    u"TextBackGndColour", u"TextColour", u"TextSize", u"TextFont", u"TextBold", u"TextItalic",
    u"TextUnderline", u"TextJust", u"TextVAlign", u"WizardSetting", u"WizardMediaType", u"WizardMediaSize",
    u"WizardMediaDimension", u"WizardMediaFps", u"WizardMediaAudioRate", u"WizardMediaBps",
    u"WizardMediaLength", u"WizardMediaCodec", u"MixDurationLeft", nullptr, u"CutFlagStart", u"CutFlagEnd",
    nullptr, nullptr, nullptr, nullptr, nullptr, u"HelpOn"};

constexpr const char16_t* kStringKeys[UserOptions::kStringKeyCount] = {
    u"LoadedSkin", u"CurrentSkinLanuage", u"LoadedLang", u"AudioTrackTitle", u"AudioTrackLen",
    u"AudioTrackPos", u"VideoTrackTitle", u"VideoTrackLen", u"VideoTrackPos", u"PreviewPos",
    u"PreviewLen", u"Version", u"TrackProgress", u"ImageTrackPos", u"ImageTrackLen",
    u"ImageTrackTitle", u"SetLocationDir", u"Cal_Date", u"OverlayEffect", u"EffectFilename"};

constexpr int kHeaderBytes = 8;
constexpr int kNumericBytes = UserOptions::kNumericCount * 4;

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

uint16_t Crc16CcittFalse(const uint8_t* data, size_t size) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc = static_cast<uint16_t>(crc ^ (static_cast<uint16_t>(data[i]) << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::u16string_view NumericOptionKey(int index) {
  if (index < 0 || index >= UserOptions::kNumericCount || !kNumericKeys[index]) return {};
  return kNumericKeys[index];
}

std::u16string_view StringOptionKey(int index) {
  if (index < 0 || index >= UserOptions::kStringKeyCount) return {};
  return kStringKeys[index];
}

UserOptions::UserOptions(ov::String file_path) : path_(std::move(file_path)) {}

uint32_t* UserOptions::GetOption(int index) {
  return (index >= 0 && index < kNumericCount) ? &numeric_[index] : nullptr;
}

ov::String* UserOptions::GetStringOption(int index) {
  return (index >= 0 && index < kStringCount) ? &strings_[index] : nullptr;
}

int UserOptions::FindNumericIndex(std::u16string_view key) const {
  for (int i = 0; i < kNumericCount; ++i) {
    if (kNumericKeys[i] && ov::String(kNumericKeys[i]).EqualsNoCase(key)) return i;
  }
  return -1;
}

int UserOptions::FindStringIndex(std::u16string_view key) const {
  for (int i = 0; i < kStringKeyCount; ++i) {
    if (ov::String(kStringKeys[i]).EqualsNoCase(key)) return i;
  }
  return -1;
}

uint32_t* UserOptions::FindNumericByKey(std::u16string_view key) { return GetOption(FindNumericIndex(key)); }
ov::String* UserOptions::FindStringByKey(std::u16string_view key) { return GetStringOption(FindStringIndex(key)); }

void UserOptions::MarkChanged(bool is_string, int index) {
  deadline_ = ov::GetTickCount() + 1000;
  if (deadline_ == 0) deadline_ = 1;  // 0 means "nothing to save"
  if (listener_) listener_(is_string, index);
}

bool UserOptions::SetOptionByName(std::u16string_view key, const ov::String& text) {
  const int s = FindStringIndex(key);
  if (s >= 0) {
    if (strings_[s] == text) return false;
    strings_[s] = text;
    MarkChanged(true, s);
    return true;
  }
  const int n = FindNumericIndex(key);
  if (n < 0) return false;
  const uint32_t value = static_cast<uint32_t>(text.ToInt());
  if (numeric_[n] == value) return false;
  numeric_[n] = value;
  MarkChanged(false, n);
  return true;
}

bool UserOptions::SetNumericOption(int index, uint32_t value) {
  if (index < 0 || index > 40) return false;
  numeric_[index] = value;
  MarkChanged(false, index);
  return true;
}

void UserOptions::SaveOptionsLater(bool now) {
  if (now) {
    SaveOptions();
    return;
  }
  deadline_ = ov::GetTickCount() + 1000;
  if (deadline_ == 0) deadline_ = 1;
}

void UserOptions::SaveIfDue() {
  // The deadline is compared as a signed difference so that it survives the
  // tick count's wrap after 49.7 days.
  if (deadline_ == 0 || static_cast<int32_t>(ov::GetTickCount() - deadline_) <= 0) return;
  SaveIfPending();
}

void UserOptions::SaveIfPending() {
  if (deadline_ == 0) return;
  const bool saved = SaveOptions();
  // Other settings of the program live in the registry; they reach the disk
  // with the options.
  ov::RegistryFlush(ov::RegistryRoot::kLocalMachine);
  ov::RegistryFlush(ov::RegistryRoot::kCurrentUser);
  // A write that failed (the folder not made yet or gone, the disk full)
  // keeps the changes waiting: the next check, or the owner going, tries
  // again, where forgetting them would lose them at the next start.
  if (saved) deadline_ = 0;
  else SaveOptionsLater(false);
}

void UserOptions::SerializeTo(std::vector<uint8_t>* out) const {
  std::vector<uint8_t> image;
  image.reserve(kNumericBytes + 256);
  for (uint32_t v : numeric_) PutLe32(&image, v);
  for (const ov::String& s : strings_) {
    for (int i = 0; i < s.Length(); ++i) {
      image.push_back(static_cast<uint8_t>(s[i] & 0xFF));
      image.push_back(static_cast<uint8_t>(s[i] >> 8));
    }
    image.push_back(0);
    image.push_back(0);
  }
  out->clear();
  PutLe32(out, kFormatWord);
  PutLe32(out, Crc16CcittFalse(image.data(), image.size()));
  out->insert(out->end(), image.begin(), image.end());
}

bool UserOptions::SaveOptions() {
  const uint32_t attributes = ov::GetFileAttributes(path_);
  if (attributes != ov::kInvalidAttributes && (attributes & ov::kAttributeReadOnly)) {
    ov::SetFileAttributes(path_, attributes & ~ov::kAttributeReadOnly);
  }
  std::vector<uint8_t> bytes;
  SerializeTo(&bytes);
  return ov::WriteFileAtomically(path_, bytes.data(), bytes.size());
}

void UserOptions::ApplyDefaults() {
  for (int i = 0; i < kNumericCount; ++i) numeric_[i] = 0;
  numeric_[kHelpOnSlot] = 1;
  SaveOptionsLater(false);
}

bool UserOptions::LoadFromBytes(const uint8_t* data, size_t size) {
  bool ok = data && size >= 8 && size != 4 && ReadLe32(data) == kFormatWord;
  if (ok) {
    const uint32_t stored = ReadLe32(data + 4);
    ok = stored == Crc16CcittFalse(data + kHeaderBytes, size - kHeaderBytes);
  }
  if (ok && size < static_cast<size_t>(kHeaderBytes + kNumericBytes)) ok = false;
  if (ok) {
    uint32_t numeric[kNumericCount];
    for (int i = 0; i < kNumericCount; ++i) numeric[i] = ReadLe32(data + kHeaderBytes + 4 * i);
    // Strings are read in order; a string cut off by the end of the data
    // refuses the file but those read before it are kept.
    size_t pos = kHeaderBytes + kNumericBytes;
    for (int s = 0; s < kStringCount && ok; ++s) {
      std::u16string text;
      bool terminated = false;
      while (pos + 2 <= size) {
        const char16_t c = static_cast<char16_t>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        if (c == 0) {
          terminated = true;
          break;
        }
        text.push_back(c);
      }
      if (!terminated) {
        ok = false;
        break;
      }
      strings_[s] = ov::String(text);
    }
    if (ok) {
      for (int i = 0; i < kNumericCount; ++i) numeric_[i] = numeric[i];
    }
  }
  if (!ok) ApplyDefaults();
  strings_[kVersionSlot] = u"1.62";
  return ok;
}

bool UserOptions::LoadOptions() {
  std::vector<uint8_t> bytes;
  // A valid file is well below this; a larger one is refused unread.
  constexpr uint64_t kMaxOptionsFile = 1u << 20;
  if (!ov::ReadWholeFile(path_, &bytes, kMaxOptionsFile)) return LoadFromBytes(nullptr, 0);
  return LoadFromBytes(bytes.data(), bytes.size());
}

}  // namespace shell
