#pragma once

#include <cstddef>
#include <string>

namespace corvane::jvm {

// Converts bytes meant as UTF-8 to the modified UTF-8 that JNI's NewStringUTF
// expects: characters outside the Basic Multilingual Plane become surrogate
// pairs (three bytes each), every invalid sequence becomes U+FFFD, a NUL byte
// becomes C0 80. Valid BMP text comes back byte for byte.
std::string toModifiedUtf8(const char* bytes, std::size_t length);

}  // namespace corvane::jvm
