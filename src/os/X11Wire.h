// The byte-level pieces of the X11 wire format: padding to 4 bytes and the
// little-endian numbers of a connection opened as 'l'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace OS {

inline std::size_t pad4(std::size_t size) {
    return (4 - size % 4) % 4;
}

inline unsigned byteAt(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]);
}

inline std::uint32_t little16(const std::string& bytes, std::size_t at) {
    return byteAt(bytes, at) | byteAt(bytes, at + 1) << 8U;
}

inline std::uint32_t little32(const std::string& bytes, std::size_t at) {
    return little16(bytes, at) | little16(bytes, at + 2) << 16U;
}

inline void put16(std::string& bytes, std::uint32_t value) {
    bytes.push_back(static_cast<char>(value & 0xffU));
    bytes.push_back(static_cast<char>(value >> 8U & 0xffU));
}

inline void put32(std::string& bytes, std::uint32_t value) {
    put16(bytes, value & 0xffffU);
    put16(bytes, value >> 16U);
}

}  // namespace OS
