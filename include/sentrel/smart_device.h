// KVSMARTDevice: one physical drive, made from the drive record that drive
// discovery keeps for its BSD name. Its device properties start as a copy of
// that record and every reader of a refresh adds to them. It owns the
// drive's ATA SMART access while it is open.
//
// Class-level state (the drive-record cache and the system-version flag) is
// process-wide and belongs to the installed platform: installing another
// platform starts it afresh.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sentrel/export.h"
#include "sentrel/health.h"
#include "sentrel/platform.h"
#include "sentrel/report.h"
#include "sentrel/value.h"

namespace sentrel {

class SENTREL_API KVSMARTDevice {
 public:
  // ---- Drive discovery (class operations) ----

  // Class setup: reads the system version and sets isOSX1013. Runs on first
  // use of the class; calling it again reads the version again.
  static void initialize();
  // True when the system's version is 10.13 or later.
  static bool isOSX1013();

  // Enumerates every whole disk again and answers the dictionary from BSD
  // name to drive record; nothing when no disk-arbitration session can be had.
  static std::optional<Dict> driveInformation();
  // The drive record of a BSD name or of a path ending in one (/dev/disk2);
  // a cache miss enumerates again. Nothing when no record matches.
  static std::optional<Dict> settingsForBSDName(std::optional<std::string_view> bsdName);

  // ---- Making a device ----

  // A device for the named disk, or nothing when no drive record matches.
  static std::unique_ptr<KVSMARTDevice> deviceWithBSDName(std::optional<std::string_view> bsdName);
  static std::unique_ptr<KVSMARTDevice> deviceWithSetting(const Dict& setting);

  // An empty device (init) or one whose properties are a copy of a record
  // (initWithSetting:).
  KVSMARTDevice();
  explicit KVSMARTDevice(const Dict& setting);
  // Destroying a device destroys any access it still holds open.
  ~KVSMARTDevice();
  KVSMARTDevice(const KVSMARTDevice&) = delete;
  KVSMARTDevice& operator=(const KVSMARTDevice&) = delete;

  // ---- The ATA SMART access ----

  // Opens the access through the record's "registryService", retrying a
  // busy or unsupported plug-in up to five times 100 ms apart. False (with
  // one line in the system log) when it cannot be opened.
  bool openInterface();
  // Releases the interface, then destroys the plug-in. Safe when closed.
  void closeInterface();
  bool isOpen() const { return sif_ != nullptr; }
  // The open interface for the readers of a refresh; null while closed.
  platform::AtaSmartInterface* sif() const { return sif_.get(); }

  // These require an open access.
  platform::Status enableSMART(bool enable);
  // Issues the identify read (its data is not used) unless the drive is one
  // whose identify read is skipped on 10.13 and later; always answers {}.
  Dict identifyDevice();
  // "Short" or "Extended"; any other name answers 0xE00002BC and sends nothing.
  platform::Status startSelftest(std::string_view testName);
  // Disables SMART operations, which aborts a running self-test.
  void abortSelftest();
  // Starts a self-test in the background by its subcommand of SMART
  // EXECUTE OFF-LINE IMMEDIATE: 1 short, 2 extended, 3 conveyance.
  platform::Status runSelfTest(std::uint8_t subcommand);
  // The drive's power mode by CHECK POWER MODE, which wakes no drive;
  // unknown when it cannot say.
  PowerMode powerMode();
  // The self-test execution status byte of the SMART data (status code in
  // bits 7-4, tenths still to do in bits 3-0); nothing when the data
  // cannot be read.
  std::optional<std::uint8_t> selfTestExecutionStatus();

  // An ATA identify string: swaps the bytes of each 16-bit word of the first
  // `length` bytes in place, decodes them as UTF-8 (a blank when invalid),
  // cuts at the first NUL and trims white space. `length` is clamped to the
  // buffer.
  static std::string stringFromCStringSwapped(std::span<std::uint8_t> buffer, std::int32_t length);

  // ---- The refresh and its readers ----
  // Each reader requires an open access, writes its keys into the device
  // properties and answers what it wrote.

  // Reads the drive and answers its device properties (the device's own
  // dictionary), or nothing when the access cannot be opened or SMART
  // cannot be enabled.
  std::shared_ptr<Dict> updateProperties();

  // The SMART attribute table: display entries under
  // "vendorspecificAttributes"; nothing when the SMART data is unusable.
  std::optional<Array> attributes();
  // `length` characters "1"/"0" for bits length-1 down to 0 (0 to 32).
  static std::string binaryString(std::uint64_t value, std::uint32_t length);

  // Offline collection, self-test and capability state from the SMART data.
  Dict capabilities();
  Array capabilitiesArray();
  Array selfTests();
  // The self-test log (address 6) and the log directory (address 0).
  Array selftestLog();
  Array logDirectory();
  // The summary error log (address 1).
  void errorLog();
  std::string msToTime(std::uint32_t milliseconds);

  // ---- Raw attribute values ----

  // The text of a 12-byte attribute slot's raw value in the named format.
  static std::string decodeRawAttribute(std::span<const std::uint8_t, 12> slot,
                                        std::string_view fmt);
  // The names of the raw-value formats, in their fixed order; any other
  // name decodes as "default".
  static std::span<const std::string_view> rawFormatNames();
  // The temperature reader of "tempminmax".
  static bool raw(std::span<const std::uint8_t, 6> raw, std::int8_t minidx, std::int8_t maxidx,
                  std::uint8_t otc, std::span<std::int16_t, 4> temp);
  static bool temp(std::uint8_t index, std::uint8_t low, std::uint8_t high, std::uint8_t otc,
                   std::span<const std::uint8_t, 6> raw);

  // ---- ATA command vocabulary ----

  static std::string commandName(std::uint32_t command);
  static std::string command(std::uint32_t command, std::uint32_t feature);
  static std::string error(std::uint32_t error);
  static std::string status(std::uint32_t status);
  static std::string state(std::uint32_t state);

  // ---- Properties ----

  std::shared_ptr<Dict> driveProperties() const { return driveProperties_.load(); }
  void setDriveProperties(std::shared_ptr<Dict> properties) {
    driveProperties_.store(std::move(properties));
  }
  std::int64_t _selectedTest() const { return selectedTest_.load(); }
  void set_selectedTest(std::int64_t test) { selectedTest_.store(test); }

  // ---- What the last refresh found ----

  // The verdict of the last refresh with its reasons, as "attributeHealth"
  // holds it; the word is "" when the refresh could not judge the drive.
  const HealthVerdict& healthVerdict() const { return verdict_; }
  // Why the access could not be opened, or why the last drive command that
  // failed did so: the first failure since the device was made or its last
  // refresh began. Nothing when everything the drive was asked succeeded.
  const std::optional<platform::Failure>& failure() const { return failure_; }
  // The typed readings of the last refresh beside the device properties:
  // the SMART attributes and self-test log of an ATA drive, the health log
  // of an NVMe drive. Empty where the refresh got none.
  const std::vector<AtaAttribute>& attributeRows() const { return attributeRows_; }
  const std::vector<SelfTestEntry>& selfTestEntries() const { return selfTestEntries_; }
  const std::optional<NvmeHealthLog>& nvmeHealthLog() const { return nvmeHealthLog_; }

 private:
  // Keeps the first failure; later ones are consequences of it, or less telling.
  void noteFailure(platform::Failure failure);

  std::unique_ptr<platform::AtaSmartPlugIn> pif_;
  std::unique_ptr<platform::AtaSmartInterface> sif_;
  std::shared_ptr<void> nvmeDrive_;
  std::atomic<std::int64_t> selectedTest_{0};
  std::atomic<std::shared_ptr<Dict>> driveProperties_;
  HealthVerdict verdict_;
  std::optional<platform::Failure> failure_;
  std::vector<AtaAttribute> attributeRows_;
  std::vector<SelfTestEntry> selfTestEntries_;
  std::optional<NvmeHealthLog> nvmeHealthLog_;
};

}  // namespace sentrel
