#include "streams/inflate_stream.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

// Weak, so that a program linked without ISA-L (the static installer: Debian ships no static
// library of it) still links, with null addresses here, and inflates with zlib.
#pragma weak isal_inflate_init
#pragma weak isal_inflate

namespace {

const std::streambuf::pos_type kSeekFailed(std::streambuf::off_type(-1));

bool IsalLinked() {
  return &isal_inflate_init != nullptr && &isal_inflate != nullptr;
}

InflateEngine inflateEngine = IsalLinked() ? InflateEngine::kIsal : InflateEngine::kZlib;

// zlib's checks of the two-byte header, which ISA-L's are not the same as: deflate method,
// a window of at most 32 KiB, the check bits, and no preset dictionary.
bool ZlibHeaderValid(const unsigned char header[2]) {
  return (header[0] & 0x0f) == 8 && (header[0] >> 4) <= 7 &&
         (header[0] * 256 + header[1]) % 31 == 0 && (header[1] & 0x20) == 0;
}

}  // namespace

bool SelectInflateEngine(InflateEngine engine) {
  if (engine == InflateEngine::kIsal && !IsalLinked()) {
    return false;
  }
  inflateEngine = engine;
  return true;
}

InflateBuf::InflateBuf(std::streambuf* source, bool raw) : source(source) {
  if (inflateEngine == InflateEngine::kIsal) {
    isal.reset(new (std::nothrow) inflate_state);
  }
  if (isal != nullptr) {
    isal_inflate_init(isal.get());
    // The zlib header is checked here, as zlib checks it; ISA-L then verifies the trailer.
    isal->crc_flag = raw ? ISAL_DEFLATE : ISAL_ZLIB_NO_HDR_VER;
    headerPending = !raw;
    initialised = true;
    return;
  }
  int result = raw ? inflateInit2(&zlib, -15) : inflateInit(&zlib);
  initialised = result == Z_OK;
}

InflateBuf::~InflateBuf() {
  if (initialised && isal == nullptr) {
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
  if (!initialised) {
    return 0;
  }
  if (isal != nullptr) {
    isal->next_out = reinterpret_cast<std::uint8_t*>(out);
    isal->avail_out = static_cast<std::uint32_t>(size);
  } else {
    zlib.next_out = reinterpret_cast<Bytef*>(out);
    zlib.avail_out = static_cast<uInt>(size);
  }
  // Inflate may succeed without output (an input block ending inside a block header); handing
  // out a byte then would repeat a stale one, so read on until output comes or the data ends.
  for (;;) {
    bool sourceDry = false;
    unsigned& inputLeft = isal != nullptr ? isal->avail_in : zlib.avail_in;
    if (inputLeft == 0) {
      std::streamsize got = source->sgetn(input, kBufferSize);
      sourceDry = got <= 0;
      inputLeft = sourceDry ? 0 : static_cast<unsigned>(got);
      if (isal != nullptr) {
        isal->next_in = reinterpret_cast<std::uint8_t*>(input);
      } else {
        zlib.next_in = reinterpret_cast<Bytef*>(input);
      }
    }
    // Even without new input, inflate is called: after a full output buffer it may still hold
    // decompressed bytes of input it has already consumed, as at the end of raw data.
    bool stepped = isal != nullptr ? StepIsal() : StepZlib();
    int count = size - OutputRoom();
    if (!stepped) {
      return 0;
    }
    if (count > 0 || streamEnded || sourceDry) {
      return count;
    }
  }
}

bool InflateBuf::StepZlib() {
  int result = inflate(&zlib, Z_PARTIAL_FLUSH);
  streamEnded = result == Z_STREAM_END;
  return result == Z_OK || result == Z_STREAM_END;
}

bool InflateBuf::StepIsal() {
  while (headerPending && isal->avail_in > 0) {
    header[headerSize++] = *isal->next_in++;
    --isal->avail_in;
    if (headerSize == 2) {
      headerPending = false;
      if (!ZlibHeaderValid(header)) {
        return false;
      }
    }
  }
  if (headerPending) {
    return true;
  }
  int result = isal_inflate(isal.get());
  // A wrong checksum is found with the state already at the end.
  bool ok = result == ISAL_DECOMP_OK || result == ISAL_END_INPUT || result == ISAL_OUT_OVERFLOW;
  streamEnded = ok && isal->block_state == ISAL_BLOCK_FINISH;
  return ok;
}

int InflateBuf::OutputRoom() const {
  return static_cast<int>(isal != nullptr ? isal->avail_out : zlib.avail_out);
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

InflateStream::InflateStream(std::istream& source, bool raw)
    : std::istream(nullptr), buf(source.rdbuf(), raw) {
  rdbuf(&buf);
}
