#pragma once
// Console conventions shared by every part of the program: colours are plain ANSI
// escapes, and running counters overwrite themselves behind a run of backspaces.

#include <cstdint>
#include <string>

inline const char* RESET = "\033[0m";
inline const char* RED = "\033[31m";
inline const char* GREEN = "\033[32m";
inline const char* YELLOW = "\033[33m";
inline const char* GRAY = "\033[90m";
inline const char* BLUE = "\033[94m";

// Every colour becomes the empty string, as users who set NO_COLOR expect (no-color.org).
void disableColours();

// Written in front of a progress text that replaces the previous one on the same line.
inline const std::string eraseLine(120, '\b');

// 1234567 -> "1,234,567"
std::string formatThousands(uint64_t count);

// The shortest text that reads back as the same double: 3.7e-10 for a diameter where a fixed
// six decimals would show 0.000000, and all the digits of a value a hair off a round one.
std::string shortestNumber(double value);
