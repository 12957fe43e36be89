#include "platform/os/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/os/environment.h"
#include "platform/os/file.h"
#include "platform/os/os_error.h"

namespace ov {

namespace {

String WithSlash(String folder) {
  if (folder.IsEmpty() || folder.At(folder.Length() - 1) != u'/') folder += u'/';
  return folder;
}

// The user's home folder or name from the password database; empty when it
// has no entry. getpwuid_r: the folders are asked from worker threads too
// (a decoder's temporary folder), and getpwuid's record is shared.
std::string PasswordField(bool home) {
  struct passwd record {};
  struct passwd* found = nullptr;
  std::string buffer(16384, '\0');
  if (::getpwuid_r(::getuid(), &record, buffer.data(), buffer.size(), &found) != 0 || !found) return std::string();
  const char* field = home ? found->pw_dir : found->pw_name;
  return field ? std::string(field) : std::string();
}

std::string HomeFolder() {
  if (auto home = GetEnvironmentValue("HOME"); home && !home->empty()) return *home;
  const std::string folder = PasswordField(true);
  return folder.empty() ? "/" : folder;
}

std::string UserName() {
  if (auto user = GetEnvironmentValue("USER"); user && !user->empty()) return *user;
  return PasswordField(false);
}

// Mounted volumes directly under folder, in name order: sub-folders whose
// device differs from the folder's.
void AddMountedVolumes(const std::string& folder, std::vector<String>* names) {
  struct stat parent;
  if (::stat(folder.c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode)) return;
  std::vector<String> found;
  for (const FindData& entry : ListFolder(String::FromUtf8Lossy(folder), u"*")) {
    if (!(entry.attributes & kAttributeDirectory)) continue;
    String path = JoinPath(String::FromUtf8Lossy(folder), entry.name);
    struct stat st;
    if (::stat(path.ToUtf8Lossy().c_str(), &st) == 0 && st.st_dev != parent.st_dev) found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  names->insert(names->end(), found.begin(), found.end());
}

std::vector<String> StorageCardNames() {
  std::vector<String> names;
  if (auto list = GetEnvironmentValue("OVMIX_CARDS")) {
    if (list->empty()) return names;
    size_t start = 0;
    for (;;) {
      size_t colon = list->find(':', start);
      names.push_back(String::FromUtf8Lossy(list->substr(start, colon - start)));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    return names;
  }
  std::string user = UserName();
  if (user.empty()) return names;
  AddMountedVolumes("/media/" + user, &names);
  AddMountedVolumes("/run/media/" + user, &names);
  return names;
}

bool Skipped(const String& name) { return name.IsEmpty() || FileNameOf(name) == u"Bluetooth"; }

}  // namespace

String ExecutablePath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(buffer)) return String();
  return String::FromUtf8Lossy(std::string(buffer, static_cast<size_t>(n)));
}

String ApplicationFolder() {
  String folder = FolderOf(ExecutablePath());
  return folder.IsEmpty() ? String(u"./") : folder;
}

String DataFolder() {
  std::string base;
  auto xdg = GetEnvironmentValue("XDG_DATA_HOME");
  // The XDG rules ignore a relative value.
  if (xdg && !xdg->empty() && (*xdg)[0] == '/') base = *xdg;
  else base = HomeFolder() + "/.local/share";
  String folder = JoinPath(String::FromUtf8Lossy(base), u"ovmix");
  uint32_t saved = GetLastError();
  CreateFolderTree(folder);
  SetLastError(saved);
  return WithSlash(folder);
}

String TempPath() {
  auto tmp = GetEnvironmentValue("TMPDIR");
  return WithSlash(String::FromUtf8Lossy(tmp && !tmp->empty() ? *tmp : std::string("/tmp")));
}

String TempFolder() {
  String card;
  if (FindStorageCard(&card, -1)) return WithSlash(card) + u"Quelvarin/";
  return TempPath() + u"Quelvarin/";
}

String DocumentsFolder() {
  auto documents = GetEnvironmentValue("OVMIX_DOCUMENTS");
  String folder = String::FromUtf8Lossy(documents && !documents->empty() ? *documents : HomeFolder());
  while (folder.Length() > 1 && folder.At(folder.Length() - 1) == u'/') folder = folder.Left(folder.Length() - 1);
  return folder;
}

bool GetDiskFreeSpace(const String& path, uint64_t* free_to_caller, uint64_t* total_bytes, uint64_t* total_free) {
  std::string native;
  if (!path.ToUtf8(&native)) {
    SetLastError(kErrorInvalidName);
    return false;
  }
  struct statvfs vfs;
  if (native.empty() || ::statvfs(native.c_str(), &vfs) != 0) {
    SetLastError(native.empty() || errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : ErrorFromErrno(errno));
    return false;
  }
  uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  if (free_to_caller) *free_to_caller = static_cast<uint64_t>(vfs.f_bavail) * unit;
  if (total_bytes) *total_bytes = static_cast<uint64_t>(vfs.f_blocks) * unit;
  if (total_free) *total_free = static_cast<uint64_t>(vfs.f_bfree) * unit;
  return true;
}

std::vector<StorageCard> EnumerateStorageCards() {
  std::vector<StorageCard> cards;
  for (const String& name : StorageCardNames()) {
    StorageCard card{name, 0, 0};
    if (!name.IsEmpty()) GetDiskFreeSpace(name, &card.free_bytes, &card.total_bytes, nullptr);
    cards.push_back(card);
  }
  return cards;
}

int ChooseStorageCard(const std::vector<StorageCard>& cards, int index) {
  if (cards.empty() || cards[0].name.IsEmpty()) return -1;
  if (index >= 0) {
    if (static_cast<size_t>(index) >= cards.size() || Skipped(cards[static_cast<size_t>(index)].name)) return -1;
    return index;
  }
  // A card must hold more than a token amount to be a temporary folder; among
  // the rest the largest wins, the later one on a tie.
  uint64_t best_capacity = 4096;
  int best = -1;
  for (size_t i = 0; i < cards.size(); ++i) {
    if (Skipped(cards[i].name)) continue;
    if (cards[i].total_bytes >= best_capacity) {
      best_capacity = cards[i].total_bytes;
      best = static_cast<int>(i);
    }
  }
  return best;
}

bool FindStorageCard(String* name, int index) {
  std::vector<StorageCard> cards = EnumerateStorageCards();
  int chosen = ChooseStorageCard(cards, index);
  if (chosen < 0) return false;
  *name = cards[static_cast<size_t>(chosen)].name;
  return true;
}

void CleanTempFolder() {
  String folder = TempFolder();
  for (const FindData& entry : ListFolder(folder, u"*")) {
    if (entry.attributes & kAttributeDirectory) continue;
    DeleteFile(folder + entry.name);
  }
}

}  // namespace ov
