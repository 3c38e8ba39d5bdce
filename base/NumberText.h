#pragma once

#include <string>

namespace tarnwick {

// A single-precision number as text: rounded to 7 significant digits, plain decimal (never an
// exponent), no trailing zeros, no decimal point when whole, "." as the decimal separator.
// 1024 gives "1024", 819.2 gives "819.2".
std::u16string SingleToText(float value);

}  // namespace tarnwick
