#include "net/messages.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "net/datagram.h"

namespace {

constexpr size_t kMaxIdentityLine = 512;
constexpr size_t kUsedNameLength = 31;
constexpr size_t kMaxReleaseLength = 64;
constexpr size_t kShownLineLength = 128;
constexpr size_t kDiscoverLineCount = 4;
constexpr std::string_view kArchitecture = "i386";

// The text of the payload's line `index` (0 is the word), empty where the payload ends first.
std::string_view PayloadLine(std::string_view payload, int index) {
  for (; index > 0; --index) {
    size_t end = payload.find('\n');
    payload = end == payload.npos ? std::string_view() : payload.substr(end + 1);
  }
  return payload.substr(0, payload.find('\n'));
}

bool ParseSize(std::string_view text, int32_t& size) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
  return !text.empty() && error == std::errc() && end == text.data() + text.size() && size >= 0;
}

// Payload text as a log shows it: cut to its length, unprintable characters as "?".
std::string Printable(std::string_view text) {
  std::string shown;
  for (char c : text.substr(0, kShownLineLength)) {
    shown += c >= ' ' && c < 0x7f ? c : '?';
  }
  return shown;
}

}  // namespace

uint16_t WritePayload(uint8_t* datagram, std::string_view payload) {
  size_t length = std::min<size_t>(payload.size(), kMaxPayload);
  memcpy(datagram + kDatagramHeaderSize, payload.data(), length);
  return uint16_t(length);
}

std::string_view PayloadText(const uint8_t* datagram) {
  size_t length = std::min<size_t>(LoadDatagramHeader(datagram).payloadLength, kMaxPayload);
  return std::string_view(reinterpret_cast<const char*>(datagram + kDatagramHeaderSize), length);
}

bool PayloadBegins(const uint8_t* datagram, std::string_view word) {
  return PayloadText(datagram).starts_with(word);
}

std::string DiscoverPayload(std::string_view identity1, std::string_view identity2,
                            std::string_view label) {
  std::string payload(kDiscoverWord);
  payload.push_back('\n');
  for (std::string_view line : {identity1, identity2, label, kArchitecture}) {
    payload.append(line).push_back('\n');
  }
  payload.push_back('\0');
  return payload;
}

std::string DriverRequestPayload(std::string_view release) {
  std::string payload(kDriverRequestWord);
  payload.push_back('\n');
  payload.append(release).push_back('\0');
  return payload;
}

std::string OfferPayload(std::string_view profile, bool keep) {
  std::string payload(kOfferWord);
  payload.append("\n").append(profile).append("\n");
  return keep ? payload + "keep\n" : payload;
}

std::string FileHeaderPayload(std::string_view name, int64_t size) {
  std::string payload(kFileWord);
  return payload.append("\n").append(name).append("\n" + std::to_string(size) + "\n");
}

bool ReadOffer(std::string_view payload, Offer& offer) {
  size_t first = payload.find('\n');
  size_t second = first == payload.npos ? payload.npos : payload.find('\n', first + 1);
  if (second == payload.npos || second - first - 1 > kMaxIdentityLine) {
    return false;
  }
  offer.profile = payload.substr(first + 1, second - first - 1);
  std::string_view third = payload.substr(second + 1);
  offer.keep = third.substr(0, third.find('\n')) == "keep";
  return true;
}

FileHeader ReadFileHeader(std::string_view payload, std::string_view& name, int32_t& size) {
  if (!payload.starts_with(kFileWord)) {
    return FileHeader::kNone;
  }
  name = PayloadLine(payload, 1);
  return ParseSize(PayloadLine(payload, 2), size) ? FileHeader::kOpened : FileHeader::kBroken;
}

std::string UsableFileName(std::string_view announced) {
  std::string name(announced.substr(0, kUsedNameLength));
  name = name.substr(0, name.find('\0'));
  bool plain = name != "." && name != ".." && name.find('/') == name.npos;
  return plain ? name : "";
}

std::string DriverRelease(std::string_view payload) {
  size_t start = payload.find('\n');
  if (start == payload.npos) {
    return "";
  }
  std::string_view release = payload.substr(start + 1);
  return std::string(release.substr(0, std::min(release.find('\0'), kMaxReleaseLength)));
}

std::vector<std::string> DiscoverLines(std::string_view payload) {
  std::vector<std::string> lines;
  size_t at = payload.find('\n');
  while (at != payload.npos && at + 1 < payload.size() && lines.size() < kDiscoverLineCount) {
    size_t start = at + 1;
    at = payload.find('\n', start);
    std::string_view line = payload.substr(start, at == payload.npos ? at : at - start);
    if (at == payload.npos && line.ends_with('\0')) {
      line.remove_suffix(1);
    }
    lines.push_back(Printable(line));
  }
  return lines;
}
