// metrics: every drive's health as Prometheus metrics, once (for
// node_exporter's textfile collector); serve: the same over HTTP, read by a
// collector in the background so a scrape never waits on a drive.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "cli.h"
#include "http/http_server.h"
#include "sentrel/drive_database.h"
#include "sentrel/metrics.h"
#include "sentrel/platform.h"

namespace sentrel::cli {

namespace {

double secondsSinceEpoch() {
  using namespace std::chrono;
  return static_cast<double>(
             duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count()) /
         1000.0;
}

// What the exporters know of every drive: the last values read of each,
// kept while the drive sleeps or does not answer.
class Collector {
 public:
  explicit Collector(const Context& ctx) : ctx_(ctx) {}

  // Reads the drives once and folds the readings into what is known.
  // Answers the reports of this reading.
  std::vector<DriveReport> collect() {
    const auto start = std::chrono::steady_clock::now();
    std::vector<DriveReport> reports;
    if (auto disks = disksToRead(ctx_)) reports = readDriveReports(*disks, options());
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double now = secondsSinceEpoch();

    std::lock_guard lock(mutex_);
    std::map<std::string, DriveSample> next;
    for (const DriveReport& r : reports) {
      if (!r.found) continue;  // gone: its series end
      DriveSample sample = samples_.count(r.disk) ? samples_[r.disk] : DriveSample{};
      sample.powerMode = r.powerMode;
      sample.up = r.read;
      if (r.read) {
        sample.report = r;
        sample.lastReadSeconds = now;
      } else {
        if (!r.skipped) ++sample.readErrors;
        // A drive never read yet shows what its record says of it.
        if (!sample.lastReadSeconds) sample.report = r;
      }
      next[r.disk] = std::move(sample);
    }
    samples_ = std::move(next);
    collectionSeconds_ = took;
    return reports;
  }

  std::string text(MetricsFormat format) const {
    MetricsInput input;
    input.version = SENTREL_VERSION_TEXT;
    input.drivedbVersion = KVSmartDeviceDatabase::installedVersion();
    std::lock_guard lock(mutex_);
    for (const auto& [disk, sample] : samples_) input.drives.push_back(sample);
    input.collectionSeconds = collectionSeconds_;
    return metricsText(input, format);
  }

 private:
  ReadOptions options() const {
    ReadOptions o = readOptions(ctx_);
    o.nowake = nowakeOfName(ctx_.metricsNowakeName);
    return o;
  }

  const Context& ctx_;
  mutable std::mutex mutex_;
  std::map<std::string, DriveSample> samples_;
  double collectionSeconds_ = 0;
};

int runMetrics(const Context& ctx) {
  Collector collector(ctx);
  const std::vector<DriveReport> reports = collector.collect();
  int status = kExitOk;
  for (const DriveReport& r : reports) {
    if (!r.found) {
      complainNoDevice(r.disk);
      status |= kExitNoDevice;
    } else if (r.timedOut) {
      // Its series say it is down; the message says why, for the log.
      complain(r.disk + " did not answer in time: " + (r.failure ? r.failure->reason : ""));
    }
  }
  const std::string text =
      collector.text(ctx.openMetrics ? MetricsFormat::openMetrics : MetricsFormat::prometheus);
  if (ctx.metricsOutput.empty()) return finishAfter(ctx, reports, status | writeOut(text));
  // Through a temporary file and a rename: the textfile collector never
  // reads half a file.
  platform::Failure failure;
  if (!platform::current().files->writeFileAtomically(ctx.metricsOutput, text, &failure)) {
    complain("cannot write the metrics: " + failure.message());
    status |= kExitUsage;
  }
  return finishAfter(ctx, reports, status);
}

// "HOST:PORT", "[V6]:PORT" or ":PORT" (every address).
bool splitListen(const std::string& listen, std::string& host, int& port) {
  const auto colon = listen.rfind(':');
  if (colon == std::string::npos) return false;
  host = listen.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty()) host = "0.0.0.0";
  try {
    std::size_t used = 0;
    port = std::stoi(listen.substr(colon + 1), &used);
    return used == listen.size() - colon - 1 && port > 0 && port < 65536;
  } catch (const std::exception&) {
    return false;
  }
}

// OpenMetrics when the scraper asks for it, the text format otherwise.
MetricsFormat formatAccepted(const std::string& accept) {
  return accept.find("application/openmetrics-text") != std::string::npos
             ? MetricsFormat::openMetrics
             : MetricsFormat::prometheus;
}

int runServe(const Context& ctx) {
  std::string host;
  int port = 0;
  if (!splitListen(ctx.listenAddress, host, port)) {
    complain("--listen wants HOST:PORT, such as 127.0.0.1:9633, not \"" + ctx.listenAddress + "\"");
    return kExitUsage;
  }
  std::string why;
  std::unique_ptr<HttpServer> server = loadHttpServer(why);
  if (!server) {
    complain("cannot serve: " + why);
    return kExitCommandFailed;
  }
  Collector collector(ctx);
  server->get("/metrics", [&](const std::string& accept) {
    const MetricsFormat format = formatAccepted(accept);
    return HttpAnswer{collector.text(format), std::string(metricsContentType(format))};
  });
  server->get("/", [](const std::string&) {
    return HttpAnswer{"<html><body><a href=\"/metrics\">Metrics</a></body></html>\n", "text/html"};
  });
  if (!server->bind(host, port)) {
    complain("cannot listen on " + ctx.listenAddress + " (in use, or not an address of this host)");
    return kExitUsage;
  }
  std::cerr << "sentrel: serving /metrics on " << ctx.listenAddress << ", drives read every "
            << ctx.intervalSeconds << " s\n";

  // The first reading comes before the first scrape, so a scrape never
  // finds no drives; after it, the collector reads the drives in the
  // background and a scrape answers at once with what was last read.
  collector.collect();
  std::mutex mutex;
  std::condition_variable stopped;
  bool stopping = false;
  std::thread reader([&] {
    std::unique_lock lock(mutex);
    while (!stopped.wait_for(lock, std::chrono::duration<double>(ctx.intervalSeconds),
                             [&] { return stopping; })) {
      lock.unlock();
      collector.collect();
      lock.lock();
    }
  });
  const bool served = server->listen();
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  stopped.notify_all();
  reader.join();
  return served ? kExitOk : kExitUsage;
}

void addReadingOptions(CLI::App* command, Context& ctx) {
  command->add_option("DISK", ctx.disks, kDiskHelp);
  command->add_option("--workers", ctx.workers, "How many drives are read at once")
      ->check(CLI::Range(1, 64));
  command
      ->add_option("--nowake", ctx.metricsNowakeName,
                   "Leave ATA drives alone in this power mode or deeper: never, sleep, standby")
      ->check(CLI::IsMember({"never", "sleep", "standby"}))
      ->capture_default_str();
  command
      ->add_option("--timeout", ctx.metricsTimeoutSeconds,
                   "A drive not read after this many seconds is down for this reading")
      ->check(CLI::Range(0.1, 3600.0))
      ->capture_default_str();
}

}  // namespace

void addMetricsCommands(CLI::App& app, Context& ctx) {
  auto* metrics = app.add_subcommand(
      "metrics",
      "Every drive's health as Prometheus metrics, for node_exporter's textfile collector");
  addReadingOptions(metrics, ctx);
  metrics->add_flag("--all", ctx.allDisks, "Every drive with SMART access (the default)");
  metrics->add_option("--output", ctx.metricsOutput,
                      "Write FILE.prom through a temporary file and a rename, not standard output");
  metrics->add_flag("--openmetrics", ctx.openMetrics, "The OpenMetrics format");
  metrics->footer(
      "Examples:\n  sentrel metrics\n"
      "  sentrel metrics --output /var/lib/prometheus/node-exporter/sentrel.prom\n"
      "  sentrel --sim examples/demo-mac metrics disk0");
  metrics->callback([&ctx] {
    ctx.allDisks = ctx.disks.empty();
    ctx.timeoutSeconds = ctx.metricsTimeoutSeconds;
    ctx.action = [&ctx] { return runMetrics(ctx); };
  });

  auto* serve = app.add_subcommand(
      "serve", "Serve every drive's health as Prometheus metrics over HTTP, at /metrics");
  addReadingOptions(serve, ctx);
  serve->add_option("--listen", ctx.listenAddress, "HOST:PORT to listen on")->capture_default_str();
  serve->add_option("--interval", ctx.intervalSeconds, "Seconds between readings of the drives")
      ->check(CLI::Range(1.0, 86400.0))
      ->capture_default_str();
  serve->footer(
      "Examples:\n  sentrel serve\n  sentrel serve --listen 0.0.0.0:9633 --interval 300\n"
      "  curl -s http://127.0.0.1:9633/metrics");
  serve->callback([&ctx] {
    ctx.allDisks = ctx.disks.empty();
    ctx.timeoutSeconds = ctx.metricsTimeoutSeconds;
    ctx.action = [&ctx] { return runServe(ctx); };
  });
}

}  // namespace sentrel::cli
