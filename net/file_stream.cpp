#include "net/file_stream.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "net/exchange.h"
#include "net/messages.h"

namespace {

constexpr size_t kUsedNameLength = 31;

// One RETR, its answer in the stream's buffer; the answer's payload length, or -1.
int RequestData(NetFileStream& stream) {
  if (stream.interface == nullptr) {
    return -1;
  }
  uint8_t request[kDatagramSize] = {};
  FillHeader(*stream.session, request, WritePayload(request, kRequestData));
  int length = Exchange(*stream.interface, *stream.session, request, stream.buffer,
                        kDataRequestWait, kDataRequestAttempts);
  return length < 0 ? -1 : length - kDatagramHeaderSize;
}

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

}  // namespace

NetFileStream& ReplaceCurrentFile(NetSession& session) {
  session.currentFile = std::make_unique<NetFileStream>();
  session.currentFile->interface = SelectedInterface(session);
  session.currentFile->session = &session;
  return *session.currentFile;
}

FileHeader OpenNextFile(NetFileStream& stream) {
  stream.size = 0;
  stream.available = 0;
  stream.position = 0;
  stream.delivered = 0;
  return ReadFileHeader(stream, RequestData(stream));
}

FileHeader ReadFileHeader(NetFileStream& stream, int payloadLength) {
  std::string_view payload(reinterpret_cast<const char*>(stream.buffer + kDatagramHeaderSize),
                           std::clamp(payloadLength, 0, kMaxPayload));
  if (payloadLength < 0 || !payload.starts_with("FILE")) {
    stream.name[0] = '\0';
    return payloadLength < 0 ? FileHeader::kNoReply : FileHeader::kNone;
  }
  std::string_view name = PayloadLine(payload, 1).substr(0, sizeof stream.name - 1);
  name.copy(stream.name, name.size());  // the view of a missing line has no data at all
  stream.name[name.size()] = '\0';
  return ParseSize(PayloadLine(payload, 2), stream.size) ? FileHeader::kOpened
                                                         : FileHeader::kBroken;
}

std::string UsableFileName(const NetFileStream& stream) {
  std::string name(stream.name, strnlen(stream.name, kUsedNameLength));
  bool plain = name != "." && name != ".." && name.find('/') == name.npos;
  return plain ? name : "";
}

int ReadFileData(NetFileStream& stream, uint8_t* buffer, size_t maximum) {
  if (stream.position == stream.available) {
    int length = RequestData(stream);
    if (length < 0) {
      return -1;
    }
    stream.available = uint32_t(length);
    stream.position = 0;
    if (length == 0) {
      // A server that ends the file early would leave a package cut short.
      return stream.delivered < uint64_t(stream.size) ? -1 : 0;
    }
  }
  size_t count = std::min<size_t>(maximum, stream.available - stream.position);
  memcpy(buffer, stream.buffer + kDatagramHeaderSize + stream.position, count);
  stream.position += uint32_t(count);
  stream.delivered += count;
  return int(count);
}
