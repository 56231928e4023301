// Runs the built `sentrel` program as a user would and captures what it says.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace sentrel::testing {

struct Outcome {
  int status;       // the exit status; -1 when it did not exit normally
  std::string out;  // stdout and stderr together
};

inline Outcome runSentrel(const std::string& args) {
  std::string command = std::string(SENTREL_CLI_PATH) + " " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {-1, ""};
  std::string out;
  std::array<char, 4096> buf;
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) out.append(buf.data(), n);
  int raw = ::pclose(pipe);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
}

}  // namespace sentrel::testing
