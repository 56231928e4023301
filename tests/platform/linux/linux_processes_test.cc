// The child-process runner on this machine, for real.
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/linux_system.h"

namespace sentrel::platform {
namespace {

int openDescriptors() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  while (const dirent* e = ::readdir(dir)) count += e->d_name[0] != '.';
  ::closedir(dir);
  return count;
}

// True when no child of this process has ended without being reaped.
bool noZombie() {
  int status;
  return ::waitpid(-1, &status, WNOHANG) <= 0;
}

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
      {"echo", {}, std::nullopt},
      {"", {}, std::nullopt},
      {plain, {}, std::nullopt},  // there, but may not be run
      {"/tmp", {}, std::nullopt},
  };
  LinuxProcesses p;
  for (const Case& c : cases) EXPECT_TRUE(p.run(c.tool, c.arguments) == c.out) << c.tool;
  ::unsetenv("SENTREL_TEST_SECRET");
  ::unlink(plain);
}

TEST(LinuxProcessesTest, LeavesNoDescriptorAndNoZombieBehind) {
  LinuxProcesses p;
  int before = openDescriptors();
  for (int i = 0; i < 20; ++i) {
    p.run("/bin/echo", {"x"});
    p.run("/nonexistent/tool", {});
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_TRUE(noZombie());
}

TEST(LinuxProcessesTest, TheChildGetsOnlyTheStandardStreams) {
  // A descriptor the host left inheritable must not reach the child either.
  int inheritable = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(inheritable, 0);
  LinuxProcesses p;
  auto out = p.run("/bin/ls", {"/proc/self/fd"});
  ::close(inheritable);
  ASSERT_TRUE(out);
  // 0, 1, 2 and the descriptor ls opens to read the folder.
  EXPECT_EQ(*out, "0\n1\n2\n3\n");
}

}  // namespace
}  // namespace sentrel::platform
