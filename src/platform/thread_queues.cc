#include "platform/thread_queues.h"

#include <thread>
#include <vector>

namespace sentrel::platform {

std::shared_ptr<ThreadQueues::Serial> ThreadQueues::queueNamed(std::string_view label) {
  std::lock_guard lock(mutex_);
  auto it = queues_.find(label);
  if (it == queues_.end())
    it = queues_.emplace(std::string(label), std::make_shared<Serial>()).first;
  return it->second;
}

// One worker per queue at a time: it runs jobs until the queue is empty and
// then ends, so an idle queue holds no thread.
// The worker owns its queue by value: the queue outlives every job it runs.
void ThreadQueues::work(
    std::shared_ptr<Serial> queue) {  // NOLINT(performance-unnecessary-value-param)
  std::unique_lock lock(queue->mutex);
  while (!queue->pending.empty()) {
    auto job = std::move(queue->pending.front());
    queue->pending.pop_front();
    lock.unlock();
    job();
    lock.lock();
    ++queue->finished;
    queue->changed.notify_all();
  }
  queue->running = false;
  queue->changed.notify_all();
}

void ThreadQueues::async(std::string_view label, std::function<void()> job) {
  auto queue = queueNamed(label);
  std::lock_guard lock(queue->mutex);
  queue->pending.push_back(std::move(job));
  ++queue->submitted;
  if (!queue->running) {
    queue->running = true;
    std::thread(work, queue).detach();
  }
}

void ThreadQueues::wait(std::string_view label) {
  auto queue = queueNamed(label);
  std::unique_lock lock(queue->mutex);
  const std::uint64_t target = queue->submitted;
  queue->changed.wait(lock, [&] { return queue->finished >= target; });
}

void ThreadQueues::waitAll() {
  std::vector<std::string> labels;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [label, queue] : queues_) labels.push_back(label);
  }
  for (const auto& label : labels) wait(label);
}

void ThreadQueues::asyncMain(std::function<void()> job) {
  std::lock_guard lock(mainMutex_);
  main_.push_back(std::move(job));
}

std::size_t ThreadQueues::drainMain() {
  std::size_t ran = 0;
  for (;;) {
    std::function<void()> job;
    {
      std::lock_guard lock(mainMutex_);
      if (main_.empty()) return ran;
      job = std::move(main_.front());
      main_.pop_front();
    }
    job();
    ++ran;
  }
}

void ObserverList::post(std::string_view name) {
  std::vector<std::function<void()>> targets;
  {
    std::lock_guard lock(mutex_);
    auto [begin, end] = observers_.equal_range(name);
    for (auto it = begin; it != end; ++it) targets.push_back(it->second);
  }
  for (const auto& observer : targets) observer();
}

void ObserverList::observe(std::string_view name, std::function<void()> observer) {
  std::lock_guard lock(mutex_);
  observers_.emplace(std::string(name), std::move(observer));
}

}  // namespace sentrel::platform
