#include "base/NumberText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarnwick {

std::u16string SingleToText(float value)
{
    if (std::isnan(value))
        return u"NaN";
    if (std::isinf(value))
        return value < 0 ? u"-Infinity" : u"Infinity";

    // "%.6e" gives exactly the 7 significant digits, correctly rounded, and the decimal exponent
    // after rounding (so 9999999.5 becomes 1.000000e+07, not 9999999).
    char scientific[32];
    std::snprintf(scientific, sizeof scientific, "%.6e", static_cast<double>(value));
    std::string text(scientific);
    bool negative = text[0] == '-';
    if (negative)
        text.erase(0, 1);
    size_t e = text.find('e');
    int exponent = std::atoi(text.c_str() + e + 1);
    std::string digits(1, text[0]);  // 7 digits, no point
    digits.append(text, 2, e - 2);

    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    if (digits == "0")
        return u"0";

    std::string plain;
    if (exponent < 0) {
        plain.append("0.");
        plain.append(static_cast<size_t>(-exponent - 1), '0');
        plain.append(digits);
    } else if (static_cast<size_t>(exponent) + 1 >= digits.size()) {
        plain.append(digits);
        plain.append(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
    } else {
        const auto whole = static_cast<size_t>(exponent) + 1;
        plain.append(digits, 0, whole);
        plain.push_back('.');
        plain.append(digits, whole, std::string::npos);
    }
    std::u16string result;
    if (negative)
        result.push_back(u'-');
    result.append(plain.begin(), plain.end());
    return result;
}

}  // namespace tarnwick
