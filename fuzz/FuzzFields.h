#pragma once

// Splits a fuzz input into variable values: fields end at a 0x1E byte (or the
// input's end); a field that begins with "=" is a set variable with the rest
// as its value, any other field an unset one.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace corvane::fuzz {

constexpr char FIELD_SEPARATOR = '\x1e';

// Reads the fields in order; the values stay valid as long as the reader.
class FieldReader {
public:
    FieldReader(const std::uint8_t* data, std::size_t size) : input_(reinterpret_cast<const char*>(data), size) {}
    FieldReader(const FieldReader&) = delete;
    FieldReader& operator=(const FieldReader&) = delete;

    // The next field's value, or null when unset.
    const char* next() {
        if (at_ > input_.size()) {
            return nullptr;
        }
        std::size_t end = input_.find(FIELD_SEPARATOR, at_);
        if (end == std::string::npos) {
            end = input_.size();
        }
        const std::string field = input_.substr(at_, end - at_);
        at_ = end + 1;
        if (field.empty() || field[0] != '=') {
            return nullptr;
        }
        // Environment values are C strings: they end at the first NUL. A deque
        // keeps earlier values in place.
        values_.push_back(field.substr(1, field.find('\0') - 1));
        return values_.back().c_str();
    }

    // What follows the fields read so far.
    std::string rest() const { return at_ < input_.size() ? input_.substr(at_) : std::string(); }

private:
    std::string input_;
    std::size_t at_ = 0;
    std::deque<std::string> values_;
};

}  // namespace corvane::fuzz
