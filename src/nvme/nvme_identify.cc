#include "nvme/nvme_identify.h"

#include <limits>

#include "nvme/nvme_text.h"
#include "sentrel/value_io.h"

namespace sentrel::nvme {

namespace {

// Identify Controller offsets.
constexpr std::size_t kSerialAt = 4, kSerialLen = 20;
constexpr std::size_t kModelAt = 24, kModelLen = 40;
constexpr std::size_t kFirmwareAt = 64, kFirmwareLen = 8;
constexpr std::size_t kPowerStatesAt = 2048, kPowerStateLen = 32;
static_assert(kPowerStatesAt + kPowerStateDescriptors * kPowerStateLen <= kIdentifySize);

Value textOr(std::span<const std::uint8_t> bytes, const char* placeholder) {
  return Value(fieldText(bytes).value_or(placeholder));
}

Value unsignedValue(std::uint64_t v) {
  return Value(v);
}

enum class Flavor { controller, ns };

// The 17 keys shared by both readings, in their order.
void addIdentifyKeys(Dict& out, IdentifyView id, Flavor flavor) {
  out.set("vid", hexText(u16<0>(id), 4));
  out.set("ssvid", hexText(u16<2>(id), 4));
  out.set("sn", textOr(field<kSerialAt, kSerialLen>(id), "no sn"));
  out.set("mn", textOr(field<kModelAt, kModelLen>(id), "no mn"));
  out.set("fr", textOr(field<kFirmwareAt, kFirmwareLen>(id), "no fr"));
  out.set("rab", unsignedValue(u8<72>(id)));
  out.set("oui", hexText(u24<73>(id), 6));
  out.set("cmic", hexText(u8<76>(id), 2));
  if (flavor == Flavor::controller)
    out.set("mdts", unsignedValue(mdtsUnsigned(u8<77>(id))));
  else
    out.set("mdts", Value(mdtsSigned(u8<77>(id))));
  out.set("ctlid", unsignedValue(u16<78>(id)));
  out.set("oacs", hexText(u16<256>(id), 4));
  out.set("frmw", hexText(u8<260>(id), 2));
  out.set("lpa", hexText(u8<261>(id), 2));
  out.set("elpe", unsignedValue(u8<262>(id)));
  out.set("npss", unsignedValue(u8<263>(id)));
  out.set("nn", unsignedValue(u32<516>(id)));
  out.set("oncs", hexText(u16<520>(id), 4));
}

Dict powerState(std::uint32_t index, std::span<const std::uint8_t, kPowerStateLen> d) {
  std::uint8_t flags = u8<3>(d);
  // Bit 0 picks the scale of the maximum power: centiwatts or 0.1 mW.
  double scale = (flags & 0x01) ? 0.0001 : 0.01;
  return Dict{
      {"state", unsignedValue(index)},
      {"mp", static_cast<float>(u16<0>(d) * scale)},
      {"mps", static_cast<float>(scale)},
      // Bit 1 marks a non-operational state; the entry says whether it is operational.
      {"nops", (flags & 0x02) ? 0 : 1},
      {"enlat", unsignedValue(u32<4>(d))},
      {"exlat", unsignedValue(u32<8>(d))},
      {"rrt", unsignedValue(u8<12>(d))},
      {"rrl", unsignedValue(u8<13>(d))},
      {"rwt", unsignedValue(u8<14>(d))},
      {"rwl", unsignedValue(u8<15>(d))},
  };
}

}  // namespace

std::uint32_t mdtsUnsigned(std::uint8_t exponent) {
  if (exponent >= 32) return std::numeric_limits<std::uint32_t>::max();
  return std::uint32_t{1} << exponent;
}

std::int32_t mdtsSigned(std::uint8_t exponent) {
  if (exponent >= 31) return std::numeric_limits<std::int32_t>::max();
  return std::int32_t{1} << exponent;
}

Dict controllerIdentifySummary(IdentifyView identify, std::uint16_t interfaceVersion,
                               std::uint16_t interfaceRevision) {
  Dict out;
  out.set("nvmeIFRev", std::to_string(interfaceVersion) + "." + std::to_string(interfaceRevision));
  addIdentifyKeys(out, identify, Flavor::controller);
  return out;
}

Dict namespaceIdentifySummary(IdentifyView identify) {
  Dict out;
  addIdentifyKeys(out, identify, Flavor::ns);
  return out;
}

bool identifyLacksText(IdentifyView identify) {
  return !fieldText(field<kSerialAt, kSerialLen>(identify)) ||
         !fieldText(field<kModelAt, kModelLen>(identify)) ||
         !fieldText(field<kFirmwareAt, kFirmwareLen>(identify));
}

std::vector<std::string> identifyDiagnosticLines(const Dict& summary, IdentifyView identify) {
  const std::string rule(92, '=');
  return {
      rule,
      "nvme identify: " + toJson(Value(summary), JsonOptions{.indent = -1}),
      " ",
      "nvme sn[]: '" + hexBytes(field<kSerialAt, kSerialLen>(identify)) + "'\n",
      "nvme mn[]: '" + hexBytes(field<kModelAt, kModelLen>(identify)) + "'\n",
      "nvme fw[]: '" + hexBytes(field<kFirmwareAt, kFirmwareLen>(identify)) + "'\n",
      rule,
      " ",
  };
}

Array powerStates(IdentifyView identify) {
  std::size_t count = std::size_t{u8<263>(identify)} + 1;  // npss is zero-based
  if (count > kPowerStateDescriptors) count = kPowerStateDescriptors;
  Array out;
  for (std::size_t i = 0; i < count; ++i) {
    auto d = recordAt<kPowerStateLen>(identify, kPowerStatesAt + kPowerStateLen * i);
    if (!d) break;
    out.push_back(powerState(static_cast<std::uint32_t>(i), *d));
  }
  return out;
}

}  // namespace sentrel::nvme
