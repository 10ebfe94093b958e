// Tests parametrised over the processor levels: each test runs with the conversions capped at its
// level (ScopedLevelCap) and is skipped, with a message, on a processor that lacks the level.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "simd/bodies.hpp"
#include "simd/level.hpp"

namespace pelm_ossrel {

// Levels by name in the tests' messages.
inline void PrintTo(Level level, std::ostream* os) { *os << level_name(level); }

}  // namespace pelm_ossrel

namespace pelm_ossrel::testing_support {

class LevelTest : public ::testing::TestWithParam<Level> {
protected:
    void SetUp() override {
        if (!level_available(level())) {
            GTEST_SKIP() << "this processor lacks the " << level_name(level()) << " level";
        }
        cap_.emplace(level());
    }
    void TearDown() override { cap_.reset(); }

    Level level() const { return GetParam(); }
    const simd::LevelBodies& bodies() const { return simd::bodies_for(level()); }

private:
    std::optional<ScopedLevelCap> cap_;
};

inline std::string level_param_name(const ::testing::TestParamInfo<Level>& info) {
    return std::string(level_name(info.param));
}

}  // namespace pelm_ossrel::testing_support

// Instantiates the parametrised suite `suite` (a LevelTest) once per level.
#define PELM_OSSREL_FOR_EVERY_LEVEL(suite)                                                            \
    INSTANTIATE_TEST_SUITE_P(Levels, suite, ::testing::ValuesIn(::pelm_ossrel::kAllLevels), \
                             ::pelm_ossrel::testing_support::level_param_name)
