// Files on the local file system. Errors name the path and the reason
// strerror gives, so a message says what failed and where.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/errno_text.h"
#include "platform/linux/descriptor.h"
#include "platform/linux/linux_platform.h"

namespace sentrel::platform {

namespace {

// Maps the whole pages of fresh memory in one call instead of one fault per
// page as a read fills them: a fault is a trap into the kernel, which costs
// far more than the page, above all in a virtual machine (about 11 us a page
// against about 1 us in one call on the machine our figures come from).
// Only a hint: a kernel without it (before 5.14) leaves the faults to happen.
void prefaultPages(char* data, std::size_t size) {
  constexpr std::uintptr_t page = 4096;
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  const std::size_t skip = ((at + page - 1) & ~(page - 1)) - at;
  if (size < skip + 4 * page) return;
  ::madvise(data + skip, (size - skip) & ~(page - 1), MADV_POPULATE_WRITE);
}

// Records why an operation on `path` failed; answers false for the caller.
bool fail(Failure* failure, std::string_view path, int error, std::string_view context = "") {
  if (failure) *failure = failureFromErrno(std::string(path), error, context);
  return false;
}

// An open of `name` in the folder `dir` that failed with `error`. One that
// O_NOFOLLOW refused names the link as such: the system says "Too many
// levels of symbolic links", or for a folder "Not a directory".
bool failOpen(Failure* failure, std::string_view path, int dir, const std::string& name,
              int error) {
  struct stat st {};
  const bool link =
      error == ELOOP ||
      (error == ENOTDIR && ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
       S_ISLNK(st.st_mode));
  if (!link) return fail(failure, path, error);
  if (failure)
    *failure = failureOf(Failure::Kind::permission, std::string(path),
                         "is a symbolic link, which is not followed here");
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

// The folder of a path and the name in it.
std::pair<std::string, std::string> splitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The name mkstemp gives a temporary file of NAME: NAME, a dot and six
// letters or digits.
bool isTemporaryOf(std::string_view entry, std::string_view name) {
  constexpr std::size_t kRandom = 6;
  if (entry.size() != name.size() + 1 + kRandom || !entry.starts_with(name) ||
      entry[name.size()] != '.')
    return false;
  for (char c : entry.substr(name.size() + 1))
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// A writer holds an exclusive lock on its temporary file while it lives,
// and the system drops the lock when the writer's process dies. A temporary
// file of the same target whose lock can be had was therefore left by a
// writer that was killed (a host that quit during a store): it is removed.
// One a live writer holds is left alone.
void removeAbandonedTemporaries(const std::string& path) {
  const auto [folder, name] = splitPath(path);
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return;
  DIR* listing = ::fdopendir(::dup(dir.get()));
  if (!listing) return;
  std::vector<std::string> candidates;
  while (const dirent* e = ::readdir(listing))
    if (isTemporaryOf(e->d_name, name)) candidates.emplace_back(e->d_name);
  ::closedir(listing);
  for (const std::string& entry : candidates) {
    Descriptor file(
        ::openat(dir.get(), entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) ::unlinkat(dir.get(), entry.c_str(), 0);
  }
}

// A new temporary file beside `path`, locked for as long as it is open
// (see removeAbandonedTemporaries); its name in `temp`.
Descriptor lockedTemporary(const std::string& path, std::string& temp) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    temp = path + ".XXXXXX";
    Descriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) return fd;
    struct stat st {};
    // Another writer's clean-up may have taken the file for abandoned
    // between its creation and the lock: then it is gone, and a new one is made.
    if (::flock(fd.get(), LOCK_EX) == 0 && ::fstat(fd.get(), &st) == 0 && st.st_nlink > 0)
      return fd;
  }
  errno = EAGAIN;
  return Descriptor();
}

// The components of a relative file name; empty when one is empty, "." or
// "..", or the name is absolute.
std::vector<std::string> plainComponents(std::string_view name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    std::string part(name.substr(start, end - start));
    if (part.empty() || part == "." || part == "..") return {};
    parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

class LinuxFiles final : public Files {
 public:
  std::optional<std::string> readFile(std::string_view path, Failure* failure) override {
    std::string p(path);
    // O_NONBLOCK: opening a pipe that has no writer would wait for one.
    Descriptor fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
      fail(failure, path, errno);
      return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
      fail(failure, path, errno);
      return std::nullopt;
    }
    // A device or a pipe has no end to read to (/dev/zero, a FIFO).
    if (!S_ISREG(st.st_mode)) {
      if (failure) *failure = failureOf(Failure::Kind::badData, p, "not a regular file");
      return std::nullopt;
    }
    const std::uint64_t limit = fileSizeLimit();
    if (static_cast<std::uint64_t>(st.st_size) > limit) {
      if (failure) *failure = failureOfSize(p, limit);
      return std::nullopt;
    }
    // Read straight into the text, sized for what the file holds now and one
    // byte more, so the end shows without another allocation.
    std::string out;
    out.reserve(static_cast<std::size_t>(st.st_size) + 1);
    prefaultPages(out.data(), out.capacity());
    out.resize(out.capacity());
    std::size_t filled = 0;
    for (;;) {
      // A file may grow while it is read: the limit is held to the bytes read.
      if (filled > limit) {
        if (failure) *failure = failureOfSize(p, limit);
        return std::nullopt;
      }
      if (filled == out.size()) out.resize(out.size() + std::max<std::size_t>(out.size(), 65536));
      ssize_t n = ::read(fd.get(), out.data() + filled, out.size() - filled);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        fail(failure, path, errno);
        return std::nullopt;
      }
      if (n == 0) break;
      filled += static_cast<std::size_t>(n);
    }
    out.resize(filled);
    return out;
  }

  bool writeFileAtomically(std::string_view path, std::string_view contents,
                           Failure* failure) override {
    const std::string target(path);
    removeAbandonedTemporaries(target);
    std::string temp;
    Descriptor fd = lockedTemporary(target, temp);
    if (!fd.valid()) return fail(failure, path, errno, "cannot create a temporary file");
    const auto discard = [&](int error, std::string_view context) {
      ::unlink(temp.c_str());
      return fail(failure, path, error, context);
    };
    if (int e = writeAll(fd.get(), contents)) return discard(e, "write failed");
    // mkstemp makes the file private; a stored file is readable like any other.
    ::fchmod(fd.get(), 0644);
    if (::fsync(fd.get()) != 0) return discard(errno, "write failed");
    // The lock goes with the close, after the rename: until then a clean-up
    // sees the file as a live writer's.
    if (::rename(temp.c_str(), target.c_str()) != 0) return discard(errno, "rename failed");
    if (int e = fd.close()) return fail(failure, path, e, "write failed");
    return true;
  }

  bool writeFileIn(std::string_view folder, std::string_view name, std::string_view contents,
                   bool mustBeNew, Failure* failure) override {
    std::string at(folder);
    const std::string path = at + "/" + std::string(name);
    const std::vector<std::string> parts = plainComponents(name);
    if (parts.empty()) {
      if (failure)
        *failure =
            failureOf(Failure::Kind::badData, path, "not a relative file name of plain components");
      return false;
    }
    // The folder itself is the caller's to name (it may be a link); nothing
    // below it is reached through one.
    Descriptor dir(::open(at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return fail(failure, at, errno);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      at += "/" + parts[i];
      if (::mkdirat(dir.get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST)
        return fail(failure, at, errno);
      Descriptor next(
          ::openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next.valid()) return failOpen(failure, at, dir.get(), parts[i], errno);
      dir = std::move(next);
    }
    // O_NONBLOCK keeps the open of a pipe without a reader from waiting; the
    // writes then block as usual.
    const int flags =
        O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (mustBeNew ? O_EXCL : O_TRUNC);
    Descriptor fd(::openat(dir.get(), parts.back().c_str(), flags, 0644));
    if (!fd.valid()) return failOpen(failure, path, dir.get(), parts.back(), errno);
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    if (int e = writeAll(fd.get(), contents)) return fail(failure, path, e, "write failed");
    if (int e = fd.close()) return fail(failure, path, e, "write failed");
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
    Descriptor fd(::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) return fail(failure, path, errno);
    int e = writeAll(fd.get(), contents);
    if (!e) e = fd.close();
    if (e) {
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

  std::optional<std::int64_t> modificationTime(std::string_view path) override {
    struct stat st {};
    if (::stat(std::string(path).c_str(), &st) != 0) return std::nullopt;
    return std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
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
