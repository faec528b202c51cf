#include "streams/part_buf.h"

#include <algorithm>
#include <cstring>

#include "streams/byte_order.h"
#include "streams/package_format.h"

namespace {

constexpr std::size_t kDiscardBlock = 4096;

const std::streambuf::pos_type kSeekFailed(std::streambuf::off_type(-1));

}  // namespace

PartBuf::PartBuf(std::streambuf* source, Hashing hashing, std::streambuf* tee)
    : source(source), tee(tee), hashing(hashing == Hashing::kOn) {}

bool PartBuf::ReadContainerHeader(std::uint8_t header[8]) {
  if (source->sgetn(reinterpret_cast<char*>(header), kContainerHeaderSize) !=
      kContainerHeaderSize) {
    return false;
  }
  position = kContainerHeaderSize;
  return Consume(reinterpret_cast<const char*>(header), kContainerHeaderSize, InDigest::kNo);
}

int PartBuf::Advance() {
  if (teeFailed) {
    return -1;
  }
  if (remaining > 0) {
    if (MaySeekSource() &&
        source->pubseekoff(remaining, std::ios_base::cur, std::ios_base::in) != kSeekFailed) {
      remaining = 0;
    } else if (!Discard(remaining)) {
      return -1;
    }
  }
  position += length;
  std::uint8_t header[kPartHeaderSize];
  if (source->sgetn(reinterpret_cast<char*>(header), kPartHeaderSize) != kPartHeaderSize) {
    FinishDigest();
    return -1;
  }
  int type = static_cast<int>(LoadLittleEndian(header, 2));
  if (type == PartHeader) {
    FinishDigest();
  }
  if (!Consume(reinterpret_cast<const char*>(header), kPartHeaderSize, InDigest::kYes)) {
    return -1;
  }
  position += kPartHeaderSize;
  length = remaining = LoadLittleEndian(header + 2, 4);
  return type;
}

void PartBuf::FinishDigest() {
  if (!hashing) {
    return;
  }
  hash.Digest(digest);
  digestReady = true;
}

bool PartBuf::ReadUnhashed(std::uint8_t* out, std::size_t size) {
  if (teeFailed || remaining < size) {
    return false;
  }
  std::streamsize got = source->sgetn(reinterpret_cast<char*>(out), size);
  if (got <= 0) {
    return false;
  }
  remaining -= got;
  return Consume(reinterpret_cast<const char*>(out), got, InDigest::kNo) &&
         got == static_cast<std::streamsize>(size);
}

bool PartBuf::TakeDigest(std::uint8_t out[20]) {
  if (!digestReady || teeFailed) {
    return false;
  }
  std::memcpy(out, digest, sizeof digest);
  digestReady = false;
  return true;
}

bool PartBuf::Consume(const char* data, std::size_t size, InDigest inDigest) {
  std::size_t again = std::min<std::uint64_t>(pendingSkip, size);
  pendingSkip -= again;
  data += again;
  size -= again;
  if (size == 0) {
    return true;
  }
  if (hashing && inDigest == InDigest::kYes) {
    hash.Update(data, size);
  }
  if (tee != nullptr && tee->sputn(data, size) != static_cast<std::streamsize>(size)) {
    teeFailed = true;
    return false;
  }
  return true;
}

bool PartBuf::Discard(std::uint64_t size) {
  char scratch[kDiscardBlock];
  while (size > 0) {
    std::streamsize block = std::min<std::uint64_t>(size, kDiscardBlock);
    if (xsgetn(scratch, block) != block) {
      return false;
    }
    size -= block;
  }
  return true;
}

std::streamsize PartBuf::showmanyc() {
  if (teeFailed || remaining == 0) {
    return -1;
  }
  std::streamsize available = source->in_avail();
  if (available < 0) {
    return -1;
  }
  return std::min<std::streamsize>(available, remaining);
}

std::streamsize PartBuf::xsgetn(char* out, std::streamsize size) {
  if (teeFailed || size <= 0) {
    return 0;
  }
  std::streamsize got = source->sgetn(out, std::min<std::streamsize>(size, remaining));
  if (got <= 0) {
    return 0;
  }
  remaining -= got;
  Consume(out, got, InDigest::kYes);
  return got;
}

PartBuf::int_type PartBuf::underflow() {
  if (teeFailed || remaining == 0) {
    return traits_type::eof();
  }
  return source->sgetc();
}

PartBuf::int_type PartBuf::uflow() {
  if (teeFailed || remaining == 0) {
    return traits_type::eof();
  }
  int_type c = source->sbumpc();
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return c;
  }
  --remaining;
  char byte = traits_type::to_char_type(c);
  Consume(&byte, 1, InDigest::kYes);
  return c;
}

PartBuf::int_type PartBuf::pbackfail(int_type c) {
  if (remaining >= length) {
    return traits_type::eof();
  }
  int_type back = traits_type::eq_int_type(c, traits_type::eof())
                      ? source->sungetc()
                      : source->sputbackc(traits_type::to_char_type(c));
  if (traits_type::eq_int_type(back, traits_type::eof())) {
    return back;
  }
  ++remaining;
  if (hashing || tee != nullptr) {
    ++pendingSkip;
  }
  return back;
}

PartBuf::pos_type PartBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                   std::ios_base::openmode which) {
  if (!(which & std::ios_base::in)) {
    return kSeekFailed;
  }
  // Unsigned arithmetic: a negative offset from the current position wraps around to a move back.
  std::uint64_t unsignedOffset = static_cast<std::uint64_t>(offset);
  std::uint64_t current = length - remaining;
  switch (direction) {
    case std::ios_base::beg:
      return SeekTo(unsignedOffset);
    case std::ios_base::cur:
      return SeekTo(current + unsignedOffset);
    case std::ios_base::end:
      return SeekTo(length - unsignedOffset);
    default:
      return kSeekFailed;
  }
}

PartBuf::pos_type PartBuf::seekpos(pos_type target, std::ios_base::openmode which) {
  return seekoff(off_type(target), std::ios_base::beg, which);
}

PartBuf::pos_type PartBuf::SeekTo(std::uint64_t target) {
  if (target > length) {
    return kSeekFailed;
  }
  std::uint64_t current = length - remaining;
  if (target == current) {
    return pos_type(off_type(target));
  }
  // The source moves relative to where it stands, so a container need not start at its offset 0.
  off_type move = static_cast<off_type>(target) - static_cast<off_type>(current);
  if (MaySeekSource() &&
      source->pubseekoff(move, std::ios_base::cur, std::ios_base::in) != kSeekFailed) {
    remaining = static_cast<std::uint32_t>(length - target);
    return pos_type(off_type(target));
  }
  if (target < current || !Discard(target - current)) {
    return kSeekFailed;
  }
  return pos_type(off_type(target));
}
