// Entry of the program.
#include "shell/app.h"

int main(int argc, char** argv) { return shell::WinMain(argc, argv); }
