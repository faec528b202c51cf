#include "streams/deflate_stream.h"

DeflateBuf::DeflateBuf(std::streambuf* destination) : destination(destination) {
  // Level 0: the destination receives a valid zlib stream of stored blocks.
  finished = deflateInit(&zlib, 0) != Z_OK;
  setp(area, area + kBufferSize - 1);
}

DeflateBuf::~DeflateBuf() {
  if (!Finish() && !finished) {
    // The end could not be written; the compression state is released all the same.
    deflateEnd(&zlib);
  }
}

DeflateBuf::int_type DeflateBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof()) || pptr() >= area + kBufferSize) {
    return traits_type::eof();
  }
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return sync() == 0 ? c : traits_type::eof();
}

int DeflateBuf::sync() {
  int pending = static_cast<int>(pptr() - pbase());
  // Bytes that could not be compressed are dropped, so that the put area never runs over.
  setp(area, area + kBufferSize - 1);
  if (finished) {
    return -1;
  }
  if (pending == 0) {
    return 0;
  }
  zlib.next_in = reinterpret_cast<Bytef*>(area);
  zlib.avail_in = pending;
  char out[kBufferSize];
  while (zlib.avail_in > 0) {
    zlib.next_out = reinterpret_cast<Bytef*>(out);
    zlib.avail_out = kBufferSize;
    if (deflate(&zlib, Z_NO_FLUSH) != Z_OK ||
        !Write(out, kBufferSize - static_cast<int>(zlib.avail_out))) {
      return -1;
    }
  }
  return 0;
}

bool DeflateBuf::Finish() {
  if (finished) {
    return false;
  }
  // A failure here still lets the stream be ended, so that the destination gets a whole stream.
  sync();
  char out[kBufferSize];
  for (;;) {
    zlib.next_out = reinterpret_cast<Bytef*>(out);
    zlib.avail_out = kBufferSize;
    int result = deflate(&zlib, Z_FINISH);
    if (result != Z_OK && result != Z_STREAM_END) {
      deflateEnd(&zlib);
      finished = true;
      return false;
    }
    if (!Write(out, kBufferSize - static_cast<int>(zlib.avail_out))) {
      return false;
    }
    if (result == Z_STREAM_END) {
      finished = true;
      return deflateEnd(&zlib) == Z_OK;
    }
  }
}

bool DeflateBuf::Write(const char* out, int size) {
  return size == 0 || destination->sputn(out, size) == size;
}

DeflateStream::DeflateStream(std::ostream& destination)
    : std::ostream(nullptr), buf(destination.rdbuf()) {
  rdbuf(&buf);
  if (buf.Finished()) {
    setstate(std::ios_base::badbit);
  }
}

bool DeflateStream::FinishDeflate() {
  if (buf.Finished()) {
    return false;
  }
  if (!buf.Finish()) {
    setstate(std::ios_base::badbit);
    return false;
  }
  return true;
}
