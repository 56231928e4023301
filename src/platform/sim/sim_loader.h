#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/sim/sim_model.h"

namespace sentrel::sim {

// Parses a machine description. `folder` resolves relative file names;
// `fileName` names the description in messages. Empty on failure, with
// `error` saying "FILE: JSON-PATH: problem".
std::unique_ptr<SimModel> loadModel(std::string_view json, const std::string& folder,
                                    const std::string& fileName, std::string* error);

}  // namespace sentrel::sim
