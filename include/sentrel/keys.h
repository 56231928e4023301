// The keys of the library's dictionaries, named once: the device registry's
// properties and disk-arbitration descriptions (which backends write and
// discovery reads), the drive record and device properties (which discovery
// and the readers write and hosts read), attribute entries, NVMe readings
// and the reply. A misspelt key is then a compile error, and a search for a
// constant finds every reader and writer of that key.
#pragma once

#include <string_view>

namespace sentrel::keys {

using Key = std::string_view;

// ---- Registry properties ----
inline constexpr Key kBSDName = "BSD Name";
inline constexpr Key kWhole = "Whole";
inline constexpr Key kContent = "Content";
inline constexpr Key kSize = "Size";
inline constexpr Key kRemovable = "Removable";
inline constexpr Key kSmartCapable = "SMART Capable";
inline constexpr Key kNvmeSmartCapable = "NVMe SMART Capable";
inline constexpr Key kSerialNumber = "Serial Number";  // also a drive record key
inline constexpr Key kModel = "Model";
inline constexpr Key kModelNumber = "Model Number";
inline constexpr Key kNamespaceUUID = "NamespaceUUID";  // also a drive record key
inline constexpr Key kDeviceCharacteristics = "Device Characteristics";
inline constexpr Key kProtocolCharacteristics = "Protocol Characteristics";
inline constexpr Key kControllerCharacteristics = "Controller Characteristics";
inline constexpr Key kVendorName = "Vendor Name";
inline constexpr Key kProductName = "Product Name";
inline constexpr Key kProductRevisionLevel = "Product Revision Level";
inline constexpr Key kMediumType = "Medium Type";
inline constexpr Key kRotationRate = "Rotation Rate";
inline constexpr Key kLogicalBlockSize = "Logical Block Size";
inline constexpr Key kPhysicalBlockSize = "Physical Block Size";
inline constexpr Key kPhysicalInterconnect = "Physical Interconnect";
inline constexpr Key kPhysicalInterconnectLocation = "Physical Interconnect Location";
inline constexpr Key kDeviceLocationProperty = "io-device-location";
inline constexpr Key kNvmeRevisionSupported = "NVMe Revision Supported";
// Why a whole disk has no SMART access ("a virtio disk: ..."), on its
// medium; backends that know set it.
inline constexpr Key kNoSmartReason = "SMART Unavailable Reason";

// ---- Disk-arbitration descriptions ----
inline constexpr Key kDAMediaBSDName = "DAMediaBSDName";
inline constexpr Key kDAMediaContent = "DAMediaContent";
inline constexpr Key kDAMediaWhole = "DAMediaWhole";
inline constexpr Key kDAMediaName = "DAMediaName";
inline constexpr Key kDAMediaSize = "DAMediaSize";
inline constexpr Key kDAMediaBlockSize = "DAMediaBlockSize";
inline constexpr Key kDAMediaRemovable = "DAMediaRemovable";
inline constexpr Key kDAMediaIcon = "DAMediaIcon";
inline constexpr Key kDADeviceInternal = "DADeviceInternal";
inline constexpr Key kDAVolumeName = "DAVolumeName";

// The content values of partition schemes.
inline constexpr Key kGuidScheme = "GUID_partition_scheme";
inline constexpr Key kMbrScheme = "FDisk_partition_scheme";
inline constexpr Key kApmScheme = "Apple_partition_scheme";

// ---- Drive records and device properties ----
inline constexpr Key kIsNVMe = "isNVMe";
inline constexpr Key kRegistryService = "registryService";
inline constexpr Key kBsdName = "bsdName";
inline constexpr Key kDeviceModel = "Device Model";
inline constexpr Key kFirmwareVersion = "Firmware Version";
inline constexpr Key kDriveType = "Drive Type";
inline constexpr Key kUserCapacity = "User Capacity";
inline constexpr Key kLocCon = "Loc-Con";
inline constexpr Key kVolumes = "volumes";
inline constexpr Key kVendorSpecificAttributes = "vendorspecificAttributes";
inline constexpr Key kVsaDict = "vsaDict";
inline constexpr Key kModelFamily = "Model Family";
inline constexpr Key kHealth = "Health";
inline constexpr Key kAttributeHealth = "attributeHealth";
inline constexpr Key kHealthLower = "health";
inline constexpr Key kHealthColor = "healthColor";
inline constexpr Key kTemperature = "temperature";  // also an NVMe reading key
inline constexpr Key kPowerOnHours = "powerOnHours";
inline constexpr Key kCapArray = "capArray";
inline constexpr Key kSelftests = "selftests";
inline constexpr Key kSelftestResults = "selftestResults";
inline constexpr Key kLogs = "logs";
inline constexpr Key kLogDir = "logDir";
inline constexpr Key kErrorLog = "errorLog";  // also an NVMe reading key

// A volume of a drive record: {"content", "name"}.
inline constexpr Key kVolumeContent = "content";
inline constexpr Key kVolumeName = "name";

// ---- Attribute entries ----
inline constexpr Key kAttributeId = "ID";
inline constexpr Key kAttributeName = "attributeName";  // also a reply row key
inline constexpr Key kAttributeValue = "value";
inline constexpr Key kAttributeWorst = "worst";
inline constexpr Key kAttributeThreshold = "threshold";
inline constexpr Key kAttributeRawValue = "rawValue";
inline constexpr Key kAttributeFormat = "fmt";

// ---- NVMe readings ----
inline constexpr Key kCriticalWarning = "criticalWarning";
inline constexpr Key kLowSpare = "lowSpare";
inline constexpr Key kOverTemp = "overTemp";
inline constexpr Key kLowReliability = "lowReliability";
inline constexpr Key kReadOnly = "readOnly";
inline constexpr Key kFailedVMBkup = "failedVMBkup";
inline constexpr Key kAvailableSpare = "availableSpare";
inline constexpr Key kSpareThreshold = "spareThreshold";
inline constexpr Key kPercentUsed = "percentUsed";
inline constexpr Key kPercentRemaining = "percentRemaining";

// ---- Requests and replies ----
inline constexpr Key kSelectedBSD = "selectedBSD";
inline constexpr Key kReplyStatus = "status";
inline constexpr Key kReplyProperties = "properties";
inline constexpr Key kReplyDeviceName = "deviceName";
inline constexpr Key kReplySerialNumber = "deviceSerialNumber";
inline constexpr Key kReplyAttributeId = "attributeID";
inline constexpr Key kReplyWorseValue = "worseValue";
inline constexpr Key kReplyNormalValue = "normalValue";
inline constexpr Key kReplyThresholdValue = "thresholdValue";
inline constexpr Key kReplyRawAttributeValue = "rawAttributeValue";

// ---- Health words ----
inline constexpr Key kPassed = "Passed";
inline constexpr Key kWarning = "Warning";
inline constexpr Key kFailed = "Failed";
inline constexpr Key kUnknown = "Unknown";
inline constexpr Key kNoData = "No Data";

}  // namespace sentrel::keys
