#include "tools/install-server/router_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

void CloseFile(RouterSession* session) {
  if (session->fileDescriptor >= 0) {
    close(session->fileDescriptor);
    session->fileDescriptor = -1;
  }
}

// Stamps `answer` with the header of our next datagram to the router and the payload length.
void StampAnswer(RouterSession* session, uint16_t acknowledgement, int payloadLength) {
  DatagramHeader header;
  memcpy(header.source, session->serverAddress, kHardwareAddressSize);
  memcpy(header.destination, session->address, kHardwareAddressSize);
  header.payloadLength = uint16_t(payloadLength);
  header.sequence = ++session->sendCounter;
  header.acknowledgement = acknowledgement;
  StoreDatagramHeader(session->answer, header);
  session->answerLength = kDatagramHeaderSize + payloadLength;
}

void AnswerText(RouterSession* session, uint16_t acknowledgement, const std::string& text) {
  memcpy(session->answer + kDatagramHeaderSize, text.data(), text.size());
  StampAnswer(session, acknowledgement, int(text.size()));
}

// A new conversation: the router's counters start again at 0 after its broadcast, so the offer
// is sequence 1 with acknowledgement 0, and its first request after the offer is sequence 1.
void Restart(RouterSession* session, RouterState state) {
  CloseFile(session);
  session->state = state;
  session->sendCounter = 0;
  session->lastRequest = 0;
  session->nextFile = 0;
  session->filesSent = 0;
  session->bytesSent = 0;
  session->repeatedAnswers = 0;
  session->startMicroseconds = ServerMicroseconds();
  session->progressChanged = true;
}

bool OpenServedFile(RouterSession* session, const ServedFile& file) {
  session->fileDescriptor = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (session->fileDescriptor < 0) {
    fprintf(stderr, "install-server: cannot open %s: %s\n", file.path.c_str(), strerror(errno));
    return false;
  }
  session->fileLeft = file.size;
  return true;
}

// The next file's FILE header, or the end of the list as a datagram that is not one.
bool AnswerFileHeader(RouterSession* session, uint16_t acknowledgement) {
  if (session->nextFile == session->files.size()) {
    session->state = RouterState::kListEnded;
    session->progressChanged = true;
    AnswerText(session, acknowledgement, "DONE\n");
    return true;
  }
  const ServedFile& file = session->files[session->nextFile];
  if (!OpenServedFile(session, file)) {
    return false;
  }
  ++session->nextFile;
  session->progressChanged = true;
  AnswerText(session, acknowledgement,
             "FILE\n" + file.name + "\n" + std::to_string(file.size) + "\n");
  return true;
}

// The next block of the open file; the empty datagram after the last one ends the file.
bool AnswerFileData(RouterSession* session, uint16_t acknowledgement) {
  if (session->fileLeft == 0) {
    CloseFile(session);
    ++session->filesSent;
    session->progressChanged = true;
    StampAnswer(session, acknowledgement, 0);
    return true;
  }
  int64_t count = session->fileLeft < kMaxPayload ? session->fileLeft : kMaxPayload;
  ssize_t got = read(session->fileDescriptor, session->answer + kDatagramHeaderSize, size_t(count));
  if (got <= 0) {
    fprintf(stderr, "install-server: %s ended early or cannot be read\n",
            session->files[session->nextFile - 1].path.c_str());
    return false;
  }
  session->fileLeft -= got;
  session->bytesSent += uint64_t(got);
  StampAnswer(session, acknowledgement, int(got));
  return true;
}

// A file that cannot be read fails the router: telling it that the list ended would make it
// report a complete installation, so it is not answered any more.
bool AnswerRetrieve(RouterSession* session, uint16_t acknowledgement) {
  bool answered = session->fileDescriptor >= 0 ? AnswerFileData(session, acknowledgement)
                                               : AnswerFileHeader(session, acknowledgement);
  if (!answered) {
    CloseFile(session);
    session->state = RouterState::kFailed;
    session->progressChanged = true;
  }
  return answered;
}

bool Begins(const uint8_t* payload, int length, const char* word) {
  return length >= 4 && memcmp(payload, word, 4) == 0;
}

// The new answer to a request in the current state; false when it gets none.
bool AnswerNewRequest(RouterSession* session, const DatagramHeader& header,
                      const uint8_t* payload) {
  int length = header.payloadLength;
  RouterState state = session->state;
  if (Begins(payload, length, "YACK") && state == RouterState::kOffered) {
    session->state = RouterState::kBound;
    AnswerText(session, header.sequence, "OKAY\n");
    return true;
  }
  if (Begins(payload, length, "STRT") && state == RouterState::kBound) {
    session->state = RouterState::kInstalling;
    session->progressChanged = true;
    AnswerText(session, header.sequence, "OKAY\n");
    return true;
  }
  if (Begins(payload, length, "RETR") &&
      (state == RouterState::kDriverOffer || state == RouterState::kDrivers ||
       state == RouterState::kInstalling || state == RouterState::kListEnded)) {
    if (state == RouterState::kDriverOffer) {
      session->state = RouterState::kDrivers;
    }
    return AnswerRetrieve(session, header.sequence);
  }
  if (Begins(payload, length, "WTRM") && state != RouterState::kDriverOffer &&
      state != RouterState::kOffered) {
    session->state = RouterState::kFarewell;
    session->progressChanged = true;
    AnswerText(session, header.sequence, "TERM\n");
    return true;
  }
  return false;
}

// Payload text as a log shows it: at most 128 characters, unprintable ones as "?".
std::string Printable(const uint8_t* text, size_t length) {
  std::string shown;
  for (size_t i = 0; i < length && i < 128; ++i) {
    shown += text[i] >= ' ' && text[i] < 0x7f ? char(text[i]) : '?';
  }
  return shown;
}

}  // namespace

RouterSession::~RouterSession() {
  CloseFile(this);
}

const char* RouterStateName(RouterState state) {
  switch (state) {
    case RouterState::kDriverOffer:
      return "drivers offered";
    case RouterState::kDrivers:
      return "sending drivers";
    case RouterState::kOffered:
      return "offered";
    case RouterState::kBound:
      return "bound";
    case RouterState::kInstalling:
      return "installing";
    case RouterState::kListEnded:
      return "all files sent";
    case RouterState::kFarewell:
      return "finished";
    case RouterState::kFailed:
      return "failed";
  }
  return "?";
}

void StartDriverConversation(RouterSession* session, const ServedFile& driver) {
  Restart(session, RouterState::kDriverOffer);
  session->profile = "drivers";
  session->files = {driver};
  AnswerText(session, 0, "OFDR\n");
}

void StartInstallation(RouterSession* session, const Profile& profile) {
  Restart(session, RouterState::kOffered);
  session->profile = profile.name;
  session->files = profile.files;
  AnswerText(session, 0, "OFFR\n" + profile.name + "\n" + (profile.keep ? "keep\n" : ""));
}

RequestOutcome AnswerRequest(RouterSession* session, const DatagramHeader& header,
                             const uint8_t* payload) {
  if (session->state == RouterState::kFailed) {
    return RequestOutcome::kIgnored;
  }
  if (header.sequence == session->lastRequest && session->answerLength > 0 &&
      session->lastRequest != 0) {
    ++session->repeatedAnswers;
    return RequestOutcome::kRepeated;
  }
  if (header.sequence != uint16_t(session->lastRequest + 1)) {
    return RequestOutcome::kIgnored;
  }
  if (!AnswerNewRequest(session, header, payload)) {
    return RequestOutcome::kIgnored;
  }
  session->lastRequest = header.sequence;
  return RequestOutcome::kAnswered;
}

std::string DriverRelease(const uint8_t* payload, int length) {
  const uint8_t* end = payload + length;
  const uint8_t* start = static_cast<const uint8_t*>(memchr(payload, '\n', size_t(length)));
  if (start == nullptr) {
    return "";
  }
  ++start;
  const uint8_t* stop = static_cast<const uint8_t*>(memchr(start, 0, size_t(end - start)));
  size_t count = size_t((stop == nullptr ? end : stop) - start);
  return std::string(reinterpret_cast<const char*>(start), count > 64 ? 64 : count);
}

std::vector<std::string> DiscoverLines(const uint8_t* payload, int length) {
  std::vector<std::string> lines;
  const uint8_t* end = payload + length;
  const uint8_t* at = static_cast<const uint8_t*>(memchr(payload, '\n', size_t(length)));
  while (at != nullptr && at + 1 < end && lines.size() < 4) {
    const uint8_t* start = at + 1;
    at = static_cast<const uint8_t*>(memchr(start, '\n', size_t(end - start)));
    const uint8_t* stop = at == nullptr ? end : at;
    if (at == nullptr && stop > start && stop[-1] == 0) {
      --stop;
    }
    lines.push_back(Printable(start, size_t(stop - start)));
  }
  return lines;
}

uint64_t ServerMicroseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1000000 + uint64_t(now.tv_nsec) / 1000;
}
