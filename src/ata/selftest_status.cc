#include "ata/selftest_status.h"

#include <array>

namespace sentrel::ata {

namespace {

// One row per status code, 0 to 15.
constexpr std::array<std::string_view, 16> kCurrentStatusNames{
    "Pass",                  // 0
    "Aborted",               // 1
    "Interrupted By Reset",  // 2
    "Unknown Error",         // 3
    "Unknown Failure",       // 4
    "Electrical Failure",    // 5
    "Servo/Seek Failure",    // 6
    "Read Failure",          // 7
    "Handling Damage",       // 8
    "Unknown",               // 9
    "Unknown",               // 10
    "Unknown",               // 11
    "Unknown",               // 12
    "Unknown",               // 13
    "Unknown",               // 14
    "Test In Progress",      // 15
};

constexpr std::array<std::string_view, 16> kLoggedStatusNames{
    "Pass",                // 0
    "Aborted",             // 1
    "Interrupted",         // 2
    "Unknown Error",       // 3
    "Unknown Failure",     // 4
    "Electrical Failure",  // 5
    "Servo/Seek Failure",  // 6
    "Read Failure",        // 7
    "Handling Damage",     // 8
    "Unknown",             // 9
    "Unknown",             // 10
    "Unknown",             // 11
    "Unknown",             // 12
    "Unknown",             // 13
    "Unknown",             // 14
    "Test In Progress",    // 15
};

}  // namespace

std::string_view currentSelfTestStatusName(std::uint8_t code) {
  return kCurrentStatusNames[code & 0x0F];
}

std::string_view loggedSelfTestStatusName(std::uint8_t code) {
  return kLoggedStatusNames[code & 0x0F];
}

}  // namespace sentrel::ata
