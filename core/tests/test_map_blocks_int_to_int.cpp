// The scalar map in the block loops of integer sources to integer targets, in every rounding
// mode and out-of-range mode: the same stored bits, the same error and exactly the same elements
// written before it as the element loop. Every test runs once per level this processor has.
#include <gtest/gtest.h>

#include "support/map_checks.hpp"

namespace pelm_ossrel {
namespace {

using namespace testing_support;
using namespace map_checks;

PELM_OSSREL_MAP_BLOCK_SUITE(IntToIntMapBlocks, Family::IntToInt)
PELM_OSSREL_MAP_FAILURE_TEST(IntToIntMapBlocks, Family::IntToInt)

}  // namespace
}  // namespace pelm_ossrel
