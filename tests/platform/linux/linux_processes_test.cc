// The child-process runner on this machine, for real.
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

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

TEST(LinuxProcessesTest, PassesArgumentsAsTheyAreWithoutAShell) {
  LinuxProcesses p;
  auto out = p.run("/bin/echo", {"a  b", "$HOME", "*", "`id`;", ""});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, "a  b $HOME * `id`; \n");
}

TEST(LinuxProcessesTest, TheChildGetsAnEmptyEnvironment) {
  ASSERT_EQ(::setenv("SENTREL_TEST_SECRET", "leaked", 1), 0);
  LinuxProcesses p;
  auto out = p.run("/usr/bin/env", {});
  ::unsetenv("SENTREL_TEST_SECRET");
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, "");
}

TEST(LinuxProcessesTest, ReadsLargeOutputToItsEnd) {
  LinuxProcesses p;
  auto out = p.run("/usr/bin/head", {"-c", "3000000", "/dev/zero"});
  ASSERT_TRUE(out);
  EXPECT_EQ(out->size(), 3000000u);
}

TEST(LinuxProcessesTest, ExitStatusIsNotLookedAt) {
  LinuxProcesses p;
  auto out = p.run("/bin/sh", {"-c", "echo partial; exit 3"});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, "partial\n");
  EXPECT_EQ(p.run("/bin/false", {}), "");  // started, printed nothing
}

TEST(LinuxProcessesTest, AToolThatCannotBeStartedGivesNothing) {
  // A file that is there but may not be run.
  char plain[] = "/tmp/sentrel-not-a-tool-XXXXXX";
  int fd = ::mkstemp(plain);
  ASSERT_GE(fd, 0);
  ::close(fd);
  LinuxProcesses p;
  struct Case {
    const char* tool;
  } cases[] = {{"/nonexistent/tool"}, {"echo"}, {""}, {plain}, {"/tmp"}};
  for (const Case& c : cases) EXPECT_EQ(p.run(c.tool, {}), std::nullopt) << c.tool;
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
