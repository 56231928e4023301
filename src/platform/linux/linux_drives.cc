#include "platform/linux/linux_drives.h"

#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ata/command_vocabulary.h"
#include "platform/linux/ata_pass_through.h"
#include "platform/linux/block_probe.h"
#include "platform/linux/nvme_admin.h"

namespace sentrel::platform {

namespace {

constexpr unsigned kAtaTimeoutMs = 60'000;
constexpr unsigned kNvmeTimeoutMs = 60'000;
constexpr const char* kAtaNeeds = "root or CAP_SYS_RAWIO (ATA pass-through)";
constexpr const char* kNvmeNeeds = "root or CAP_SYS_ADMIN (NVMe admin commands)";

// What opening `node` with `error` means to a user; a refusal says what
// would allow it.
Failure openFailure(const std::string& node, int error, const char* needs) {
  Failure f = failureFromErrno(node, error);
  f.status = sat::statusFromErrno(error);
  if (f.kind == Failure::Kind::permission) f.need = needs;
  return f;
}

// The name of an ATA command for a message ("SMART READ DATA").
std::string ataCommandName(const sat::AtaCommand& c) {
  std::string sub = ata::subcommandName(c.command, c.features);
  return sub.empty() ? ata::commandName(c.command) : sub;
}

// An open device node, closed when the last user lets go.
class Node {
 public:
  Node(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~Node() { ::close(fd_); }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// Opens a node the way the drive commands need it: read-only is enough for
// both ioctls, and O_NONBLOCK keeps a removable drive without a medium from
// blocking the open.
Status openNode(const std::string& path, std::shared_ptr<Node>& out, int& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return sat::statusFromErrno(error);
  }
  out = std::make_shared<Node>(fd, path);
  return kSuccess;
}

// Sends one ATA command; `data` receives what it reads.
Status sendAta(int fd, const sat::AtaCommand& command, std::span<std::uint8_t> data,
               std::optional<sat::AtaRegisters>* registers, int& error) {
  auto cdb = sat::passThrough16(command);
  std::uint8_t sense[64] = {};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.cmd_len = static_cast<unsigned char>(cdb.size());
  io.cmdp = cdb.data();
  io.mx_sb_len = sizeof sense;
  io.sbp = sense;
  io.timeout = kAtaTimeoutMs;
  std::size_t bytes = std::size_t{command.sectorsIn} * kSectorSize;
  if (bytes > 0) {
    if (data.size() < bytes) return kGeneralError;
    std::fill(data.begin(), data.end(), std::uint8_t{0});
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.dxfer_len = static_cast<unsigned>(bytes);
    io.dxferp = data.data();
  } else {
    io.dxfer_direction = SG_DXFER_NONE;
  }
  if (::ioctl(fd, SG_IO, &io) != 0) {
    error = errno;
    return sat::statusFromErrno(error);
  }
  sat::Completion done;
  done.scsiStatus = io.status;
  done.hostStatus = io.host_status;
  done.driverStatus = io.driver_status;
  done.sense =
      std::span<const std::uint8_t>(sense, std::min<std::size_t>(io.sb_len_wr, sizeof sense));
  return sat::statusFromCompletion(done, registers);
}

class SgIdentifyReader final : public IdentifyReader {
 public:
  std::optional<std::array<std::uint8_t, kSectorSize>> identify(
      const std::string& devNode) override {
    std::shared_ptr<Node> node;
    int error = 0;
    if (openNode(devNode, node, error) != kSuccess) return std::nullopt;
    std::array<std::uint8_t, kSectorSize> sector{};
    if (sendAta(node->fd(), sat::identifyDevice(), sector, nullptr, error) != kSuccess)
      return std::nullopt;
    return sector;
  }
};

class SgAtaInterface final : public AtaSmartInterface {
 public:
  explicit SgAtaInterface(std::shared_ptr<Node> node) : node_(std::move(node)) {}

  std::optional<Failure> lastFailure() const override { return failure_; }

  Status enableOperations(bool enable) override {
    return send(sat::smartEnableOperations(enable), {});
  }
  Status reportStatus(bool& thresholdExceeded) override {
    std::optional<sat::AtaRegisters> registers;
    Status s = send(sat::smartReturnStatus(), {}, &registers);
    if (s != kSuccess) return s;
    auto exceeded = registers ? sat::thresholdExceededFromRegisters(*registers) : std::nullopt;
    if (!exceeded) {
      failure_ = failureOf(Failure::Kind::badData, node_->path(),
                           "SMART RETURN STATUS answered no readable registers");
      return kGeneralError;
    }
    thresholdExceeded = *exceeded;
    return kSuccess;
  }
  Status runOfflineImmediate(bool extended) override {
    return send(sat::smartOfflineImmediate(extended ? 2 : 1), {});
  }
  Status executeOfflineImmediate(std::uint8_t subcommand) override {
    return send(sat::smartOfflineImmediate(subcommand), {});
  }
  Status readSmartData(Sector buffer) override { return send(sat::smartReadData(), buffer); }
  Status validateSmartData(ConstSector buffer) override { return smartChecksumStatus(buffer); }
  Status readSmartThresholds(Sector buffer) override {
    return send(sat::smartReadThresholds(), buffer);
  }
  Status readSmartLog(std::uint8_t address, std::span<std::uint8_t> buffer) override {
    std::size_t sectors = buffer.size() / kSectorSize;
    if (sectors == 0 || sectors > 255 || buffer.size() % kSectorSize != 0) {
      std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
      failure_ = failureOf(Failure::Kind::unsupported, node_->path(),
                           "a log read of " + std::to_string(buffer.size()) + " bytes");
      return kGeneralError;
    }
    return send(sat::smartReadLog(address, static_cast<std::uint8_t>(sectors)), buffer);
  }
  Status readIdentify(Sector buffer) override { return send(sat::identifyDevice(), buffer); }
  Status checkPowerMode(std::uint8_t& mode) override {
    std::optional<sat::AtaRegisters> registers;
    Status s = send(sat::checkPowerMode(), {}, &registers);
    if (s != kSuccess) return s;
    if (!registers) {
      failure_ = failureOf(Failure::Kind::badData, node_->path(),
                           "CHECK POWER MODE answered no readable registers");
      return kGeneralError;
    }
    mode = registers->count;
    return kSuccess;
  }

 private:
  Status send(const sat::AtaCommand& command, std::span<std::uint8_t> data,
              std::optional<sat::AtaRegisters>* registers = nullptr) {
    int error = 0;
    Status s = sendAta(node_->fd(), command, data, registers, error);
    if (error != 0) {
      failure_ = openFailure(node_->path(), error, kAtaNeeds);
      failure_->reason = ataCommandName(command) + ": " + failure_->reason;
    } else if (s != kSuccess) {
      failure_ = failureOfCommand(node_->path(), ataCommandName(command), s);
    }
    return s;
  }

  std::shared_ptr<Node> node_;
  std::optional<Failure> failure_;
};

class SgAtaPlugIn final : public AtaSmartPlugIn {
 public:
  explicit SgAtaPlugIn(std::shared_ptr<Node> node) : node_(std::move(node)) {}
  Status queryInterface(std::unique_ptr<AtaSmartInterface>& out) override {
    out = std::make_unique<SgAtaInterface>(node_);
    return kSuccess;
  }

 private:
  std::shared_ptr<Node> node_;
};

class AdminNvmeInterface final : public NvmeSmartInterface {
 public:
  AdminNvmeInterface(std::shared_ptr<Node> node, nvmeadmin::Version v)
      : node_(std::move(node)), version_(v) {}

  std::optional<Failure> lastFailure() const override { return failure_; }

  std::uint16_t version() override { return version_.major; }
  std::uint16_t revision() override { return version_.minor; }
  Status readIdentifyData(std::span<std::uint8_t> buffer, std::uint32_t nsid) override {
    return run(nvmeadmin::identify(nsid), buffer);
  }
  Status readLogPage(std::span<std::uint8_t> buffer, std::uint8_t logId,
                     std::uint32_t dwordsMinusOne) override {
    return run(nvmeadmin::getLogPage(logId, dwordsMinusOne), buffer);
  }
  Status deviceSelfTest(std::uint8_t code) override {
    return run(nvmeadmin::deviceSelfTest(code), {});
  }
  Status readHealthData(std::span<std::uint8_t> buffer) override {
    constexpr std::uint8_t kHealthLog = 0x02;
    constexpr std::uint32_t kHealthDwordsMinusOne = 512 / 4 - 1;
    return run(nvmeadmin::getLogPage(kHealthLog, kHealthDwordsMinusOne), buffer);
  }

  // Runs a command into a buffer of its own size, then hands over as much as
  // the caller's buffer holds, zero-filling the rest.
  Status run(const nvmeadmin::AdminCommand& c, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::vector<std::uint8_t> data(c.dataLength);
    nvme_admin_cmd cmd{};
    cmd.opcode = c.opcode;
    cmd.nsid = c.nsid;
    cmd.addr = reinterpret_cast<std::uintptr_t>(data.data());
    cmd.data_len = c.dataLength;
    cmd.cdw10 = c.cdw10;
    cmd.cdw11 = c.cdw11;
    cmd.timeout_ms = kNvmeTimeoutMs;
    int result = ::ioctl(node_->fd(), NVME_IOCTL_ADMIN_CMD, &cmd);
    int error = result < 0 ? errno : 0;
    Status s = nvmeadmin::statusFromIoctl(result, error);
    if (error != 0) {
      failure_ = openFailure(node_->path(), error, kNvmeNeeds);
    } else if (s != kSuccess) {
      failure_ = failureOfCommand(node_->path(), "NVMe admin command", s);
    }
    if (s == kSuccess) std::copy_n(data.begin(), std::min(data.size(), out.size()), out.begin());
    return s;
  }

 private:
  std::shared_ptr<Node> node_;
  nvmeadmin::Version version_;
  std::optional<Failure> failure_;
};

class AdminNvmePlugIn final : public NvmeSmartPlugIn {
 public:
  explicit AdminNvmePlugIn(std::shared_ptr<Node> node) : node_(std::move(node)) {}
  // The interface reports the controller's NVMe version, read once here.
  Status queryInterface(std::unique_ptr<NvmeSmartInterface>& out) override {
    auto probe = std::make_unique<AdminNvmeInterface>(node_, nvmeadmin::Version{});
    std::vector<std::uint8_t> identify(4096);
    Status s = probe->readIdentifyData(identify, 0);
    if (s != kSuccess) return s;
    out = std::make_unique<AdminNvmeInterface>(node_, nvmeadmin::versionFromIdentify(identify));
    return kSuccess;
  }

 private:
  std::shared_ptr<Node> node_;
};

}  // namespace

struct LinuxDrives::Areas {
  class TreeView final : public TreeRegistry {
   public:
    explicit TreeView(LinuxDrives& d) : drives(d) {}
    std::vector<RegistryEntry> wholeMedia() override { return drives.tree().wholeMedia; }

   protected:
    const TreeNode* node(RegistryEntry h) override {
      const DiskTree& t = drives.tree();
      return h >= 1 && h <= t.nodes.size() ? &t.nodes[h - 1] : nullptr;
    }
    RegistryEntry handleLimit() override {
      return static_cast<RegistryEntry>(drives.tree().nodes.size() + 1);
    }

   private:
    LinuxDrives& drives;
  };

  class Arbitration final : public DiskArbitration {
   public:
    explicit Arbitration(LinuxDrives& d) : drives(d) {}
    bool createSession() override { return true; }
    std::optional<Dict> describe(RegistryEntry medium) override {
      const DiskTree& t = drives.tree();
      return describeNode(medium >= 1 && medium <= t.nodes.size() ? &t.nodes[medium - 1] : nullptr);
    }

   private:
    LinuxDrives& drives;
  };

  class PlugIns final : public SmartPlugIns {
   public:
    explicit PlugIns(LinuxDrives& d) : drives(d) {}
    Status createAtaPlugIn(RegistryEntry service, std::unique_ptr<AtaSmartPlugIn>& out,
                           Failure* failure) override {
      std::shared_ptr<Node> node;
      Status s = open(service, DriveAccess::Ata, kAtaNeeds, node, failure);
      if (s == kSuccess) out = std::make_unique<SgAtaPlugIn>(node);
      return s;
    }
    Status createNvmePlugIn(RegistryEntry service, std::unique_ptr<NvmeSmartPlugIn>& out,
                            Failure* failure) override {
      std::shared_ptr<Node> node;
      Status s = open(service, DriveAccess::Nvme, kNvmeNeeds, node, failure);
      if (s == kSuccess) out = std::make_unique<AdminNvmePlugIn>(node);
      return s;
    }

   private:
    Status open(RegistryEntry service, DriveAccess access, const char* needs,
                std::shared_ptr<Node>& node, Failure* failure) {
      const DiskTree& t = drives.tree();
      auto it = t.drives.find(service);
      if (it == t.drives.end() || it->second.access != access) {
        if (failure)
          *failure = failureOf(Failure::Kind::unsupported, "",
                               "the registry entry has no SMART access of this kind", kUnsupported);
        return kUnsupported;
      }
      int error = 0;
      Status s = openNode(it->second.devNode, node, error);
      if (s != kSuccess && failure) *failure = openFailure(it->second.devNode, error, needs);
      return s;
    }
    LinuxDrives& drives;
  };

  explicit Areas(LinuxDrives& d) : registry(d), arbitration(d), plugIns(d) {}
  TreeView registry;
  Arbitration arbitration;
  PlugIns plugIns;
};

LinuxDrives::LinuxDrives(LinuxDiskPaths paths)
    : paths_(std::move(paths)), areas_(std::make_unique<Areas>(*this)) {}
LinuxDrives::~LinuxDrives() = default;

Registry& LinuxDrives::registry() {
  return areas_->registry;
}
DiskArbitration& LinuxDrives::diskArbitration() {
  return areas_->arbitration;
}
SmartPlugIns& LinuxDrives::plugIns() {
  return areas_->plugIns;
}

const DiskTree& LinuxDrives::tree() {
  std::call_once(scanned_, [this] {
    LinuxBlockProbe probe(paths_.udevData);
    SgIdentifyReader identify;
    tree_ = scanDisks(paths_, probe, identify);
  });
  return tree_;
}

}  // namespace sentrel::platform
