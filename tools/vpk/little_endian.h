#pragma once

#include <cstdint>
#include <string>

// Little-endian integers of package files, appended to or read from byte strings.

// Appends the low size bytes of value, lowest first.
inline void AppendLittleEndian(std::string& bytes, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes.push_back(static_cast<char>(value >> (8 * i)));
  }
}

// Appends text and NUL bytes up to size; text must not be longer than size.
inline void AppendPadded(std::string& bytes, const std::string& text, std::size_t size) {
  bytes += text;
  bytes.append(size - text.size(), '\0');
}

// The size-byte little-endian number at data.
inline std::uint32_t ReadLittleEndian(const void* data, int size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = (value << 8) | bytes[i];
  }
  return value;
}
