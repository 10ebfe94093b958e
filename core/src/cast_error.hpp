// The failure of a slice conversion, and its message text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pelm_ossrel {

struct CastError {
    enum class Kind : std::uint8_t { NonFinite, OutOfRange };

    Kind kind;
    double value;
    double lo;  // OutOfRange only
    double hi;  // OutOfRange only

    static constexpr CastError non_finite(double value) noexcept {
        return CastError{Kind::NonFinite, value, 0.0, 0.0};
    }
    static constexpr CastError out_of_range(double value, double lo, double hi) noexcept {
        return CastError{Kind::OutOfRange, value, lo, hi};
    }

    // "Cannot cast {} to integer type without scalar_map" or
    // "Value {} out of range [{}, {}]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."
    std::string message() const;
};

// Success is an empty optional; a failure holds exactly one CastError.
using CastResult = std::optional<CastError>;

}  // namespace pelm_ossrel
