#include "jvm/ModifiedUtf8.h"

namespace corvane::jvm {

namespace {

const char REPLACEMENT_CHARACTER[] = "\xEF\xBF\xBD";

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

void appendThreeByteUnit(std::string& out, unsigned int unit) {
    out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
    out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
}

void appendSurrogatePair(std::string& out, unsigned int codePoint) {
    const unsigned int offset = codePoint - 0x10000;
    appendThreeByteUnit(out, 0xD800 | (offset >> 10));
    appendThreeByteUnit(out, 0xDC00 | (offset & 0x3FF));
}

// Length of the sequence a lead byte starts (0: not a lead byte), and the
// range its second byte must lie in, which rules out overlong forms,
// surrogates and code points above U+10FFFF.
int sequenceLength(unsigned char lead, unsigned char& secondMin, unsigned char& secondMax) {
    secondMin = 0x80;
    secondMax = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (lead == 0xE0) {
            secondMin = 0xA0;
        } else if (lead == 0xED) {
            secondMax = 0x9F;
        }
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (lead == 0xF0) {
            secondMin = 0x90;
        } else if (lead == 0xF4) {
            secondMax = 0x8F;
        }
        return 4;
    }
    return 0;
}

}  // namespace

std::string toModifiedUtf8(const char* bytes, std::size_t length) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    std::string out;
    out.reserve(length);
    std::size_t i = 0;
    while (i < length) {
        const unsigned char lead = in[i];
        if (lead >= 0x01 && lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        if (lead == 0x00) {
            out.append("\xC0\x80");
            ++i;
            continue;
        }
        unsigned char secondMin = 0;
        unsigned char secondMax = 0;
        const int expected = sequenceLength(lead, secondMin, secondMax);
        if (expected == 0) {
            out.append(REPLACEMENT_CHARACTER);
            ++i;
            continue;
        }
        // Take the longest valid prefix; an incomplete one is replaced as one unit.
        int taken = 1;
        while (taken < expected && i + taken < length) {
            const unsigned char next = in[i + taken];
            const bool ok = taken == 1 ? (next >= secondMin && next <= secondMax) : isContinuation(next);
            if (!ok) {
                break;
            }
            ++taken;
        }
        if (taken < expected) {
            out.append(REPLACEMENT_CHARACTER);
            i += static_cast<std::size_t>(taken);
            continue;
        }
        if (expected < 4) {
            out.append(bytes + i, static_cast<std::size_t>(expected));
        } else {
            const unsigned int codePoint = ((lead & 0x07u) << 18) | ((in[i + 1] & 0x3Fu) << 12) |
                                           ((in[i + 2] & 0x3Fu) << 6) | (in[i + 3] & 0x3Fu);
            appendSurrogatePair(out, codePoint);
        }
        i += static_cast<std::size_t>(expected);
    }
    return out;
}

}  // namespace corvane::jvm
