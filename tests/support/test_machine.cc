#include <gtest/gtest.h>

#include "sentrel/value_io.h"
#include "support/machines.h"

namespace sentrel::testing {

TestMachine::TestMachine(Dict description) {
  platform::Failure error;
  machine_ =
      sim::Machine::fromJsonText(toJson(Value(std::move(description))), "/nonexistent", &error);
  if (!machine_) {
    ADD_FAILURE() << "test machine refused: " << error;
    machine_ = sim::Machine::fromJsonText("{}", "/nonexistent", &error);
  }
  installed_ = std::make_unique<platform::ScopedPlatform>(machine_->platform());
}

TestMachine::TestMachine(std::initializer_list<Dict> disks)
    : TestMachine([&] {
        Array list;
        for (const Dict& d : disks) list.push_back(Value(d));
        return Dict{{"systemVersion", "13.6"}, {"disks", std::move(list)}};
      }()) {}

}  // namespace sentrel::testing
