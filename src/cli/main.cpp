#include "cli/cli_app.hpp"

int main(int argc, char** argv) { return tess::run_cli(argc, argv); }
