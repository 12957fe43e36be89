// ovtool catalog ROOT [--sort name|date] [--kind N] [--date MODE [START END]]
//                     [--now SECONDS] [--thumbnails]: scans ROOT as the media
// browser does and prints each visible record (local date and time, kind,
// file type name, path), then the four counts and the checksum. MODE is the
// date mode number (0 today ... 5 all, 6 the range START..END in seconds
// since 1970, both included); --now sets the clock the date filters read.
// --thumbnails also builds every visible record's 64 x 48 thumbnail as the
// browser's rows do and prints how many were built and how many are broken.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/os/file.h"
#include "platform/os/system_time.h"
#include "screens/browsers/media_catalogue.h"
#include "tools/tool_command.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: ovtool catalog ROOT [--sort name|date] [--kind N] [--date MODE [START END]] "
               "[--now SECONDS] [--thumbnails]\n");
  return 2;
}

int RunCatalog(int argc, char** argv) {
  if (argc < 2) return Usage();
  const ov::String root = ov::String::FromUtf8Lossy(argv[1]);
  const uint32_t a = ov::GetFileAttributes(root);
  if (a == ov::kInvalidAttributes || !(a & ov::kAttributeDirectory)) {
    std::fprintf(stderr, "catalog: %s: not a folder\n", argv[1]);
    return 1;
  }
  screens::MediaCatalogue catalogue;
  catalogue.LookUpSpecialFolders();
  catalogue.set_root(root);
  bool thumbnails = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--thumbnails") {
      thumbnails = true;
    } else if (arg == "--sort" && i + 1 < argc) {
      catalogue.set_sort_by_name(std::strcmp(argv[++i], "date") == 0 ? 0 : 1);
    } else if (arg == "--kind" && i + 1 < argc) {
      catalogue.set_kind_filter(std::atoi(argv[++i]));
    } else if (arg == "--date" && i + 1 < argc) {
      const int mode = std::atoi(argv[++i]);
      if (mode == screens::kDateRange) {
        if (i + 2 >= argc) return Usage();
        const int64_t start = std::atoll(argv[i + 1]), end = std::atoll(argv[i + 2]);
        i += 2;
        catalogue.SetDateMode(mode, start, end);
      } else {
        catalogue.SetDateMode(mode);
      }
    } else if (arg == "--now" && i + 1 < argc) {
      ov::SetLocalTimeForTesting(std::atoll(argv[++i]));
    } else {
      return Usage();
    }
  }
  catalogue.Rebuild();
  screens::MediaCatalogue::Position p = catalogue.records().begin();
  int built = 0, broken = 0;
  for (;;) {
    const screens::MediaCatalogue::Position found = catalogue.NextVisible(&p);
    if (found == catalogue.None()) break;
    screens::MediaFileRecord& r = *found;
    if (thumbnails) {
      built += screens::BuildThumbnail(&r, screens::ThumbnailSpec()) ? 1 : 0;
      broken += r.broken;
    }
    const ov::SystemTime& t = r.localTime;
    std::printf("%04u-%02u-%02u %02u:%02u:%02u %d %s %s\n", t.year, t.month, t.day, t.hour, t.minute, t.second,
                r.kind, ov::String(screens::FileTypeName(r.fileType)).ToUtf8Lossy().c_str(),
                r.Path().ToUtf8Lossy().c_str());
  }
  std::printf("counts audio %d image %d video %d project %d\n", catalogue.count(1), catalogue.count(2),
              catalogue.count(3), catalogue.count(4));
  std::printf("checksum %08x\n", catalogue.checksum());
  if (thumbnails) std::printf("thumbnails %d broken %d\n", built, broken);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(catalog, "catalog ROOT [--sort name|date] [--kind N] [--date MODE [START END]] [--now S] [--thumbnails]  list media",
               RunCatalog)
