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
#include "sentrel/platform_wrapper.h"

namespace sentrel::testing {

class FaultFiles final : public platform::FilesWrapper {
 public:
  enum class Write {
    pass,         // forwarded
    refuse,       // no temporary file can be made: the folder is not writable
    fullAfter,    // the disk fills up once `bytes` bytes are written
    renameFails,  // written whole, but the rename over the target fails
  };

  explicit FaultFiles(platform::Files& next) : FilesWrapper(next) {}

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

  std::optional<std::string> readFile(std::string_view path, platform::Failure* error) override {
    {
      std::lock_guard lock(mutex_);
      if (unreadable_.count(std::string(path))) {
        if (error) *error = platform::failureFromErrno(std::string(path), EIO);
        return std::nullopt;
      }
    }
    return base().readFile(path, error);
  }

  bool writeFileAtomically(std::string_view path, std::string_view contents,
                           platform::Failure* error) override {
    Write mode;
    std::size_t budget;
    {
      std::lock_guard lock(mutex_);
      mode = mode_;
      budget = bytes_;
    }
    auto fail = [&](int e, const char* context) {
      if (error) *error = platform::failureFromErrno(std::string(path), e, context);
      return false;
    };
    switch (mode) {
      case Write::pass:
        return base().writeFileAtomically(path, contents, error);
      case Write::refuse:
        return fail(EACCES, "cannot create a temporary file");
      case Write::fullAfter:
      case Write::renameFails: {
        const std::string temp = std::string(path) + ".fault";
        const std::size_t n =
            mode == Write::fullAfter ? std::min(budget, contents.size()) : contents.size();
        {
          std::ofstream out(temp, std::ios::binary | std::ios::trunc);
          if (!out) return fail(errno, "cannot create a temporary file");
          out.write(contents.data(), static_cast<std::streamsize>(n));
        }
        {
          std::lock_guard lock(mutex_);
          written_ = n;
        }
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        if (mode == Write::fullAfter && n < contents.size()) return fail(ENOSPC, "write failed");
        if (mode == Write::renameFails) return fail(EACCES, "rename failed");
        return base().writeFileAtomically(path, contents, error);
      }
    }
    return fail(EINVAL, "unknown fault");
  }

 private:
  mutable std::mutex mutex_;
  Write mode_ = Write::pass;
  std::size_t bytes_ = 0;
  std::size_t written_ = 0;
  std::set<std::string> unreadable_;
};

}  // namespace sentrel::testing
