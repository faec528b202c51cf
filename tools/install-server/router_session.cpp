#include "tools/install-server/router_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/messages.h"
#include "platform/platform.h"

namespace {

void CloseFile(RouterSession& session) {
  if (session.fileDescriptor >= 0) {
    close(session.fileDescriptor);
    session.fileDescriptor = -1;
    if (session.openFiles != nullptr) {
      --session.openFiles->open;
    }
  }
}

// Stamps `answer` with the header of our next datagram to the router and the payload length.
void StampAnswer(RouterSession& session, uint16_t acknowledgement, int payloadLength) {
  DatagramHeader header;
  memcpy(header.source, session.serverAddress, kHardwareAddressSize);
  memcpy(header.destination, session.address, kHardwareAddressSize);
  header.payloadLength = uint16_t(payloadLength);
  header.sequence = ++session.sendCounter;
  header.acknowledgement = acknowledgement;
  StoreDatagramHeader(session.answer, header);
  session.answerLength = kDatagramHeaderSize + payloadLength;
}

void AnswerText(RouterSession& session, uint16_t acknowledgement, std::string_view text) {
  memcpy(session.answer + kDatagramHeaderSize, text.data(), text.size());
  StampAnswer(session, acknowledgement, int(text.size()));
}

// A new conversation: the router's counters start again at 0 after its broadcast, so the offer
// is sequence 1 with acknowledgement 0, and its first request after the offer is sequence 1.
void Restart(RouterSession& session, RouterState state) {
  CloseFile(session);
  session.state = state;
  session.sendCounter = 0;
  session.lastRequest = 0;
  session.nextFile = 0;
  session.inFile = false;
  session.filesSent = 0;
  session.bytesSent = 0;
  session.repeatedAnswers = 0;
  session.failure.clear();
  session.startMicroseconds = MonotonicMicroseconds();
  session.progressChanged = true;
}

const ServedFile& CurrentFile(const RouterSession& session) {
  return session.profile->files[session.nextFile - 1];
}

void Fail(RouterSession& session, const std::string& why) {
  CloseFile(session);
  session.inFile = false;
  session.state = RouterState::kFailed;
  session.failure = why;
  session.progressChanged = true;
}

// Opens the file and reads its identity and size from the open descriptor, so that what is
// announced is what is sent even when the file was replaced since the directory was read.
bool OpenServedFile(RouterSession& session, const ServedFile& file, struct stat* status) {
  if (session.openFiles != nullptr && session.openFiles->open >= session.openFiles->limit) {
    errno = EMFILE;
    return false;
  }
  int descriptor = OpenBeneath(session.profile->root, file.relative);
  if (descriptor < 0) {
    return false;
  }
  if (fstat(descriptor, status) != 0 || !S_ISREG(status->st_mode)) {
    close(descriptor);
    errno = EINVAL;
    return false;
  }
  session.fileDescriptor = descriptor;
  if (session.openFiles != nullptr) {
    ++session.openFiles->open;
  }
  return true;
}

// Why a file cannot be sent, as the router's summary says it.
std::string OpenFailure(const ServedFile& file, int error) {
  if (error == EXDEV || error == ELOOP) {
    return "cannot send " + file.name + ": it leads out of the served directory";
  }
  if (error == EINVAL) {
    return "cannot send " + file.name + ": not a regular file";
  }
  return "cannot send " + file.name + ": " + strerror(error);
}

// The next file's FILE header, or the end of the list as a datagram that is not one. A file that
// cannot be sent is announced with size -1, which the router refuses as a broken header: told
// that the list ended, it would report a complete installation.
void AnswerFileHeader(RouterSession& session, uint16_t acknowledgement) {
  if (session.nextFile == session.profile->files.size()) {
    session.state = RouterState::kListEnded;
    session.progressChanged = true;
    AnswerText(session, acknowledgement, kListEnd);
    return;
  }
  const ServedFile& file = session.profile->files[session.nextFile++];
  struct stat status;
  std::string refusal;
  if (!OpenServedFile(session, file, &status)) {
    refusal = OpenFailure(file, errno);
  } else if (status.st_size > kLargestFile ||
             session.sendCounter + AnswersForFile(status.st_size) + 2 > kMostAnswers) {
    refusal = "cannot send " + file.name + ": it grew to " + std::to_string(status.st_size) +
              " bytes, more than the conversation carries";
  }
  if (!refusal.empty()) {
    Fail(session, refusal);
    AnswerText(session, acknowledgement, FileHeaderPayload(file.name, -1));
    return;
  }
  session.fileDevice = status.st_dev;
  session.fileInode = status.st_ino;
  session.fileChanged = status.st_ctim;
  session.fileSize = status.st_size;
  session.fileOffset = 0;
  session.inFile = true;
  session.fileStartMicroseconds = MonotonicMicroseconds();
  session.progressChanged = true;
  AnswerText(session, acknowledgement, FileHeaderPayload(file.name, status.st_size));
}

// Opens the file again after it was set aside; false with the failure set when it is not the
// file that was announced.
bool ReopenFile(RouterSession& session) {
  const ServedFile& file = CurrentFile(session);
  struct stat status;
  if (!OpenServedFile(session, file, &status)) {
    Fail(session, OpenFailure(file, errno));
    return false;
  }
  if (status.st_dev != session.fileDevice || status.st_ino != session.fileInode ||
      status.st_ctim.tv_sec != session.fileChanged.tv_sec ||
      status.st_ctim.tv_nsec != session.fileChanged.tv_nsec) {
    Fail(session, file.name + " was replaced while it was sent");
    return false;
  }
  return true;
}

// The next block of the open file; the empty datagram after the last one ends the file. A file
// that ends early (it shrank) or cannot be read gets its end at once: the router sees fewer
// bytes than announced and stops with an error.
void AnswerFileData(RouterSession& session, uint16_t acknowledgement) {
  if (session.fileOffset == session.fileSize) {
    CloseFile(session);
    session.inFile = false;
    ++session.filesSent;
    session.progressChanged = true;
    StampAnswer(session, acknowledgement, 0);
    return;
  }
  if (session.fileDescriptor < 0 && !ReopenFile(session)) {
    StampAnswer(session, acknowledgement, 0);
    return;
  }
  int64_t left = session.fileSize - session.fileOffset;
  size_t count = size_t(left < kMaxPayload ? left : kMaxPayload);
  ssize_t got = pread(session.fileDescriptor, session.answer + kDatagramHeaderSize, count,
                      off_t(session.fileOffset));
  if (got <= 0) {
    const ServedFile& file = CurrentFile(session);
    Fail(session, got == 0 ? file.name + " ended after " + std::to_string(session.fileOffset) +
                                 " of " + std::to_string(session.fileSize) + " bytes"
                           : "cannot read " + file.name + ": " + strerror(errno));
    StampAnswer(session, acknowledgement, 0);
    return;
  }
  session.fileOffset += got;
  session.bytesSent += uint64_t(got);
  StampAnswer(session, acknowledgement, int(got));
}

bool Begins(const uint8_t* payload, int length, std::string_view word) {
  return std::string_view(reinterpret_cast<const char*>(payload), size_t(length)).starts_with(word);
}

// The new answer to a request in the current state; false when it gets none.
bool AnswerNewRequest(RouterSession& session, const DatagramHeader& header,
                      const uint8_t* payload) {
  int length = header.payloadLength;
  RouterState state = session.state;
  if (Begins(payload, length, kAcceptWord) && state == RouterState::kOffered) {
    session.state = RouterState::kBound;
    session.progressChanged = true;
    AnswerText(session, header.sequence, kAnswerOkay);
    return true;
  }
  if (Begins(payload, length, kStartWord) && state == RouterState::kBound) {
    session.state = RouterState::kInstalling;
    session.progressChanged = true;
    AnswerText(session, header.sequence, kAnswerOkay);
    return true;
  }
  if (Begins(payload, length, kRetrieveWord) &&
      (state == RouterState::kDriverOffer || state == RouterState::kDrivers ||
       state == RouterState::kInstalling || state == RouterState::kListEnded)) {
    if (state == RouterState::kDriverOffer) {
      session.state = RouterState::kDrivers;
      session.progressChanged = true;
    }
    session.inFile ? AnswerFileData(session, header.sequence)
                   : AnswerFileHeader(session, header.sequence);
    return true;
  }
  if (Begins(payload, length, kFarewellWord) && state != RouterState::kDriverOffer &&
      state != RouterState::kOffered) {
    session.state = RouterState::kFarewell;
    session.progressChanged = true;
    AnswerText(session, header.sequence, kFarewellAnswer);
    return true;
  }
  return false;
}

}  // namespace

RouterSession::~RouterSession() {
  CloseFile(*this);
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

bool IsBoundState(RouterState state) {
  return state == RouterState::kDrivers || state == RouterState::kBound ||
         state == RouterState::kInstalling || state == RouterState::kListEnded;
}

void StartDriverConversation(RouterSession& session, const ServedFile& driver,
                             const std::string& root) {
  Restart(session, RouterState::kDriverOffer);
  session.profile = std::make_shared<const Profile>(
      Profile{.root = root, .name = "drivers", .keep = false, .files = {driver}});
  session.drivers = true;
  AnswerText(session, 0, kDriverOffer);
}

void StartInstallation(RouterSession& session, std::shared_ptr<const Profile> profile) {
  Restart(session, RouterState::kOffered);
  session.profile = std::move(profile);
  session.drivers = false;
  const Profile& offered = *session.profile;
  AnswerText(session, 0, OfferPayload(offered.name, offered.keep));
}

RequestOutcome AnswerRequest(RouterSession& session, const DatagramHeader& header,
                             const uint8_t* payload) {
  if (header.sequence == session.lastRequest && session.answerLength > 0 &&
      session.lastRequest != 0) {
    ++session.repeatedAnswers;
    return RequestOutcome::kRepeated;
  }
  // A failed router was told so; only a lost refusal is sent again.
  if (session.state == RouterState::kFailed ||
      header.sequence != uint16_t(session.lastRequest + 1)) {
    return RequestOutcome::kIgnored;
  }
  if (!AnswerNewRequest(session, header, payload)) {
    return RequestOutcome::kIgnored;
  }
  session.lastRequest = header.sequence;
  return RequestOutcome::kAnswered;
}

void SetFileAside(RouterSession& session) {
  CloseFile(session);
}

std::string CurrentFileName(const RouterSession& session) {
  return session.nextFile == 0 ? "" : CurrentFile(session).name;
}
