#include "cli.h"

int main(int argc, char** argv) {
  CLI::App app{"sentrel: drive health from SMART data"};
  sentrel::cli::Context ctx;
  CLI11_PARSE(app, argc, argv);
  return 0;
}
