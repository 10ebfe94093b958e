// The scalar map in the block loops of integer sources to integer targets, in every rounding
// mode and out-of-range mode: the same stored bits, the same error and exactly the same elements
// written before it as the element loop. Every test runs once per level this processor has.
#include <gtest/gtest.h>

#include "support/map_checks.hpp"

namespace pelm_ossrel {
namespace {

using namespace testing_support;
using namespace map_checks;

class IntToIntMapBlocks : public LevelTest {};
PELM_OSSREL_FOR_EVERY_LEVEL(IntToIntMapBlocks);

TEST_P(IntToIntMapBlocks, MapsOfEveryShapeInEveryModeMatchTheElementLoop) {
    for_each_pair_of<Family::IntToInt>([]<class S, class D>() { check_map_scenarios<S, D>(); });
}

TEST_P(IntToIntMapBlocks, FailuresAmongMatchesMatchTheElementLoop) {
    for_each_pair_of<Family::IntToInt>([]<class S, class D>() { check_failures_among_matches<S, D>(); });
}

}  // namespace
}  // namespace pelm_ossrel
