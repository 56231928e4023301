// The child-process runner on this machine, for real.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/linux_system.h"

namespace sentrel::platform {
namespace {

// Arguments as they are, without a shell; an empty environment; output read
// to its end; the exit status not looked at; nothing from a tool that
// cannot be started.
TEST(LinuxProcessesTest, WhatAToolPrints) {
  char plain[] = "/tmp/sentrel-not-a-tool-XXXXXX";
  const int fd = ::mkstemp(plain);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ASSERT_EQ(::setenv("SENTREL_TEST_SECRET", "leaked", 1), 0);
  struct Case {
    std::string tool;
    std::vector<std::string> arguments;
    std::optional<std::string> out;
  } cases[] = {
      {"/bin/echo", {"a  b", "$HOME", "*", "`id`;", ""}, "a  b $HOME * `id`; \n"},
      {"/usr/bin/env", {}, ""},
      {"/usr/bin/head", {"-c", "3000000", "/dev/zero"}, std::string(3000000, '\0')},
      {"/bin/sh", {"-c", "echo partial; exit 3"}, "partial\n"},
      {"/nonexistent/tool", {}, std::nullopt},
      {plain, {}, std::nullopt},  // there, but may not be run
  };
  LinuxProcesses p;
  for (const Case& c : cases) EXPECT_TRUE(p.run(c.tool, c.arguments) == c.out) << c.tool;
  ::unsetenv("SENTREL_TEST_SECRET");
  ::unlink(plain);
}

// The child gets only the standard streams, even a descriptor the host left
// inheritable, and the runs leave no descriptor and no zombie behind.
TEST(LinuxProcessesTest, TheChildGetsOnlyTheStandardStreamsAndIsReaped) {
  const int inheritable = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(inheritable, 0);
  const auto descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  LinuxProcesses p;
  const auto before = descriptors();
  for (int i = 0; i < 20; ++i) p.run("/nonexistent/tool", {});
  // 0, 1, 2 and the descriptor ls opens to read the folder.
  EXPECT_EQ(p.run("/bin/ls", {"/proc/self/fd"}), "0\n1\n2\n3\n");
  EXPECT_EQ(descriptors(), before);
  ::close(inheritable);
  int status;
  EXPECT_LE(::waitpid(-1, &status, WNOHANG), 0);
}

}  // namespace
}  // namespace sentrel::platform
