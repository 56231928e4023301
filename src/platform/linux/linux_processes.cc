// Child processes on Linux. A tool is named by its absolute path and started
// directly (never through a shell), so no argument is ever interpreted, and
// with an empty environment, so nothing of the host's environment (a
// library path, a locale) changes what the tool prints.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/linux/descriptor.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_system.h"

namespace sentrel::platform {

namespace {

class FileActions {
 public:
  FileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~FileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

// A descriptor at 0, 1 or 2 (when the host closed its own) is moved above
// them, so the dup2 onto standard output never meets itself and is always
// what clears close-on-exec in the child.
int aboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  ::close(fd);
  return moved;
}

// Both ends are close-on-exec, so no other child started meanwhile (by
// another thread) inherits either of them.
bool makePipe(Descriptor& readEnd, Descriptor& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.reset(aboveStandardStreams(fds[0]));
  writeEnd.reset(aboveStandardStreams(fds[1]));
  return readEnd.get() >= 0 && writeEnd.get() >= 0;
}

}  // namespace

std::optional<std::string> LinuxProcesses::run(std::string_view tool,
                                               const std::vector<std::string>& arguments) {
  if (tool.empty() || tool.front() != '/') return std::nullopt;
  std::string path(tool);
  // posix_spawn reports a failed exec only where the C library starts the
  // child with vfork semantics; checking first answers nothing for a tool
  // that cannot run everywhere (under valgrind, say) instead of an empty
  // output.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) != 0)
    return std::nullopt;
  std::vector<char*> argv;
  argv.push_back(path.data());
  std::vector<std::string> args(arguments);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  char* envp[] = {nullptr};

  Descriptor readEnd, writeEnd;
  if (!makePipe(readEnd, writeEnd)) return std::nullopt;
  FileActions actions;
  // Besides our own descriptors (close-on-exec), the host may hold some that
  // are not; the child gets none of them, only the three standard streams.
  if (!actions.ok() ||
      ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO) != 0 ||
      ::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1) != 0)
    return std::nullopt;

  pid_t pid = -1;
  if (::posix_spawn(&pid, path.c_str(), actions.get(), nullptr, argv.data(), envp) != 0)
    return std::nullopt;
  // The parent's copy of the write end must go, or the read below never
  // sees the end of the output.
  writeEnd.close();

  std::string out;
  char buf[65536];
  const std::uint64_t limit = fileSizeLimit();
  bool tooLong = false;
  for (;;) {
    ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    // A tool that prints without end is stopped rather than read until
    // memory runs out; waiting for it would never end either.
    if (out.size() > limit) {
      tooLong = true;
      ::kill(pid, SIGKILL);
      break;
    }
  }
  readEnd.close();
  // The exit status is not looked at, but the child is always reaped.
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (tooLong) return std::nullopt;
  return out;
}

}  // namespace sentrel::platform
