// Message texts of conversion errors.
#include "cast_error.hpp"

#include <string>

#include "render_number.hpp"

namespace pelm_ossrel {

std::string CastError::message() const {
    if (kind == Kind::NonFinite) {
        return "Cannot cast " + render_number(value) + " to integer type without scalar_map";
    }
    return "Value " + render_number(value) + " out of range [" + render_number(lo) + ", " +
           render_number(hi) +
           "]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.";
}

}  // namespace pelm_ossrel
