// The words for raw ATA register values that the error log shows: command
// names, subcommand (feature) names, error-register bits, the status
// register and the device state. Pure functions of their arguments.
#pragma once

#include <cstdint>
#include <string>

namespace sentrel::ata {

// The command's name, "(vendor specific)", or "undefined %02X" for a code
// the command set leaves open (and for every value above 0xFF).
std::string commandName(std::uint32_t command);

// The subcommand a feature value selects for a command, or "" when the
// command has no subcommands or the value names none.
std::string subcommandName(std::uint32_t command, std::uint32_t feature);

// The names of the set error bits, each after one blank (so the text keeps
// a leading blank), or "unknown" when no bit is set.
std::string errorBitNames(std::uint32_t error);

// "%02X" of the status register.
std::string statusText(std::uint32_t status);

// The device state selected by bits 3-0; the reserved and vendor rows
// print the whole value.
std::string deviceStateName(std::uint32_t state);

}  // namespace sentrel::ata
