#pragma once
// The three process-wide packages: the media package "media.pak", the common
// package "vex_common.pak" and the skin package ("Vex_%d_%d.pak" or its
// fall-backs), and the process-ending hook of the shell.
//
// Thread: opened on the UI thread before workers start; read from any thread.

#include <functional>

#include "shell/pak_archive.h"

namespace shell {

PakArchive& MediaPackage();
PakArchive& CommonPackage();
PakArchive& SkinPackage();

// Hands the skin and common packages to the picture loader and the media
// package to the file readers.
void InstallPackages();

// Ends the process with the code. The shell's own fatal paths (a refused skin
// version, a missing checked image, ACTION_QUIT) come through here so that
// fuzz targets and tests can replace it; the replacement must not return.
[[noreturn]] void EndProcess(int code);
void SetEndProcessHook(std::function<void(int)> hook);

}  // namespace shell
