// Fuzzes the reader of the text after "--wait-for-pid". Checks that the pid
// is never out of 0..2147483647 and that a pid is given exactly when the text
// has strtoul's shape (white space, an optional "+", digits) with a value in
// range, and that the value is the one those digits spell.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/PidText.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value that strtoul's base-10 grammar reads from `text`, or -1 when the
// text does not match it (no digits, or a sign other than "+"), or -2 when
// the value exceeds 2147483647.
long long expectedPid(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    if (i < text.size() && text[i] == '+') {
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9') {
        return -1;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483647LL) {
            return -2;
        }
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Command-line arguments are C strings: the text ends at the first NUL.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    const corvane::launcher::PidText result = corvane::launcher::parsePidText(text.c_str());

    if (result.pid < 0) {
        std::abort();
    }
    const long long expected = expectedPid(text);
    if (expected < 0) {
        // Not a usable pid: none is given, and the reason is told.
        if (result.pid != 0 || result.ignoredBecause.empty()) {
            std::abort();
        }
    } else if (result.pid != expected || !result.ignoredBecause.empty()) {
        std::abort();
    }
    return 0;
}
