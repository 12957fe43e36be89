// Exports of libh263enc.so.
