#include <gtest/gtest.h>

#include "sentrel/value.h"
#include "sentrel/value_io.h"

namespace sentrel {
namespace {

TEST(ValueTest, Placeholder) { EXPECT_EQ(Value(1), Value(1)); }

}  // namespace
}  // namespace sentrel
