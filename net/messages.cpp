#include "net/messages.h"

#include <algorithm>
#include <cstring>

#include "net/datagram.h"

namespace {

constexpr size_t kMaxIdentityLine = 512;

std::string_view Payload(const uint8_t* datagram) {
  size_t length = std::min<size_t>(LoadDatagramHeader(datagram).payloadLength, kMaxPayload);
  return std::string_view(reinterpret_cast<const char*>(datagram + kDatagramHeaderSize), length);
}

}  // namespace

uint16_t WritePayload(uint8_t* datagram, std::string_view payload) {
  size_t length = std::min<size_t>(payload.size(), kMaxPayload);
  memcpy(datagram + kDatagramHeaderSize, payload.data(), length);
  return uint16_t(length);
}

std::string DiscoverPayload(std::string_view identity1, std::string_view identity2,
                            std::string_view label) {
  std::string payload = "DSCV\n";
  for (std::string_view line : {identity1, identity2, label, std::string_view("i386")}) {
    payload.append(line).push_back('\n');
  }
  payload.push_back('\0');
  return payload;
}

std::string DriverRequestPayload(std::string_view release) {
  std::string payload = "DRVR\n";
  payload.append(release).push_back('\0');
  return payload;
}

bool PayloadBegins(const uint8_t* datagram, std::string_view word) {
  return Payload(datagram).starts_with(word);
}

bool ReadOffer(const uint8_t* datagram, bool& keep) {
  std::string_view payload = Payload(datagram);
  size_t first = payload.find('\n');
  size_t second = first == payload.npos ? payload.npos : payload.find('\n', first + 1);
  if (second == payload.npos || second - first - 1 > kMaxIdentityLine) {
    return false;
  }
  std::string_view third = payload.substr(second + 1);
  keep = third.substr(0, third.find('\n')) == "keep";
  return true;
}
