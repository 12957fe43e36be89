#pragma once
// FitRect: the one aspect-ratio fit of the program. The picture helpers, the
// video mixer, the decode-to-cache jobs and the frame cache all size pictures
// with it, so a picture shows in the same proportions everywhere.

#include <cstdint>

namespace picture {

// The largest size of the source's proportions that fits the box; it always
// fills the box in one dimension (a small source is enlarged). The aspect is
// kept in hundredths (source width * 100 / source height, truncated), so a
// 2 x 3 source has aspect 66 and fits a 100 x 1000 box as 100 x 151. A zero
// source side counts as a 1 x 1 source. Sources more than 100 times taller
// than wide (aspect 0) are sized by exact cross-multiplication instead.
void FitRect(int32_t* width, int32_t* height, int32_t src_width, int32_t src_height, int32_t box_width,
             int32_t box_height);

// The thumbnail fit of the browsers: with full_width 0 exactly FitRect;
// otherwise the width is full_width (the screen's) and the height that of the
// source's proportions, whatever the box height.
void FitThumbnailRect(int32_t* width, int32_t* height, int32_t src_width, int32_t src_height, int32_t box_width,
                      int32_t box_height, int32_t full_width);

}  // namespace picture
