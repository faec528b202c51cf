#include "streams/inflate_stream.h"

#include <algorithm>
#include <cstring>

#include "streams/adler32.h"
#include "streams/inflate_ahead.h"

namespace {

const std::streambuf::pos_type kSeekFailed(std::streambuf::off_type(-1));

}  // namespace

InflateBuf::InflateBuf(std::streambuf* source, Framing framing, Inflating where) : source(source) {
  if (where == Inflating::kAhead) {
    ahead = std::make_unique<InflateAhead>(source, framing);
    if (ahead->Start()) {
      return;  // the helper keeps an inflater of its own
    }
    ahead.reset();
  }
  int result = framing == Framing::kRaw ? inflateInit2(&zlib, -15) : inflateInit(&zlib);
  initialised = result == Z_OK;
  checking = initialised && framing == Framing::kZlib && inflateValidate(&zlib, 0) == Z_OK;
}

InflateBuf::~InflateBuf() {
  if (initialised) {
    inflateEnd(&zlib);
  }
}

InflateBuf::int_type InflateBuf::underflow() {
  if (gptr() < egptr()) {
    return traits_type::to_int_type(*gptr());
  }
  bool keepByte = egptr() != nullptr;
  if (keepByte) {
    output[0] = egptr()[-1];
  }
  int count = Inflate(output + 1, kBufferSize);
  if (count == 0) {
    return traits_type::eof();
  }
  produced += count;
  setg(keepByte ? output : output + 1, output + 1, output + 1 + count);
  return traits_type::to_int_type(*gptr());
}

int InflateBuf::Inflate(char* out, int size) {
  if (ahead) {
    int count = ahead->Take(out, size);
    streamEnded = ahead->ReachedStreamEnd();
    return count;
  }
  if (!initialised || broken) {
    return 0;
  }
  zlib.next_out = reinterpret_cast<Bytef*>(out);
  zlib.avail_out = static_cast<uInt>(size);
  // Inflate may succeed without output (an input block ending inside a block header); handing
  // out a byte then would repeat a stale one, so read on until output comes or the data ends.
  for (;;) {
    bool sourceDry = false;
    if (zlib.avail_in == 0) {
      std::streamsize got = source->sgetn(input, kInputSize);
      sourceDry = got <= 0;
      zlib.next_in = reinterpret_cast<Bytef*>(input);
      zlib.avail_in = sourceDry ? 0 : static_cast<uInt>(got);
    }
    // Even without new input, inflate is called: after a full output buffer it may still hold
    // decompressed bytes of input it has already consumed, as at the end of raw data.
    int before = size - static_cast<int>(zlib.avail_out);
    const Bytef* consumed = zlib.next_in;
    int result = inflate(&zlib, Z_PARTIAL_FLUSH);
    int count = size - static_cast<int>(zlib.avail_out);
    if (result != Z_OK && result != Z_STREAM_END) {
      return 0;
    }
    streamEnded = result == Z_STREAM_END;
    if (checking && !Check(out + before, count - before, consumed)) {
      streamEnded = false;
      broken = true;
      return 0;
    }
    if (count > 0 || result == Z_STREAM_END || sourceDry) {
      return count;
    }
  }
}

bool InflateBuf::Check(const char* output, int count, const Bytef* consumed) {
  checksum = Adler32(checksum, reinterpret_cast<const std::uint8_t*>(output),
                     static_cast<std::size_t>(count));
  // Only the last four matter.
  if (zlib.next_in - consumed > 4) {
    consumed = zlib.next_in - 4;
  }
  for (; consumed < zlib.next_in; ++consumed) {
    std::memmove(lastConsumed, lastConsumed + 1, 3);
    lastConsumed[3] = *consumed;
  }
  std::uint32_t trailer = (std::uint32_t{lastConsumed[0]} << 24) |
                          (std::uint32_t{lastConsumed[1]} << 16) |
                          (std::uint32_t{lastConsumed[2]} << 8) | lastConsumed[3];
  return !streamEnded || trailer == checksum;
}

std::streamsize InflateBuf::xsgetn(char* out, std::streamsize size) {
  std::streamsize done = std::min<std::streamsize>(size, egptr() - gptr());
  if (done > 0) {
    std::memcpy(out, gptr(), static_cast<std::size_t>(done));
    gbump(static_cast<int>(done));
  }
  while (size - done >= kBufferSize) {
    int count =
        Inflate(out + done, static_cast<int>(std::min<std::streamsize>(size - done, 1 << 20)));
    if (count == 0) {
      return done;
    }
    produced += count;
    done += count;
    output[0] = out[done - 1];
    setg(output, output + 1, output + 1);
  }
  if (done < size) {
    done += std::streambuf::xsgetn(out + done, size - done);
  }
  return done;
}

bool InflateBuf::Skip(std::uint64_t size) {
  while (size > 0) {
    if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof())) {
      return false;
    }
    std::uint64_t step = std::min<std::uint64_t>(size, egptr() - gptr());
    gbump(static_cast<int>(step));
    size -= step;
  }
  return true;
}

InflateBuf::pos_type InflateBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                         std::ios_base::openmode which) {
  if (!(which & std::ios_base::in) || direction == std::ios_base::end) {
    return kSeekFailed;
  }
  std::uint64_t current = Position();
  if (direction == std::ios_base::beg) {
    offset -= static_cast<off_type>(current);
  }
  if (offset < 0 || !Skip(offset)) {
    return kSeekFailed;
  }
  return pos_type(off_type(Position()));
}

InflateBuf::pos_type InflateBuf::seekpos(pos_type target, std::ios_base::openmode which) {
  return seekoff(off_type(target), std::ios_base::beg, which);
}

InflateStream::InflateStream(std::istream& source, Framing framing, Inflating where)
    : std::istream(nullptr), buf(source.rdbuf(), framing, where) {
  rdbuf(&buf);
}
