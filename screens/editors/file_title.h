#pragma once
// The title the editors show for a clip that has none of its own.

#include <algorithm>

#include "platform/os/ov_string.h"

namespace screens {

// The part of `path` between its last separator and its last '.' when both
// exist and the dot follows the separator; else the whole path, as stored.
inline ov::String FileTitle(const ov::String& path) {
  const int slash = std::max(path.ReverseFind(u'/'), path.ReverseFind(u'\\'));
  const int dot = path.ReverseFind(u'.');
  if (slash < 0 || dot < 0 || dot < slash) return path;
  return path.Mid(slash + 1, dot - slash - 1);
}

}  // namespace screens
