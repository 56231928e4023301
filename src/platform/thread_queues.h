// Serial queues on worker threads and a main queue the host drains: the
// queue area that both backends share. Workers are detached, so a process
// may exit while a job still waits on the network; the object is meant to
// live as long as the process.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "sentrel/platform.h"

namespace sentrel::platform {

class ThreadQueues final : public Queues {
 public:
  ThreadQueues() = default;
  ThreadQueues(const ThreadQueues&) = delete;
  ThreadQueues& operator=(const ThreadQueues&) = delete;

  void async(std::string_view label, std::function<void()> job) override;
  void wait(std::string_view label) override;
  void asyncMain(std::function<void()> job) override;
  std::size_t drainMain() override;
  // Blocks until every serial queue has run everything queued on it.
  void waitAll();

 private:
  struct Serial {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> pending;
    bool running = false;  // a worker is executing a job
    std::uint64_t submitted = 0, finished = 0;
  };
  static void work(std::shared_ptr<Serial> queue);
  std::shared_ptr<Serial> queueNamed(std::string_view label);

  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Serial>, std::less<>> queues_;
  std::mutex mainMutex_;
  std::deque<std::function<void()>> main_;
};

// Observers by notification name; delivery runs on the posting thread.
class ObserverList final : public Notifications {
 public:
  void post(std::string_view name) override;
  void observe(std::string_view name, std::function<void()> observer) override;

 private:
  std::mutex mutex_;
  std::multimap<std::string, std::function<void()>, std::less<>> observers_;
};

}  // namespace sentrel::platform
