#pragma once

// Splits a fuzz input into variable values: fields end at a 0x1E byte (or the
// input's end); a field that begins with "=" is a set variable with the rest
// as its value, any other field an unset one.

#include <cstddef>
#include <string>

namespace corvane::fuzz {

constexpr char FIELD_SEPARATOR = '\x1e';

// The next field's value (stored in `storage`) or null when unset; moves `at`
// past the field and its separator.
inline const char* takeField(const std::string& input, std::size_t& at, std::string& storage) {
    if (at > input.size()) {
        return nullptr;
    }
    std::size_t end = input.find(FIELD_SEPARATOR, at);
    if (end == std::string::npos) {
        end = input.size();
    }
    const std::string field = input.substr(at, end - at);
    at = end + 1;
    if (field.empty() || field[0] != '=') {
        return nullptr;
    }
    // Environment values are C strings: they end at the first NUL.
    storage = field.substr(1);
    storage = storage.substr(0, storage.find('\0'));
    return storage.c_str();
}

}  // namespace corvane::fuzz
