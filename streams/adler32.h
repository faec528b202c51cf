#pragma once

#include <cstddef>
#include <cstdint>

// The Adler-32 checksum of the zlib format, continued over size more bytes from adler (1 for a
// new checksum). Uses the processor's vector instructions where it has them; the result is
// always zlib's.
std::uint32_t Adler32(std::uint32_t adler, const std::uint8_t* data, std::size_t size);
