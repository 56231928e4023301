// Reading several drives at once: records on the calling thread, each
// refresh on one of a bounded number of workers, drives left alone in the
// power mode the caller asks, and a deadline per drive. A drive that hangs
// past its deadline is reported as timed out; its worker is given up (it
// goes on in the background, holding what it uses) and a new one takes its
// place, so a hung drive holds no one else back.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "sentrel/drive_database.h"
#include "sentrel/keys.h"
#include "sentrel/report.h"
#include "sentrel/smart_device.h"

namespace sentrel {

namespace {

using Clock = std::chrono::steady_clock;

// One drive's reading. Shared between the caller and the worker, so a
// worker the caller gave up on still has everything it uses.
struct Job {
  std::string disk;
  std::unique_ptr<KVSMARTDevice> device;
  DriveReport report;
  // What is known before the drive is read (its record), for a report of a
  // drive that does not answer in time: the device then belongs to its worker.
  DriveReport unread;
  enum class State { waiting, reading, done, givenUp } state = State::waiting;
  Clock::time_point started;
};

struct Batch {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::shared_ptr<Job>> jobs;
  std::size_t next = 0;  // the first job no worker has taken
  NoWake nowake = NoWake::never;
};

// The disks whose reading still runs in this process, including readings
// given up on: a drive that hung is not asked again until it answers, so
// a service that reads every minute never piles up workers on it.
class InFlight {
 public:
  bool claim(const std::string& disk) {
    std::lock_guard lock(mutex_);
    return disks_.insert(disk).second;
  }
  void release(const std::string& disk) {
    std::lock_guard lock(mutex_);
    disks_.erase(disk);
  }

 private:
  std::mutex mutex_;
  std::set<std::string> disks_;
};

InFlight& inFlight() {
  static auto* registry = new InFlight;  // outlives workers still running at exit
  return *registry;
}

bool leftAlone(PowerMode mode, NoWake nowake) {
  switch (nowake) {
    case NoWake::never:
      return false;
    case NoWake::sleep:
      return mode == PowerMode::sleep;
    case NoWake::standby:
      return mode == PowerMode::sleep || mode == PowerMode::standby;
  }
  return false;
}

// Reads one drive: its power mode first when the caller may leave it alone
// (an ATA drive; CHECK POWER MODE wakes none), then the refresh.
DriveReport readOne(const std::string& disk, KVSMARTDevice& device, NoWake nowake) {
  const bool nvme = device.driveProperties()->getBool(keys::kIsNVMe).value_or(false);
  PowerMode mode = PowerMode::unknown;
  if (!nvme && nowake != NoWake::never) {
    if (device.openInterface()) {
      mode = device.powerMode();
      device.closeInterface();
    }
    if (leftAlone(mode, nowake)) {
      DriveReport r = driveReport(device, disk, false);
      r.skipped = true;
      r.powerMode = mode;
      return r;
    }
  }
  const bool refreshed = device.updateProperties() != nullptr;
  DriveReport r = driveReport(device, disk, refreshed);
  r.powerMode = mode;
  return r;
}

// Takes waiting jobs one after another until none is left, or until the
// job it reads is given up on (a new worker has then taken its place).
void work(std::shared_ptr<Batch> batch) {
  std::unique_lock lock(batch->mutex);
  while (batch->next < batch->jobs.size()) {
    std::shared_ptr<Job> job = batch->jobs[batch->next++];
    if (job->state != Job::State::waiting) continue;
    job->state = Job::State::reading;
    job->started = Clock::now();
    batch->changed.notify_all();  // its deadline starts now
    lock.unlock();
    DriveReport report = readOne(job->disk, *job->device, batch->nowake);
    inFlight().release(job->disk);
    lock.lock();
    if (job->state == Job::State::givenUp) return;
    job->report = std::move(report);
    job->state = Job::State::done;
    batch->changed.notify_all();
  }
}

DriveReport timedOut(const DriveReport& unread, const std::string& reason) {
  DriveReport r = unread;
  r.timedOut = true;
  r.failure =
      platform::failureOf(platform::Failure::Kind::noResponse, r.disk, reason, platform::kNoDevice);
  return r;
}

}  // namespace

std::vector<DriveReport> readDriveReports(const std::vector<std::string>& disks,
                                          const ReadOptions& options) {
  auto batch = std::make_shared<Batch>();
  batch->nowake = options.nowake;
  std::vector<DriveReport> reports(disks.size());
  bool anyAta = false;
  std::size_t pending = 0;
  for (const std::string& disk : disks) {
    auto job = std::make_shared<Job>();
    job->disk = disk;
    job->device = KVSMARTDevice::deviceWithBSDName(disk);
    if (!job->device) {
      job->report.disk = disk;
      job->state = Job::State::done;
    } else {
      anyAta = anyAta || !job->device->driveProperties()->getBool(keys::kIsNVMe).value_or(false);
      job->unread = driveReport(*job->device, disk, false);
      // Its own copy of the record: the device's is the worker's to change.
      job->unread.properties = std::make_shared<const Dict>(*job->device->driveProperties());
      if (inFlight().claim(disk)) {
        ++pending;
      } else {
        job->report = timedOut(job->unread, "an earlier reading of it has not finished");
        job->state = Job::State::done;
      }
    }
    batch->jobs.push_back(std::move(job));
  }
  // The workers share one installed database: parse it here, once, rather
  // than in each of them.
  if (anyAta) KVSmartDeviceDatabase::ensureDriveDatabase();

  const std::size_t workers = std::min<std::size_t>(std::max(1u, options.workers), pending);
  const bool limited = options.deadline.count() > 0;
  if (workers <= 1 && !limited) {
    work(batch);
  } else if (pending > 0) {
    for (std::size_t w = 0; w < workers; ++w) std::thread(work, batch).detach();
    std::unique_lock lock(batch->mutex);
    for (;;) {
      bool unfinished = false;
      auto wake = Clock::time_point::max();
      for (const auto& job : batch->jobs) {
        if (job->state == Job::State::waiting) unfinished = true;
        if (job->state != Job::State::reading) continue;
        const auto due = job->started + options.deadline;
        if (!limited || Clock::now() < due) {
          unfinished = true;
          if (limited) wake = std::min(wake, due);
          continue;
        }
        // Give the hung drive up, and let a new worker take its place.
        job->state = Job::State::givenUp;
        if (batch->next < batch->jobs.size()) std::thread(work, batch).detach();
      }
      if (!unfinished) break;
      if (wake == Clock::time_point::max())
        batch->changed.wait(lock);
      else
        batch->changed.wait_until(lock, wake);
    }
  }

  std::lock_guard lock(batch->mutex);
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const Job& job = *batch->jobs[i];
    reports[i] = job.state == Job::State::givenUp
                     ? timedOut(job.unread, "no answer within " +
                                                std::to_string(options.deadline.count()) + " ms")
                     : job.report;
  }
  return reports;
}

}  // namespace sentrel
