#include "shell/packages.h"

#include <cstdlib>
#include <cstring>

#include "media/media_package.h"
#include "platform/picture/picture.h"

namespace shell {
namespace {

// The picture loader's view of a package.
class PictureAdapter : public picture::PictureArchive {
 public:
  explicit PictureAdapter(PakArchive* pak) : pak_(pak) {}
  bool ReadEntry(const ov::String& path, std::vector<uint8_t>* bytes) override {
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> data = pak_->ReadEntry(path, &size);
    if (!data) return false;
    bytes->assign(data.get(), data.get() + size);
    return true;
  }

 private:
  PakArchive* pak_;
};

std::function<void(int)>& Hook() {
  static std::function<void(int)> hook;
  return hook;
}

}  // namespace

PakArchive& MediaPackage() {
  static PakArchive pak;
  return pak;
}

PakArchive& CommonPackage() {
  static PakArchive pak;
  return pak;
}

PakArchive& SkinPackage() {
  static PakArchive pak;
  return pak;
}

void InstallPackages() {
  static PictureAdapter skin(&SkinPackage());
  static PictureAdapter common(&CommonPackage());
  picture::SetPictureArchives(&skin, &common);
  media::SetMediaPackage(&MediaPackage());
}

void EndProcess(int code) {
  if (Hook()) Hook()(code);
  std::exit(code);
}

void SetEndProcessHook(std::function<void(int)> hook) { Hook() = std::move(hook); }

}  // namespace shell
