// Exports of libmpeg4enc.so.
