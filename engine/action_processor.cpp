#include "engine/action_processor.h"

#include "platform/os/debug_output.h"

namespace engine {

namespace {
// An engine record is read into memory whole; anything larger than this is
// not a record this program wrote (a live mix posts a few commands a second).
constexpr uint64_t kMaxRecordBytes = 64u << 20;
}  // namespace

void ActionProcessor::Append(std::unique_ptr<EngineCommand> command) {
  if (command) commands_.push_back(std::move(command));
}

void ActionProcessor::Clear() { commands_.clear(); }

const EngineCommand* ActionProcessor::GetNextAction(uint32_t timeMs, Position* position) const {
  if (!position) {
    ov::DebugOutput("ActionProcessor::GetNextAction startingpos = NULL !!!\r\n");
    return nullptr;
  }
  if (!position->atStart && timeMs == 0) {
    if (position->index >= commands_.size()) return nullptr;
    return commands_[position->index++].get();
  }
  size_t from = position->atStart ? 0 : position->index;
  size_t best = commands_.size();
  for (size_t i = from; i < commands_.size(); ++i) {
    uint32_t t = commands_[i]->timeMs;
    if (t >= timeMs && (best == commands_.size() || t < commands_[best]->timeMs)) best = i;
  }
  if (best == commands_.size()) return nullptr;
  position->atStart = false;
  position->index = best + 1;
  return commands_[best].get();
}

uint32_t ActionProcessor::GetDuration() const {
  if (commands_.empty()) return 0;
  // A list appended out of time order must not give a wrapped, huge length.
  uint32_t first = commands_.front()->timeMs, last = commands_.back()->timeMs;
  return last >= first ? last - first : 0;
}

void ActionProcessor::Serialize(std::vector<uint8_t>* out) const {
  PutU32(out, static_cast<uint32_t>(commands_.size()));
  for (const auto& c : commands_) c->Write(out);
  PutU32(out, kFlagTrailerTag);
  PutU32(out, static_cast<uint32_t>(commands_.size()));
  for (const auto& c : commands_) out->push_back(static_cast<uint8_t>(c->flag));
}

bool ActionProcessor::Parse(std::span<const uint8_t> data, size_t* consumed) {
  std::span<const uint8_t> rest = data;
  uint32_t count = 0;
  if (!GetU32(&rest, &count)) return false;
  // Every stored command takes at least kMinStoredBytes: a larger count
  // cannot be satisfied by the data and is refused before anything is built.
  if (count > rest.size() / EngineCommand::kMinStoredBytes) return false;
  std::vector<std::unique_ptr<EngineCommand>> read;
  read.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    auto c = std::make_unique<EngineCommand>();
    if (!c->Read(&rest) || c->timeMs > kMaxMixMs) return false;
    read.push_back(std::move(c));
  }
  // The flag trailer, when it is there and matches this record.
  std::span<const uint8_t> trailer = rest;
  uint32_t tag = 0, flags = 0;
  if (GetU32(&trailer, &tag) && tag == kFlagTrailerTag && GetU32(&trailer, &flags) && flags == count &&
      trailer.size() >= count) {
    for (uint32_t i = 0; i < count; ++i) read[i]->flag = trailer[i];
    rest = trailer.subspan(count);
  }
  for (auto& c : read) commands_.push_back(std::move(c));
  if (consumed) *consumed = data.size() - rest.size();
  return true;
}

bool ActionProcessor::Save(ov::File& file) const {
  std::vector<uint8_t> bytes;
  Serialize(&bytes);
  uint32_t written = 0;
  return file.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) && written == bytes.size();
}

bool ActionProcessor::Load(ov::File& file) {
  uint64_t size = 0;
  uint64_t start = file.Position();
  if (!file.GetSize(&size) || size < start) return false;
  uint64_t left = size - start;
  if (left > kMaxRecordBytes) left = kMaxRecordBytes;
  std::vector<uint8_t> bytes(static_cast<size_t>(left));
  uint32_t got = 0;
  if (!bytes.empty() && (!file.Read(bytes.data(), static_cast<uint32_t>(bytes.size()), &got) || got != bytes.size()))
    return false;
  size_t consumed = 0;
  if (!Parse(bytes, &consumed)) {
    file.Seek(static_cast<int64_t>(start), ov::SeekFrom::kBegin);
    return false;
  }
  file.Seek(static_cast<int64_t>(start + consumed), ov::SeekFrom::kBegin);
  return true;
}

}  // namespace engine
