#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/sim/sim_model.h"

namespace sentrel::sim {

// Parses a machine description. `folder` resolves relative file names,
// which are read through `files`; `fileName` names the description in
// messages. Empty on failure, with `failure` naming the file and saying
// "JSON-PATH: problem".
std::unique_ptr<SimModel> loadModel(std::string_view json, const std::string& folder,
                                    const std::string& fileName, platform::Files& files,
                                    platform::Failure* failure);

}  // namespace sentrel::sim
