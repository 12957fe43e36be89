#pragma once
// What the two encoding-graph export jobs share: finding and loading the
// plug-ins, the steering events and the wait loop that runs while the graph
// encodes.
//
// Thread: the render process's main thread.

#include <cstdint>

#include "engine/export_settings.h"
#include "platform/os/ov_string.h"

namespace engine {

class ExportJob;

// Where the plug-ins are looked for: the program's folder + "../lib/", then
// the program's folder itself. The first folder holding a framesource that
// loads, with its '/' ("" when none does).
ov::String FindPluginFolder(const ov::String& application_folder);

// Loads framesource from folder and calls Initialize and DllRegisterServer
// in the order the job needs; false on any failure. Plug-ins stay loaded
// until the process ends, as the class table keeps the libraries it loads
// (their registration state lives in them). *delivered, when given, gets the
// plug-in's GetDeliveredTime (null when it has none).
bool LoadFramesource(const ov::String& folder, const ExportSettings& settings, bool register_first,
                     int (**delivered)() = nullptr);

// Registers codecdmo from folder when the class table lacks one of the
// classes or names another file for it. False when that fails.
bool RegisterCodecdmo(const ov::String& folder);

// The lowest MPEG-4 Simple Profile level whose limits hold the picture, its
// macroblock rate and the bit rate (10 is level 0b); 0 (the object chooses)
// when none does.
int32_t Mpeg4LevelFor(uint32_t width, uint32_t height, uint32_t fps, uint32_t bit_rate);

// The AMR-NB mode rate for a requested bit rate (the next one down).
int32_t AmrRateFor(uint32_t bit_rate);

// How the wait ended.
enum class WaitOutcome { kDone, kFailed, kCancelled, kDiskFull };

// The graph's completion as the wait loop reads it: the event code, 0 while
// it runs.
class GraphCompletion {
 public:
  virtual ~GraphCompletion() = default;
  virtual int32_t Poll(int32_t timeout_ms) = 0;
};

// The five named events of a render, created and reset.
class EncodingEvents {
 public:
  EncodingEvents();
  ~EncodingEvents();
  EncodingEvents(const EncodingEvents&) = delete;
  EncodingEvents& operator=(const EncodingEvents&) = delete;

  // Why an event could not be made (0 when all five were): a render without
  // them could be neither steered nor told that its source is done.
  uint32_t error() const;

  // Waits until the graph is done, fails, the render is cancelled or the
  // output's disk fills; a pause holds the job until Restart or Cancel. Each
  // time-out checks the disk, the graph's completion (an abort fails) and,
  // with check_failed, the job's failed flag. After the done event the graph
  // is asked for its completion one time-out at a time, never without
  // bound, and the events, the disk and the job are still watched.
  WaitOutcome Wait(ExportJob* job, GraphCompletion* graph, bool check_failed, uint32_t timeout_ms = 1000);

 private:
  struct Impl;
  Impl* impl_;
};

// Fewer than 100 bytes free on the volume of path (*error, when given,
// becomes ov::kErrorDiskFull), or the file at path as large as the process
// may write one (ov::kErrorFileTooLarge).
bool DiskFull(const ov::String& path, uint32_t* error = nullptr);

}  // namespace engine
