// Numbers as the error texts write them.
#pragma once

#include <string>

namespace pelm_ossrel {

// A binary64 as its shortest round-trip digits in positional notation, "NaN", "inf", "-inf",
// "0", "-0".
std::string render_number(double value);

}  // namespace pelm_ossrel
