#pragma once
// A stand-in for the live player that records the commands the mixer posts,
// keeping the very records (so a mark set after posting shows), and answers
// the loaded and playing queries from sets the test fills.

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <set>
#include <vector>

#include "engine/engine_command.h"
#include "engine/mix_calls.h"

namespace ovtest {

// The words of a posted command that a table compares.
struct Cmd {
  uint32_t type;
  uint32_t channel;
  int32_t p1 = 0, p2 = 0, p3 = 0, p4 = 0, p5 = 0;
  uint32_t flag = 0;
  bool operator==(const Cmd&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Cmd& c) {
  return os << "{" << c.type << " on " << c.channel << ": " << c.p1 << "," << c.p2 << "," << c.p3 << "," << c.p4
            << "," << c.p5 << " flag " << c.flag << "}";
}

class RecordingCalls : public engine::MixCalls {
 public:
  void PostAction(std::unique_ptr<engine::EngineCommand> command) override { posted.push_back(std::move(command)); }
  int Play() override {
    playing = true;
    return 1;
  }
  int StopAllChannels() override {
    posted_at_stop = posted.size();
    playing = false;
    return 1;
  }
  void ClearActions() override { posted.clear(); }
  bool IsPlaying() override { return playing; }
  bool IsChannelLoaded(uint32_t stream) override { return loaded.count(stream) != 0; }
  bool IsChannelPlaying(uint32_t stream) override { return playing_streams.count(stream) != 0; }
  uint32_t TempoWord(int entry) override { return entry >= 0 && entry < 16 ? tempo[size_t(entry)] : 0; }
  void SetTempoWord(int entry, uint32_t bpm) override {
    if (entry >= 0 && entry < 16) tempo[size_t(entry)] = bpm;
  }
  uint32_t AverageTempo() override { return average; }
  void SetBeatMatch(const void* t, uint32_t a) override {
    table = t;
    average = a;
  }

  std::vector<Cmd> Commands() const {
    std::vector<Cmd> out;
    for (const auto& c : posted) {
      out.push_back({c->type, c->channel, c->param1, c->param2, c->param3, c->param4, c->param5, c->flag});
    }
    return out;
  }
  // The commands posted from `from` on.
  std::vector<Cmd> CommandsSince(size_t from) const {
    std::vector<Cmd> all = Commands();
    return std::vector<Cmd>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
  }

  std::vector<std::unique_ptr<engine::EngineCommand>> posted;
  size_t posted_at_stop = 0;
  bool playing = false;
  std::set<uint32_t> loaded, playing_streams;
  std::array<uint32_t, 16> tempo{};
  uint32_t average = 0;
  const void* table = nullptr;
};

}  // namespace ovtest
