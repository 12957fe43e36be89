#pragma once
// Files this process made for another program (a rendered movie handed to
// the messaging program) and deletes once that program is done with them:
// each is deleted when its owner says so (the next activation of the
// window, or the program it went to having ended), and every one still
// here is deleted when this process ends, whichever way it ends (a return
// from main or std::exit).
//
// Thread: any; the list is guarded by one lock.

#include <cstdint>
#include <vector>

#include "platform/os/ov_string.h"

namespace ov {

// Keeps `path` for deletion; the answer names this hand-over. The same path
// handed over twice is kept twice: each ticket deletes it once.
uint64_t AddPendingDelete(const String& path);
// Deletes the file of `ticket` when it is still kept; nothing when an
// earlier deletion already took it (its name may since have been reused).
void DeletePending(uint64_t ticket);
// Deletes every kept file; those whose deletion fails (other than a file
// already gone) stay kept. True when none stays.
bool DeleteAllPending();
// The kept paths, oldest first.
std::vector<String> PendingDeletes();

}  // namespace ov
