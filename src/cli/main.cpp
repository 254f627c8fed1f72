#include <csignal>

#include "cli/cli_app.hpp"

int main(int argc, char** argv) {
  // A file that reaches the size limit fails its write (EFBIG) and is
  // reported like a full disk, instead of the signal ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  return tess::run_cli(argc, argv);
}
