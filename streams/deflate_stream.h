#pragma once

#include <zlib.h>

#include <ostream>
#include <streambuf>

// A stream buffer that compresses what is written to it into a destination buffer (not owned)
// as a zlib stream of stored blocks (level 0), 4096 bytes at a time.
class DeflateBuf : public std::streambuf {
 public:
  explicit DeflateBuf(std::streambuf* destination);
  // Finishes the compressed stream when that was not done yet.
  ~DeflateBuf() override;
  DeflateBuf(const DeflateBuf&) = delete;
  DeflateBuf& operator=(const DeflateBuf&) = delete;

  // Compresses what is pending and ends the compressed stream. Returns false when a write to the
  // destination comes up short, on a compression error, or when the stream was already ended.
  bool Finish();
  // True once the compressed stream has been ended (successfully or not).
  bool Finished() const { return finished; }

 protected:
  // Stores c in the reserved last byte and compresses the full put area; end of file when c is
  // end of file or compressing fails.
  int_type overflow(int_type c) override;
  // Compresses the pending bytes; 0 on success, -1 on failure or after Finish.
  int sync() override;

 private:
  static constexpr int kBufferSize = 4096;

  // Writes the first size bytes of out to the destination; false on a short write.
  bool Write(const char* out, int size);

  std::streambuf* destination;
  // The put area is one byte shorter, so overflow can store its character before compressing.
  char area[kBufferSize];
  z_stream zlib = {};
  bool finished = false;
};

// An output stream that compresses what is written to it into another output stream; owns its
// buffer. The compressed stream is ended by FinishDeflate, or by the destructor.
class DeflateStream : public std::ostream {
 public:
  explicit DeflateStream(std::ostream& destination);

  // Ends the compressed stream; false (with the bad state) when that fails, and false without a
  // change when it was already ended.
  bool FinishDeflate();

 private:
  DeflateBuf buf;
};
