#include "launcher/PidText.h"

namespace corvane::launcher {

namespace {

constexpr unsigned long long MAX_PID = 2147483647ULL;

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

PidText parsePidText(const char* text) {
    PidText result;
    const char* p = text;
    while (isCSpace(*p)) {
        ++p;
    }
    if (*p == '-') {
        result.ignoredBecause = "a pid cannot be negative";
        return result;
    }
    if (*p == '+') {
        ++p;
    }
    if (!isDigit(*p)) {
        result.ignoredBecause = "it does not begin with a number";
        return result;
    }
    unsigned long long value = 0;
    for (; isDigit(*p); ++p) {
        value = value * 10 + static_cast<unsigned long long>(*p - '0');
        if (value > MAX_PID) {
            result.ignoredBecause = "the number is larger than 2147483647";
            return result;
        }
    }
    result.pid = static_cast<int>(value);
    return result;
}

}  // namespace corvane::launcher
