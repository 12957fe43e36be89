#include "screens/project/project_file.h"

#include "engine/export_settings.h"
#include "screens/project/channel_block.h"
#include "engine/engine_command.h"
#include "screens/project/record_reader.h"

namespace screens {

const std::array<const char16_t*, kOutputSettingCount> kOutputSettingKeys = {
    u"WizardSetting",   u"WizardMediaType", u"WizardMediaSize",      u"WizardMediaLength",   u"WizardMediaCodec",
    u"WizardMediaFps",  u"WizardMediaAudioRate", u"WizardMediaDimension", u"WizardMediaBps"};

const std::array<OutputSetting, kOutputSettingCount> kFileOrder = {
    kWizardSetting,  kWizardMediaType,      kWizardMediaSize, kWizardMediaLength,   kWizardMediaCodec,
    kWizardMediaFps, kWizardMediaDimension, kWizardMediaBps,  kWizardMediaAudioRate};

OutputSettings DefaultOutputSettings() {
  OutputSettings s{};
  s[kWizardMediaCodec] = engine::kCodecDefaults;
  return s;
}

void WriteProject(const OutputSettings& settings, std::span<ChannelSelection* const> channels,
                  std::span<const uint8_t> engine_record, std::vector<uint8_t>* out) {
  engine::PutU32(out, kProjectVersion);
  for (OutputSetting s : kFileOrder) PutI32(out, settings[s]);
  // A table entry without a channel element stores an empty channel, so
  // that the file keeps one block per entry.
  const ChannelSelection empty;
  for (ChannelSelection* ch : channels) SaveChannel(ch ? *ch : empty, out);
  out->insert(out->end(), engine_record.begin(), engine_record.end());
}

bool ReadProject(std::span<const uint8_t> data, bool keep_caches, MixProject* out, ProjectReadError* error) {
  auto refuse = [&](ProjectReadError::Kind kind, ov::String text) {
    if (error) {
      error->kind = kind;
      error->text = std::move(text);
    }
    return false;
  };
  RecordReader in(data);
  uint32_t version = 0;
  if (!in.ReadU32(&version) || in.left() < 4u * kOutputSettingCount) {
    return refuse(ProjectReadError::Kind::kDamaged, u"the project is cut short");
  }
  if (version != kProjectVersion) {
    return refuse(ProjectReadError::Kind::kVersion,
                  ov::String::Format(u"the project is of version %u, not %u", version, kProjectVersion));
  }
  for (OutputSetting s : kFileOrder) in.ReadI32(&out->settings[s]);
  // A failed block refuses the project: behind it the position in the file
  // means nothing any more.
  for (ChannelSelection& ch : out->channels) {
    ov::String missing;
    if (LoadChannel(&ch, &in, keep_caches, &missing)) continue;
    if (missing.IsEmpty()) return refuse(ProjectReadError::Kind::kDamaged, u"the project's channels are damaged");
    if (error) error->missing = missing;
    return refuse(ProjectReadError::Kind::kMissingClip, u"a clip of the project is missing: " + missing);
  }
  // The record ends the file: bytes left behind it (a cut flag trailer)
  // mean a damaged file.
  size_t consumed = 0;
  out->actions.Clear();
  if (!out->actions.Parse(in.rest(), &consumed) || consumed != in.left()) {
    return refuse(ProjectReadError::Kind::kDamaged, u"the project's recorded mix is damaged");
  }
  if (error) *error = ProjectReadError();
  return true;
}

}  // namespace screens
