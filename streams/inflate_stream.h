#pragma once

#include <zlib.h>

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>

#include "streams/inflate_options.h"

class InflateAhead;

// A stream buffer that decompresses what it reads from a source buffer (not owned), 4096 bytes
// per underflow. Corrupt data and a source that ends early both read as end of file. One byte can
// be put back right after an underflow.
class InflateBuf : public std::streambuf {
 public:
  // kAhead falls back to kInReader when no helper thread can be started.
  InflateBuf(std::streambuf* source, Framing framing, Inflating where = Inflating::kInReader);
  ~InflateBuf() override;
  InflateBuf(const InflateBuf&) = delete;
  InflateBuf& operator=(const InflateBuf&) = delete;

  // True once the compressed data has reached its own end (for zlib format, a matching checksum);
  // stays false after corrupt data or a source that ran dry, which also read as end of file.
  bool ReachedStreamEnd() const { return streamEnded; }

 protected:
  // Decompresses up to 4096 bytes into the get area, keeping the previous area's last byte for
  // put-back; end of file at the end of the data, on corrupt data or when the source runs dry.
  int_type underflow() override;
  // Only forward moves: relative to the current position, or to an absolute position not behind
  // it; the bytes in between are decompressed and dropped. Seeks from the end fail.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type target, std::ios_base::openmode which) override;
  // Reads of a whole buffer or more are decompressed straight into out, not through the get
  // area; the last byte read stays available for put-back.
  std::streamsize xsgetn(char* out, std::streamsize size) override;

 private:
  static constexpr int kBufferSize = 4096;
  // Compressed bytes are read in larger pieces: inflate's fast loop stops short of every end
  // of its input, and each piece costs a pass through the part reader.
  static constexpr int kInputSize = 32768;

  // Decompresses into out (size bytes) until at least one byte comes out. Returns the count, or
  // 0 at the end of the data, on corrupt data or when the source runs dry.
  int Inflate(char* out, int size);
  // Checksums count new output bytes and notes the input that inflate consumed from consumed on;
  // false when the stream has just ended with a trailer that does not match.
  bool Check(const char* output, int count, const Bytef* consumed);
  // Decompresses and drops size bytes; false when the data ends first.
  bool Skip(std::uint64_t size);
  // Decompressed offset of the next byte that a read returns.
  std::uint64_t Position() const { return produced - (egptr() - gptr()); }

  std::streambuf* source;
  std::unique_ptr<InflateAhead> ahead;  // null: inflated here
  // One put-back byte followed by the get area.
  char output[1 + kBufferSize];
  char input[kInputSize];
  z_stream zlib = {};
  bool initialised = false;
  bool streamEnded = false;
  // The zlib format's checksum is computed here (zlib's own is slower) and compared with the
  // trailer, the last four bytes that inflate consumed; a mismatch leaves the stream broken.
  bool checking = false;
  bool broken = false;
  std::uint32_t checksum = 1;
  std::uint8_t lastConsumed[4] = {};
  std::uint64_t produced = 0;
};

// An input stream of the decompressed content read from another input stream; owns its buffer.
class InflateStream : public std::istream {
 public:
  InflateStream(std::istream& source, Framing framing, Inflating where = Inflating::kInReader);

  // See InflateBuf::ReachedStreamEnd: tells a complete stream from a damaged or cut one.
  bool ReachedStreamEnd() const { return buf.ReachedStreamEnd(); }

 private:
  InflateBuf buf;
};
