// Exports of libimageproc.so; the conversion families live in their own files.
