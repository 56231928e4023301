// A Files area that forwards to another one (the real file system behind a
// simulated machine) and fails the way a refused or full disk does.
//
// A failing write keeps the contract of writeFileAtomically as the Linux
// backend does: the bytes go to a temporary file beside the target, which
// is removed when the write fails, so the target is left as it was. What
// the library does with the failure is what the tests look at.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

#include "sentrel/platform.h"

namespace sentrel::testing {

class FaultFiles final : public platform::Files {
 public:
  enum class Write {
    pass,         // forwarded
    refuse,       // no temporary file can be made: the folder is not writable
    fullAfter,    // the disk fills up once `bytes` bytes are written
    renameFails,  // written whole, but the rename over the target fails
  };

  explicit FaultFiles(platform::Files& next) : next_(next) {}

  void failWrites(Write mode, std::size_t bytes = 0) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    bytes_ = bytes;
  }
  // readFile of this path fails, as for a file that cannot be read back.
  void failReadsOf(std::string path) {
    std::lock_guard lock(mutex_);
    unreadable_.insert(std::move(path));
  }
  // Bytes that reached a temporary file of a failed write before it failed.
  std::size_t bytesWrittenBeforeFailing() const {
    std::lock_guard lock(mutex_);
    return written_;
  }

  std::optional<std::string> readFile(std::string_view path, platform::FileError* error) override {
    {
      std::lock_guard lock(mutex_);
      if (unreadable_.count(std::string(path))) {
        if (error) *error = {std::string(path), std::strerror(EIO)};
        return std::nullopt;
      }
    }
    return next_.readFile(path, error);
  }

  bool writeFileAtomically(std::string_view path, std::string_view contents,
                           platform::FileError* error) override {
    Write mode;
    std::size_t budget;
    {
      std::lock_guard lock(mutex_);
      mode = mode_;
      budget = bytes_;
    }
    auto fail = [&](std::string reason) {
      if (error) *error = {std::string(path), std::move(reason)};
      return false;
    };
    switch (mode) {
      case Write::pass:
        return next_.writeFileAtomically(path, contents, error);
      case Write::refuse:
        return fail(std::string("cannot create a temporary file: ") + std::strerror(EACCES));
      case Write::fullAfter:
      case Write::renameFails: {
        const std::string temp = std::string(path) + ".fault";
        const std::size_t n = mode == Write::fullAfter ? std::min(budget, contents.size())
                                                       : contents.size();
        {
          std::ofstream out(temp, std::ios::binary | std::ios::trunc);
          if (!out) return fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
          out.write(contents.data(), static_cast<std::streamsize>(n));
        }
        {
          std::lock_guard lock(mutex_);
          written_ = n;
        }
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        if (mode == Write::fullAfter && n < contents.size())
          return fail(std::string("write failed: ") + std::strerror(ENOSPC));
        if (mode == Write::renameFails)
          return fail(std::string("rename failed: ") + std::strerror(EACCES));
        return next_.writeFileAtomically(path, contents, error);
      }
    }
    return fail("unknown fault");
  }

  bool createDirectories(std::string_view path, platform::FileError* error) override {
    return next_.createDirectories(path, error);
  }
  bool removeFile(std::string_view path) override { return next_.removeFile(path); }
  bool exists(std::string_view path) override { return next_.exists(path); }
  std::optional<std::vector<std::string>> listDirectory(std::string_view path) override {
    return next_.listDirectory(path);
  }
  std::optional<Value> readPropertyList(std::string_view path) override {
    return next_.readPropertyList(path);
  }
  bool createPrivateFile(std::string_view path, std::string_view contents,
                         platform::FileError* error) override {
    return next_.createPrivateFile(path, contents, error);
  }

 private:
  platform::Files& next_;
  mutable std::mutex mutex_;
  Write mode_ = Write::pass;
  std::size_t bytes_ = 0;
  std::size_t written_ = 0;
  std::set<std::string> unreadable_;
};

}  // namespace sentrel::testing
