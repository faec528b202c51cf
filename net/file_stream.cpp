#include "net/file_stream.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "net/exchange.h"
#include "net/timings.h"

namespace {

// One RETR, its answer in the stream's buffer; the answer's payload length, or -1.
int RequestData(NetFileStream& stream) {
  if (stream.interface == nullptr) {
    return -1;
  }
  uint8_t request[kDatagramSize] = {};
  StampRequest(*stream.session, request, WritePayload(request, kRequestData));
  int length = Exchange(*stream.interface, *stream.session, request, stream.buffer,
                        kDataRequestWait, kDataRequestAttempts);
  return length < 0 ? -1 : length - kDatagramHeaderSize;
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
  stream.name[0] = '\0';
  if (payloadLength < 0) {
    return FileHeader::kNoReply;
  }
  std::string_view payload(reinterpret_cast<const char*>(stream.buffer + kDatagramHeaderSize),
                           std::min(payloadLength, kMaxPayload));
  std::string_view name;
  FileHeader header = ReadFileHeader(payload, name, stream.size);
  name = name.substr(0, sizeof stream.name - 1);
  name.copy(stream.name, name.size());  // the view of a missing line has no data at all
  stream.name[name.size()] = '\0';
  return header;
}

std::string UsableFileName(const NetFileStream& stream) {
  return UsableFileName(std::string_view(stream.name));
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
