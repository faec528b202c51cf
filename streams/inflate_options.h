#pragma once

// What the compressed bytes are: the zlib format (header, deflate data, Adler-32 trailer) or bare
// deflate data, as a file archive part holds.
enum class Framing { kZlib, kRaw };

// Where the decompressing is done: on the reading thread, or on a helper thread that keeps ahead
// of the reads (worth its start for a large archive; see inflate_ahead.h).
enum class Inflating { kInReader, kAhead };
