#pragma once
// The program's folders and the storage cards.
//
// - application folder: the folder of the running executable (skins,
//   "media.pak", plug-ins); read-only once installed.
// - data folder: $XDG_DATA_HOME/ovmix, default ~/.local/share/ovmix; what the
//   program writes for itself (options, rotation state, registry file).
// - temporary path: $TMPDIR, default /tmp.
// - temporary folder: the storage card with the largest capacity +
//   "/Quelvarin/", else the temporary path + "Quelvarin/".
// - documents folder: $OVMIX_DOCUMENTS, else $HOME.
//
// Storage cards are the mount points listed in $OVMIX_CARDS (colon-separated,
// in that order; set but empty means no cards), else the mounted volumes under
// /media/$USER and then /run/media/$USER (each in name order). A card's name
// is its mount point's absolute path, so a card's folder is name + "/...".
//
// Thread: any thread.

#include <cstdint>
#include <vector>

#include "platform/os/ov_string.h"

namespace ov {

// Full path of the running executable (to start the program again).
String ExecutablePath();
// Folder of the executable, ending with '/'.
String ApplicationFolder();
// The data folder, ending with '/'; created when missing (creation failures
// show in later file calls).
String DataFolder();
// The system temporary path, ending with '/'.
String TempPath();
// The program's temporary folder, ending with '/' (not created here).
String TempFolder();
// The documents folder, without a trailing '/'.
String DocumentsFolder();

struct StorageCard {
  String name;             // mount point (absolute path); may be empty
  uint64_t total_bytes;    // capacity, 0 when it cannot be read
  uint64_t free_bytes;     // bytes free for the caller
};

// The storage cards in enumeration order, with their capacities.
std::vector<StorageCard> EnumerateStorageCards();

// Space on the volume holding path. Any output may be null. False (last error
// 3) when the path does not exist.
bool GetDiskFreeSpace(const String& path, uint64_t* free_to_caller, uint64_t* total_bytes, uint64_t* total_free);

// Picks a card from cards: index -1 takes the card with the largest total
// capacity, at least 4096 bytes, the later card winning a tie; index k takes
// the card at position k. A card whose name is empty, or whose last path
// component is exactly "Bluetooth", is never taken but keeps its position. No
// card, or an empty name on the first card, takes none. Returns the position
// taken or -1.
int ChooseStorageCard(const std::vector<StorageCard>& cards, int index);

// The name of the card that ChooseStorageCard takes among the enumerated
// cards; false when none qualifies.
bool FindStorageCard(String* name, int index);

// Deletes every file of the temporary folder; sub-folders are neither entered
// nor removed, and failures are ignored.
void CleanTempFolder();

}  // namespace ov
