// Files on the local file system. Errors name the path and the reason
// strerror gives, so a message says what failed and where.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/errno_text.h"
#include "platform/linux/linux_platform.h"

namespace sentrel::platform {

namespace {

// Records why an operation on `path` failed; answers false for the caller.
bool fail(Failure* failure, std::string_view path, int error, std::string_view context = "") {
  if (failure) *failure = failureFromErrno(std::string(path), error, context);
  return false;
}

// Writes all of `contents`; on failure answers the errno of the failing write.
int writeAll(int fd, std::string_view contents) {
  std::size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

class LinuxFiles final : public Files {
 public:
  std::optional<std::string> readFile(std::string_view path, Failure* failure) override {
    std::string p(path);
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      fail(failure, path, errno);
      return std::nullopt;
    }
    std::string out;
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        int e = errno;
        ::close(fd);
        fail(failure, path, e);
        return std::nullopt;
      }
      if (n == 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
  }

  bool writeFileAtomically(std::string_view path, std::string_view contents,
                           Failure* failure) override {
    std::string temp = std::string(path) + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return fail(failure, path, errno, "cannot create a temporary file");
    if (int e = writeAll(fd, contents)) {
      ::close(fd);
      ::unlink(temp.c_str());
      return fail(failure, path, e, "write failed");
    }
    // mkstemp makes the file private; a stored file is readable like any other.
    ::fchmod(fd, 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
      int e = errno;
      ::unlink(temp.c_str());
      return fail(failure, path, e, "write failed");
    }
    if (::rename(temp.c_str(), std::string(path).c_str()) != 0) {
      int e = errno;
      ::unlink(temp.c_str());
      return fail(failure, path, e, "rename failed");
    }
    return true;
  }

  bool createDirectories(std::string_view path, Failure* failure) override {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path), ec);
    if (ec) return fail(failure, path, ec.value());
    if (!std::filesystem::is_directory(std::filesystem::path(path), ec))
      return fail(failure, path, ENOTDIR);
    return true;
  }

  bool removeFile(std::string_view path) override {
    return ::unlink(std::string(path).c_str()) == 0;
  }

  bool exists(std::string_view path) override {
    return ::access(std::string(path).c_str(), F_OK) == 0;
  }

  std::optional<std::vector<std::string>> listDirectory(std::string_view path) override {
    std::error_code ec;
    std::filesystem::directory_iterator it(std::filesystem::path(path), ec);
    if (ec) return std::nullopt;
    std::vector<std::string> names;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
      if (ec) return std::nullopt;
      names.push_back(it->path().filename().string());
    }
    return names;
  }

  bool createPrivateFile(std::string_view path, std::string_view contents,
                         Failure* failure) override {
    std::string p(path);
    // O_EXCL with O_NOFOLLOW: an existing file or a planted link fails the
    // open instead of being written through.
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return fail(failure, path, errno);
    if (int e = writeAll(fd, contents)) {
      ::close(fd);
      ::unlink(p.c_str());
      return fail(failure, path, e, "write failed");
    }
    if (::close(fd) != 0) {
      int e = errno;
      ::unlink(p.c_str());
      return fail(failure, path, e, "write failed");
    }
    return true;
  }

  std::optional<Value> readPropertyList(std::string_view path) override {
    // The system-version file of the original platform: this machine's
    // os-release stands in for it.
    if (path == "/System/Library/CoreServices/SystemVersion.plist") return osRelease();
    return std::nullopt;
  }

 private:
  std::optional<Value> osRelease() {
    auto text = readFile("/etc/os-release", nullptr);
    if (!text) return std::nullopt;
    Dict d;
    std::size_t start = 0;
    while (start < text->size()) {
      std::size_t end = text->find('\n', start);
      if (end == std::string::npos) end = text->size();
      std::string_view line(text->data() + start, end - start);
      start = end + 1;
      auto eq = line.find('=');
      if (eq == std::string_view::npos) continue;
      std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      if (key == "NAME") d.set("ProductName", value);
      if (key == "VERSION_ID") d.set("ProductVersion", value);
    }
    return Value(std::move(d));
  }
};

}  // namespace

Files& linuxFiles() {
  static LinuxFiles files;
  return files;
}

}  // namespace sentrel::platform
