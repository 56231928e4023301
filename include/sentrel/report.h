// The drive report: everything the library learned about one drive in one
// refresh, as typed values with their units, for hosts that show more than
// the reply (the command line's tables and JSON, the metrics exporter, an
// embedding program). It is built in one place from the device's refresh
// (its properties and the typed decodings beside them); every view of it
// (text, JSON, metrics) reads it and judges nothing again.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sentrel/export.h"
#include "sentrel/failure.h"
#include "sentrel/health.h"
#include "sentrel/value.h"

namespace sentrel {

class KVSMARTDevice;

// ---- Power ----

// What CHECK POWER MODE says of an ATA drive.
enum class PowerMode {
  unknown,  // not asked, or the drive cannot say
  active,   // active or idle, spinning
  idle,     // idle, maybe spun down partly
  standby,  // spun down; reading its SMART data would spin it up
  sleep,    // asleep: it answers nothing until it is woken
};
SENTREL_API std::string_view powerModeName(PowerMode mode);
// The mode a CHECK POWER MODE count register stands for.
SENTREL_API PowerMode powerModeOfRegister(std::uint8_t count);

// The name of a verdict rule in the JSON and the metrics: "defect_count".
SENTREL_API std::string_view healthRuleName(HealthReason::Rule rule);

// Which drives are left alone rather than woken.
enum class NoWake {
  never,    // read every drive (its power mode is not asked)
  sleep,    // leave drives that are asleep
  standby,  // leave drives that are asleep or in standby
};

// ---- ATA ----

// One SMART attribute as the drive reported it, named and formatted by the
// drive database.
struct SENTREL_API AtaAttribute {
  enum class WhenFailed { never, now, past };

  std::uint8_t id = 0;
  std::string name;   // the database's name ("Reallocated_Sector_Ct"), or "Unknown"
  std::string label;  // the host's name for the number ("Reallocated Sectors Count"), or ""
  std::uint16_t flags = 0;
  std::uint8_t value = 0;  // current normalized value
  std::uint8_t worst = 0;
  std::uint8_t threshold = 0;
  std::array<std::uint8_t, 6> rawBytes{};  // least significant first
  std::uint8_t reserved = 0;               // the slot's last byte
  std::string format;                      // the raw-value format ("raw48", "tempminmax")
  std::string rawText;                     // the raw value in that format ("30 (Min/Max 20/45)")

  bool prefail() const { return flags & 0x1; }
  bool online() const { return flags & 0x2; }
  // The six raw bytes as one number, as smartctl's "raw.value".
  std::uint64_t rawValue() const;
  // Now: the value is at or below a non-zero threshold; past: the worst
  // value was; never: neither, or no threshold.
  WhenFailed whenFailed() const;
};

// One entry of the ATA self-test log, newest first.
struct SelfTestEntry {
  int number = 0;
  std::string type;    // "Short Offline", "Extended Offline", "Conveyance Offline", ...
  std::string status;  // "Pass", "Aborted", "Read Failure", "Test In Progress", ...
  std::uint8_t completionPercent = 0;  // how much of the test was done
  bool failed = false;                 // the test found a fault (status codes 3 to 8)
  std::uint32_t lifetimeHours = 0;
  std::optional<std::uint64_t> firstErrorLba;
};

// One error of an ATA summary error log or of an NVMe error log.
struct LoggedError {
  std::uint64_t number = 0;  // the drive's count for it
  std::string description;   // what the drive says it was
  std::optional<std::uint32_t> lifetimeHours;
};

// ---- NVMe ----

// The SMART / Health Information log of an NVMe controller.
struct NvmeHealthLog {
  std::uint8_t criticalWarning = 0;
  std::uint16_t temperatureKelvin = 0;
  std::uint8_t availableSparePercent = 0;
  std::uint8_t availableSpareThresholdPercent = 0;
  std::uint8_t percentageUsed = 0;
  // 128-bit counters, kept exact as two halves; `value()` saturates.
  struct Counter {
    std::uint64_t lo = 0, hi = 0;
    std::uint64_t value() const { return hi ? UINT64_MAX : lo; }
    friend bool operator==(const Counter&, const Counter&) = default;
  };
  Counter dataUnitsRead, dataUnitsWritten;  // in units of 1000 sectors of 512 bytes
  Counter hostReadCommands, hostWriteCommands;
  Counter controllerBusyMinutes;
  Counter powerCycles, powerOnHours, unsafeShutdowns;
  Counter mediaErrors, errorLogEntries;
  std::uint32_t warningTemperatureMinutes = 0;
  std::uint32_t criticalTemperatureMinutes = 0;
  // Temperature sensors 1 to 8 in kelvin; 0 where the controller has none.
  std::array<std::uint16_t, 8> sensorKelvin{};

  static constexpr std::uint64_t kBytesPerDataUnit = 512'000;
  friend bool operator==(const NvmeHealthLog&, const NvmeHealthLog&) = default;
};

// Degrees Celsius of a kelvin reading, as the NVMe log rounds them (-273).
inline int celsiusOfKelvin(std::uint16_t kelvin) {
  return static_cast<int>(kelvin) - 273;
}

// The Device Self-test log of an NVMe controller (log page 6).
struct SENTREL_API NvmeSelfTestLog {
  struct Result {
    std::uint8_t code = 0;    // 1 short, 2 extended, 0xE vendor specific
    std::uint8_t result = 0;  // 0 completed without error ... 9; 0xF unused
    std::uint8_t segment = 0;
    std::uint64_t powerOnHours = 0;
    std::optional<std::uint32_t> nsid;
    std::optional<std::uint64_t> failingLba;

    std::string_view typeName() const;
    std::string_view resultName() const;
    bool failed() const { return result >= 5 && result <= 7; }
  };
  std::uint8_t currentOperation = 0;   // 0 none, 1 short, 2 extended running
  std::uint8_t currentCompletion = 0;  // percent of the running test done
  std::vector<Result> results;         // newest first, unused entries left out
};

// ---- What `device` shows beyond the health ----

struct NamedText {
  std::string name;
  std::string value;
  friend bool operator==(const NamedText&, const NamedText&) = default;
};

struct DriveDetails {
  // ATA: offline data collection and self-test state, the capabilities,
  // the self-tests the drive offers and its log directory.
  std::string offlineCollectionStatus;
  std::string selfTestStatus;  // "Pass 100%", "Test In Progress 30%"
  std::vector<NamedText> capabilities;
  struct SelfTestOffer {
    std::string name;  // "Short", "Extended", "Conveyance", "Selective"
    std::uint32_t pollingMinutes = 0;
  };
  std::vector<SelfTestOffer> selfTestsOffered;
  struct LogPages {
    std::uint8_t address = 0;
    std::string name;
    std::uint32_t pages = 0;
  };
  std::vector<LogPages> logDirectory;

  // NVMe: the identify fields as the controller reports them, its power
  // states and firmware slots.
  std::vector<NamedText> nvmeIdentify;
  struct PowerState {
    int state = 0;
    double maxPowerWatts = 0;
    bool nonOperational = false;
    std::uint32_t entryLatencyMicroseconds = 0;
    std::uint32_t exitLatencyMicroseconds = 0;
  };
  std::vector<PowerState> powerStates;
  struct FirmwareSlot {
    int slot = 0;
    bool active = false;
    bool readOnly = false;
    std::string revision;
  };
  std::vector<FirmwareSlot> firmwareSlots;
};

// ---- The report ----

struct DriveReport {
  std::string disk;  // the BSD name it was asked for
  // False when no drive record has that name; then nothing else is set.
  bool found = false;
  // False when the drive could not be read at all (`failure` says why).
  bool read = false;
  // The drive was left alone in its power mode, as asked; nothing was read.
  bool skipped = false;
  // It was not read in time: its reading goes on in the background.
  bool timedOut = false;
  PowerMode powerMode = PowerMode::unknown;
  std::optional<platform::Failure> failure;

  // Identity, from the drive record and the readings.
  std::string protocol;  // "ATA" or "NVMe"
  std::string model, serial, firmware;
  std::string family;  // the drive database's family, "" when none
  std::uint64_t capacityBytes = 0;
  std::string driveType;  // "HDD 7200 rpm", "SSD"
  std::string location;
  std::vector<std::string> volumes;

  HealthVerdict verdict;

  std::optional<int> temperatureCelsius;
  std::optional<std::uint64_t> powerOnHours;
  std::optional<std::uint64_t> powerCycles;

  // ATA
  std::vector<AtaAttribute> attributes;
  std::vector<SelfTestEntry> selfTests;
  std::uint64_t errorCount = 0;  // errors the drive logged in all (ATA: the device error count)
  std::vector<LoggedError> errors;

  // NVMe
  std::optional<NvmeHealthLog> nvme;

  DriveDetails details;

  // The device properties the report was made from, for views that show
  // everything (device --format raw-json).
  std::shared_ptr<const Dict> properties;
};

// The report of a device after its refresh; `refreshed` is what
// updateProperties() answered.
SENTREL_API DriveReport driveReport(const KVSMARTDevice& device, std::string_view disk,
                                    bool refreshed);

// How readDriveReports reads several drives.
struct ReadOptions {
  // At most this many drives are read at once.
  unsigned workers = 4;
  // Which drives are left alone in their power mode (ATA drives only).
  NoWake nowake = NoWake::never;
  // A drive not read within this is reported as timed out; its reading
  // goes on in the background and holds no one else back. Zero: no limit.
  std::chrono::milliseconds deadline{0};
};

// Finds, refreshes and reports each named disk, several at once. Drive
// records are looked up on the calling thread (the record cache is used by
// one thread at a time); each device is refreshed on a worker, one thread
// per device. Reports come back in the order of `disks`.
SENTREL_API std::vector<DriveReport> readDriveReports(const std::vector<std::string>& disks,
                                                      const ReadOptions& options = {});

// The report as JSON-ready values: snake_case keys, numbers as numbers,
// units in key names (version 1.0 of the command line's JSON).
SENTREL_API Value reportValue(const DriveReport& report);

}  // namespace sentrel
