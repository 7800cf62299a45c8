#include "util/format.h"

#include <charconv>
#include <initializer_list>

std::string formatThousands(uint64_t count) {
    const std::string digits = std::to_string(count);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0) out.push_back(',');
        out.push_back(digits[k]);
    }
    return out;
}

std::string shortestNumber(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    return std::string(text, result.ptr);
}

void disableColours() {
    for (const char** colour : {&RESET, &RED, &GREEN, &YELLOW, &GRAY, &BLUE}) *colour = "";
}
