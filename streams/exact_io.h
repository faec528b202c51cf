#pragma once

#include <cstddef>
#include <istream>

// Whole reads and writes: a short transfer is a failure, never a partial success.

// Reads exactly size bytes of in into out; false when in ends or fails first.
bool ReadExactly(std::istream& in, void* out, std::size_t size);

// Writes all size bytes of data to the descriptor, retrying after signals; false (errno set) on
// the first error or when nothing could be written.
bool WriteAll(int descriptor, const void* data, std::size_t size);

// Copies everything that can be read from in to out, retrying after signals; false (errno set)
// on a read or write error.
bool CopyAll(int in, int out);
