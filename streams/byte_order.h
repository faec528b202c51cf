#pragma once

#include <cstdint>
#include <string>

// Little-endian numbers of package files and keys, loaded from bytes or appended to byte strings.

// The size-byte (at most 4) little-endian number at data.
inline std::uint32_t LoadLittleEndian(const void* data, int size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

// Stores the low size bytes of value at out, lowest first.
inline void StoreLittleEndian(void* out, std::uint64_t value, int size) {
  auto* bytes = static_cast<std::uint8_t*>(out);
  for (int i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// Appends the low size bytes of value, lowest first.
inline void AppendLittleEndian(std::string& bytes, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes.push_back(static_cast<char>(value >> (8 * i)));
  }
}

// Appends text and NUL bytes up to size, as a fixed-size name field; text must not be longer.
inline void AppendPadded(std::string& bytes, const std::string& text, std::size_t size) {
  bytes += text;
  bytes.append(size - text.size(), '\0');
}
