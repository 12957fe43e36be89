// Shared encoder modules: bit writers, transforms, VLC coding, motion estimation,
// rate control and reference frames, used by mpeg4enc and h263enc.
