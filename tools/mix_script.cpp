#include "tools/mix_script.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/picture565.h"
#include "platform/os/file.h"

namespace tools {
namespace {

// A line is refused when a number does not fit its field: stored as given,
// it would come back as another time, channel or value.
bool ParseLine(const std::string& line, engine::EngineCommand* c) {
  std::istringstream in(line);
  std::string verb;
  long long time = 0;
  if (!(in >> time >> verb) || time < 0 || time > UINT32_MAX) return false;
  c->timeMs = static_cast<uint32_t>(time);
  long long ch = 0;
  bool fits = true;
  // An optional word: absent leaves the field as it is.
  auto word = [&](int32_t* out) {
    if (!(in >> std::ws) || in.eof()) return;
    long long v = 0;
    // Not a number, one beyond 64 bits or one beyond the field's 32.
    if (!(in >> v) || v < INT32_MIN || v > INT32_MAX) {
      fits = false;
      return;
    }
    *out = static_cast<int32_t>(v);
  };
  if (verb == "master") {
    c->type = engine::CMD_MASTER_VOLUME;
    word(&c->param1);
    return fits;
  }
  if (!(in >> ch) || ch < 0 || ch > UINT32_MAX) return false;
  c->channel = static_cast<uint32_t>(ch);
  if (verb == "load" || verb == "linked") {
    // "linked": a video's pictures whose sound plays on the audio channel
    // given next, started and stopped with the pictures (as the mixer loads
    // a video with sound).
    std::string path;
    if (!(in >> path)) return false;
    c->type = engine::CMD_LOAD;
    c->path = ov::String::FromUtf8Lossy(path);
    c->param1 = -1;
    if (verb == "linked") {
      long long audio = -1;
      if (!(in >> audio) || audio < 0 || audio >= engine::kAudioChannels) return false;
      c->param1 = static_cast<int32_t>(audio);
    }
    word(&c->param2);
    word(&c->param3);
    word(&c->param4);
  } else if (verb == "play") {
    c->type = engine::CMD_PLAY;
  } else if (verb == "pause") {
    c->type = engine::CMD_PAUSE;
  } else if (verb == "stop") {
    c->type = engine::CMD_STOP;
  } else if (verb == "restart") {
    c->type = engine::CMD_RESTART;
  } else if (verb == "loop" || verb == "noloop") {
    c->type = engine::CMD_SET_LOOP;
    c->flag = verb == "noloop";
  } else if (verb == "seek") {
    c->type = engine::CMD_SEEK;
    word(&c->param1);
  } else if (verb == "volume") {
    c->type = engine::CMD_VOLUME;
    word(&c->param1);
  } else if (verb == "rate") {
    c->type = engine::CMD_SET_RATE;
    word(&c->param1);
  } else if (verb == "echo" || verb == "echo-off") {
    c->type = engine::CMD_ECHO;
    c->flag = verb == "echo-off";
    word(&c->param1);
  } else if (verb == "chorus" || verb == "chorus-off") {
    c->type = engine::CMD_CHORUS;
    c->flag = verb == "chorus-off";
    word(&c->param1);
  } else if (verb == "hold") {
    c->type = engine::CMD_SET_HOLD;
  } else if (verb == "zorder") {
    c->type = engine::CMD_SET_ZORDER;
    word(&c->param1);
  } else if (verb == "slide" || verb == "blind" || verb == "fade" || verb == "sweep") {
    c->type = verb == "slide" ? engine::CMD_SLIDE
              : verb == "blind" ? engine::CMD_BLIND
              : verb == "fade"  ? engine::CMD_FADE
                                : engine::CMD_SWEEP;
    word(&c->param1);
    word(&c->param2);
  } else if (verb == "zoom" || verb == "panzoom") {
    c->type = verb == "zoom" ? engine::CMD_ZOOM : engine::CMD_PAN_ZOOM;
    word(&c->param1);
    unsigned long long a = 0, b = 0;
    if (in >> std::hex >> a >> b) {
      if (a > UINT32_MAX || b > UINT32_MAX) fits = false;
      c->param2 = static_cast<int32_t>(a);
      c->param3 = static_cast<int32_t>(b);
    }
  } else if (verb == "filter") {
    c->type = engine::CMD_COLOUR_FILTER;
    word(&c->param1);
  } else if (verb == "effect" || verb == "overlay") {
    // PATH [CACHE]: the recorded source and the cache a replay takes in
    // its place. An overlay's key colour is the mixer's, magenta, unless a
    // KEY (hexadecimal 0x00BBGGRR) follows.
    std::string path, cache;
    if (!(in >> path)) return false;
    c->type = verb == "effect" ? engine::CMD_FILE_EFFECT : engine::CMD_LOAD_IMAGE;
    c->path = ov::String::FromUtf8Lossy(path);
    if (in >> cache && cache != "-") c->altPath = ov::String::FromUtf8Lossy(cache);
    if (verb == "overlay") {
      unsigned long long key = engine::kKeyColour;
      if (!(in >> std::ws).eof() && (!(in >> std::hex >> key) || key > 0xFFFFFF)) fits = false;
      c->param1 = static_cast<int32_t>(key);
    }
  } else if (verb == "reverb" || verb == "reverb-off") {
    c->type = engine::CMD_REVERB;
    c->flag = verb == "reverb-off";
    word(&c->param1);
    word(&c->param2);
    word(&c->param3);
    word(&c->param4);
  } else {
    return false;
  }
  return fits;
}

}  // namespace

bool ReadMixScript(const std::string& path, std::vector<engine::EngineCommand>* commands, std::string* error) {
  const ov::String p = ov::String::FromUtf8Lossy(path);
  ov::FindData info;
  // Asked before opening: a FIFO without a writer would block the open, a
  // folder would read as an empty script.
  if (ov::FolderExists(p)) {
    *error = path + ": a folder, not a script";
    return false;
  }
  if (!ov::IsRegularFile(p) || !ov::GetFileInfo(p, &info)) {
    *error = path + (ov::FileExists(p) ? ": not a regular file (a FIFO, socket or device)" : ": no such file");
    return false;
  }
  if (info.size > kMaxScriptBytes) {
    *error = path + ": " + std::to_string(info.size) + " bytes, more than a script's " +
             std::to_string(kMaxScriptBytes);
    return false;
  }
  std::ifstream script(path);
  if (!script) {
    *error = "cannot read " + path;
    return false;
  }
  return ParseMixScript(script, commands, error);
}

bool ParseMixScript(std::istream& script, std::vector<engine::EngineCommand>* commands, std::string* error) {
  std::string line;
  size_t total = 0;
  for (int n = 1;; ++n) {
    // One line, read no further than its bound.
    line.clear();
    bool ended = false, any = false;
    for (int c; (c = script.get()) != std::char_traits<char>::eof();) {
      any = true;
      if (++total > kMaxScriptBytes) {
        *error = "the script is longer than " + std::to_string(kMaxScriptBytes) + " bytes";
        return false;
      }
      if (c == '\n') {
        ended = true;
        break;
      }
      if (line.size() == kMaxScriptLineBytes) {
        *error = "line " + std::to_string(n) + " is longer than " + std::to_string(kMaxScriptLineBytes) + " bytes";
        return false;
      }
      line.push_back(static_cast<char>(c));
    }
    if (!any) break;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    if (line.find_first_not_of(" \t\r") != std::string::npos) {
      engine::EngineCommand c;
      if (!ParseLine(line, &c)) {
        *error = "line " + std::to_string(n) + " not understood: " + line;
        return false;
      }
      commands->push_back(c);
    }
    if (!ended) break;
  }
  return true;
}

}  // namespace tools
