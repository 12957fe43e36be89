// Entry of the program. The interactive start and the windowless render mode
// are chosen from the command line.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argv;
  if (argc > 1) {
    // Render mode: a second instance started with -p, -o and -e.
    std::fprintf(stderr, "ovmix: render mode is not available in this build\n");
    return 0;
  }
  std::printf("ovmix 0.1\n");
  return 0;
}
