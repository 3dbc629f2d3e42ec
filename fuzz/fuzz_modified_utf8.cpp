// Fuzzes the conversion of argument bytes to modified UTF-8. Checks, with a
// decoder of its own, that the output is always valid modified UTF-8 (no NUL
// byte, no four-byte sequence, no overlong form but C0 80, surrogates only in
// pairs) and that valid UTF-8 input comes back unchanged when decoded.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "jvm/ModifiedUtf8.h"

namespace {

// Reads the byte sequence at text[i]: its length (at most maxLength) and the
// value its bits spell. False for a stray continuation byte, a longer lead, a
// sequence cut off by the text's end or a missing continuation byte.
bool readSequence(const std::string& text, std::size_t i, std::size_t maxLength, std::size_t& length,
                  std::uint32_t& value) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    if (lead < 0x80) {
        length = 1;
        value = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return false;
    }
    if (length > maxLength || i + length > text.size()) {
        return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<std::uint8_t>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        value = (value << 6) | (next & 0x3F);
    }
    return true;
}

// The smallest value a sequence of each length may carry; less is overlong.
constexpr std::uint32_t MINIMUM_FOR_LENGTH[] = {0, 0, 0x80, 0x800, 0x10000};

// Code points of standard UTF-8 text; false when the text is not valid UTF-8
// (overlong forms, surrogates, values above U+10FFFF, stray or missing
// continuation bytes).
bool decodeUtf8(const std::string& text, std::vector<std::uint32_t>& codePoints) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t length = 0;
        std::uint32_t value = 0;
        if (!readSequence(text, i, 4, length, value) || value < MINIMUM_FOR_LENGTH[length] || value > 0x10FFFF ||
            (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        codePoints.push_back(value);
        i += length;
    }
    return true;
}

// Code points of modified UTF-8 text; aborts on anything JNI's NewStringUTF
// must not get.
std::vector<std::uint32_t> decodeModifiedUtf8(const std::string& text) {
    std::vector<std::uint32_t> units;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\0') {
            std::abort();  // a raw NUL would end the C string early
        }
        std::size_t length = 0;
        std::uint32_t value = 0;
        if (!readSequence(text, i, 3, length, value)) {
            std::abort();  // also a four-byte (or longer) lead
        }
        const bool nulPair = length == 2 && value == 0;
        if (value < MINIMUM_FOR_LENGTH[length] && !nulPair) {
            std::abort();  // overlong
        }
        units.push_back(value);
        i += length;
    }
    // UTF-16 units to code points: every surrogate must be part of a pair.
    std::vector<std::uint32_t> codePoints;
    for (std::size_t k = 0; k < units.size(); ++k) {
        const std::uint32_t unit = units[k];
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            std::abort();
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (k + 1 >= units.size() || units[k + 1] < 0xDC00 || units[k + 1] > 0xDFFF) {
                std::abort();
            }
            codePoints.push_back(0x10000 + ((unit - 0xD800) << 10) + (units[k + 1] - 0xDC00));
            ++k;
            continue;
        }
        codePoints.push_back(unit);
    }
    return codePoints;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string output = corvane::jvm::toModifiedUtf8(input.data(), input.size());
    const std::vector<std::uint32_t> decoded = decodeModifiedUtf8(output);

    std::vector<std::uint32_t> original;
    if (decodeUtf8(input, original)) {
        if (decoded != original) {
            std::abort();  // valid text must survive unchanged
        }
        bool bmpWithoutNul = true;
        for (const std::uint32_t c : original) {
            bmpWithoutNul = bmpWithoutNul && c != 0 && c < 0x10000;
        }
        if (bmpWithoutNul && output != input) {
            std::abort();  // and valid BMP text comes back byte for byte
        }
    } else {
        bool replaced = false;
        for (const std::uint32_t c : decoded) {
            replaced = replaced || c == 0xFFFD;
        }
        if (!replaced) {
            std::abort();  // an invalid sequence is never dropped silently
        }
    }
    return 0;
}
