#include "tools/install-load/load_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>

#include "net/acceptance.h"
#include "net/hardware_address.h"
#include "net/messages.h"
#include "net/timings.h"
#include "platform/platform.h"

namespace {

constexpr uint64_t kMicrosecondsPerSecond = 1000000;

enum class Phase {
  kDriverSearch,
  kDriverOpen,
  kDriverData,
  kSearch,
  kYack,
  kStart,
  kOpen,
  kData,
  kFarewell,
  kDone,
  kFailed
};

struct VirtualRouter {
  LoadResult result;
  Phase phase = Phase::kSearch;
  ClientConversation conversation;  // its own address is result.address
  uint8_t request[kDatagramSize] = {};
  int requestLength = 0;
  uint64_t attemptEnd = 0;
  uint64_t attemptLength = 0;
  int attemptsLeft = 0;
  int output = -1;
  uint64_t started = 0;
};

struct LoadRun {
  const LoadOptions* options;
  int socket = -1;
  std::vector<VirtualRouter> routers;
  std::map<uint64_t, size_t> byAddress;
};

void Send(LoadRun& run, VirtualRouter& router) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(kProtocolPort);
  destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  // A failed send is a lost request; the attempt's time runs out and it is sent again.
  (void)sendto(run.socket, router.request, size_t(router.requestLength), 0,
               reinterpret_cast<sockaddr*>(&destination), sizeof destination);
  router.attemptEnd = MonotonicMicroseconds() + router.attemptLength;
}

void Request(LoadRun& run, VirtualRouter& router, std::string_view payload, Phase phase,
             uint64_t attemptLength, int attempts) {
  memset(router.request, 0, sizeof router.request);
  uint16_t length = WritePayload(router.request, payload);
  StampRequest(router.conversation, router.request, length);
  router.requestLength = kDatagramHeaderSize + length;
  router.phase = phase;
  router.attemptLength = attemptLength;
  router.attemptsLeft = attempts;
  Send(run, router);
}

// A broadcast forgets the server and starts the counters again, as the installer's does.
void Broadcast(LoadRun& run, VirtualRouter& router, std::string_view payload, Phase phase) {
  RestartConversation(router.conversation);
  Request(run, router, payload, phase, kOfferWait, INT_MAX);
  RestartConversation(router.conversation);
}

// Both identity lines stay empty, as the installer sends them.
void Discover(LoadRun& run, VirtualRouter& router) {
  Broadcast(run, router, DiscoverPayload("", "", run.options->label), Phase::kSearch);
}

void CloseOutput(VirtualRouter& router) {
  if (router.output >= 0) {
    close(router.output);
    router.output = -1;
  }
}

void Fail(VirtualRouter& router, const char* why) {
  CloseOutput(router);
  router.phase = Phase::kFailed;
  router.result.failure = why;
}

// The installer's acceptance rules; a refused answer that repeats the last one is counted.
bool Accept(VirtualRouter& router, const uint8_t* datagram, int length) {
  Verdict verdict = JudgeDatagram(router.conversation, datagram, length);
  router.result.refusedRepeats += verdict == Verdict::kRepeated;
  return verdict == Verdict::kAccepted;
}

// An offer as the installer takes it; an OFFR also needs a second line of at most 512 characters.
bool TakeOffer(VirtualRouter& router, const uint8_t* datagram, int length, std::string_view word) {
  if (!TakeOffer(router.conversation, datagram, length, word)) {
    return false;
  }
  Offer offer;
  if (word == kOfferWord) {
    if (!ReadOffer(PayloadText(datagram), offer)) {
      return false;
    }
    router.result.offerLine = offer.profile;
    router.result.keep = offer.keep;
  }
  return true;
}

bool MakeDirectory(const std::string& path) {
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

// Opens where a received file goes, or nothing when the data is dropped. The names the installer
// refuses are refused here too.
bool OpenOutput(LoadRun& run, VirtualRouter& router, const std::string& name, bool driver) {
  if (name.empty()) {
    return false;
  }
  if (run.options->output.empty()) {
    return true;
  }
  std::string directory = run.options->output + "/" + HardwareAddressText(router.result.address);
  if (!MakeDirectory(directory) || (driver && !MakeDirectory(directory + "/driver"))) {
    return false;
  }
  std::string path = directory + (driver ? "/driver/" : "/") + name;
  router.output = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return router.output >= 0;
}

// A FILE header as the installer reads it; a name the installer refuses fails the router.
FileHeader OpenFile(LoadRun& run, VirtualRouter& router, std::string_view payload, bool driver) {
  std::string_view announced;
  int32_t size = 0;
  FileHeader header = ReadFileHeader(payload, announced, size);
  if (header != FileHeader::kOpened) {
    return header;
  }
  LoadFile file;
  file.name = UsableFileName(announced);
  file.size = size;
  if (!OpenOutput(run, router, file.name, driver)) {
    Fail(router, "couldn't make a file");
    return header;
  }
  if (driver) {
    router.result.driverName = file.name;
  }
  router.result.files.push_back(file);
  return header;
}

// WTRM every second until TERM arrives, as the installer does (it also stops at a key press,
// which a virtual router never gets; giveUpSeconds ends the wait).
void Farewell(LoadRun& run, VirtualRouter& router) {
  Request(run, router, kFarewell, Phase::kFarewell, kFarewellWait, INT_MAX);
}

void TakeData(LoadRun& run, VirtualRouter& router, const uint8_t* payload, int length) {
  bool driver = router.phase == Phase::kDriverData;
  if (length == 0) {
    CloseOutput(router);
    // The installer counts a file that ended short of its announced size as a broken transfer.
    if (router.result.files.back().received != router.result.files.back().size) {
      Fail(router, driver ? "could not install disk drivers" : "bad network connection");
      return;
    }
    if (driver) {
      router.result.files.clear();
      Discover(run, router);
    } else {
      Request(run, router, kRequestData, Phase::kOpen, kDataRequestWait, kDataRequestAttempts);
    }
    return;
  }
  router.result.files.back().received += length;
  if (!driver) {
    router.result.bytes += uint64_t(length);
  }
  if (router.output >= 0 && write(router.output, payload, size_t(length)) != length) {
    Fail(router, "installation failed");
    return;
  }
  Request(run, router, kRequestData, router.phase, kDataRequestWait, kDataRequestAttempts);
}

void TakeAnswer(LoadRun& run, VirtualRouter& router, const uint8_t* datagram, int length) {
  const uint8_t* payload = datagram + kDatagramHeaderSize;
  int payloadLength = length - kDatagramHeaderSize;
  std::string_view text(reinterpret_cast<const char*>(payload), size_t(payloadLength));
  switch (router.phase) {
    case Phase::kYack:
      Request(run, router, kStartInstallation, Phase::kStart, kHandshakeWait, kHandshakeAttempts);
      return;
    case Phase::kStart:
      Request(run, router, kRequestData, Phase::kOpen, kDataRequestWait, kDataRequestAttempts);
      return;
    case Phase::kDriverOpen:
    case Phase::kOpen: {
      bool driver = router.phase == Phase::kDriverOpen;
      FileHeader header = OpenFile(run, router, text, driver);
      if (driver && header != FileHeader::kOpened) {
        Fail(router, "could not retrieve disk drivers");
      } else if (header == FileHeader::kBroken) {
        Fail(router, "bad network connection");
      } else if (header == FileHeader::kNone) {
        Farewell(run, router);
      } else if (router.phase != Phase::kFailed) {
        Request(run, router, kRequestData, driver ? Phase::kDriverData : Phase::kData,
                kDataRequestWait, kDataRequestAttempts);
      }
      return;
    }
    case Phase::kDriverData:
    case Phase::kData:
      TakeData(run, router, payload, payloadLength);
      return;
    case Phase::kFarewell:
      if (text.starts_with(kFarewellAnswerWord)) {
        router.phase = Phase::kDone;
        router.result.finished = true;
        router.result.seconds =
            double(MonotonicMicroseconds() - router.started) / double(kMicrosecondsPerSecond);
      }
      return;
    default:
      return;
  }
}

void TakeDatagram(LoadRun& run, VirtualRouter& router, const uint8_t* datagram, int length) {
  if (router.phase == Phase::kDriverSearch) {
    if (TakeOffer(router, datagram, length, kDriverOfferWord)) {
      Request(run, router, kRequestData, Phase::kDriverOpen, kDataRequestWait,
              kDataRequestAttempts);
    }
    return;
  }
  if (router.phase == Phase::kSearch) {
    if (TakeOffer(router, datagram, length, kOfferWord)) {
      Request(run, router, kAcceptOffer, Phase::kYack, kHandshakeWait, kHandshakeAttempts);
    }
    return;
  }
  if (router.phase != Phase::kDone && router.phase != Phase::kFailed &&
      Accept(router, datagram, length)) {
    TakeAnswer(run, router, datagram, length);
  }
}

// An attempt whose time ran out: send again, or do what the installer does when all have failed.
void TimeOut(LoadRun& run, VirtualRouter& router) {
  if (--router.attemptsLeft > 0) {
    Send(run, router);
    return;
  }
  switch (router.phase) {
    case Phase::kYack:
      Discover(run, router);
      return;
    case Phase::kStart:
      return Fail(router, "server refused to install");
    case Phase::kOpen:
      // Only an answer ends the list; silence in the middle of it is a failure.
      return Fail(router, "the server stopped answering");
    case Phase::kDriverOpen:
      return Fail(router, "could not retrieve disk drivers");
    case Phase::kFarewell:
      return Fail(router, "no TERM");
    default:
      return Fail(router, "bad network connection");
  }
}

bool Active(const VirtualRouter& router) {
  return router.phase != Phase::kDone && router.phase != Phase::kFailed;
}

void Start(LoadRun& run, size_t index) {
  VirtualRouter& router = run.routers[index];
  uint64_t first = PackHardwareAddress(run.options->firstAddress);
  UnpackHardwareAddress(first + index, router.result.address);
  memcpy(router.conversation.ownAddress, router.result.address, kHardwareAddressSize);
  run.byAddress[first + index] = index;
  router.started = MonotonicMicroseconds();
  if (run.options->release.empty()) {
    Discover(run, router);
    return;
  }
  Broadcast(run, router, DriverRequestPayload(run.options->release), Phase::kDriverSearch);
}

void ReceiveAll(LoadRun& run) {
  uint8_t datagram[kDatagramSize];
  for (;;) {
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    ssize_t got = recvfrom(run.socket, datagram, sizeof datagram, 0,
                           reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got < 0) {
      return;
    }
    if (got < kDatagramHeaderSize || ntohs(sender.sin_port) != kProtocolPort) {
      continue;
    }
    auto found = run.byAddress.find(PackHardwareAddress(datagram + kDestinationOffset));
    if (found != run.byAddress.end()) {
      TakeDatagram(run, run.routers[found->second], datagram, int(got));
      // One router's next answer follows its next request: another receive now would find
      // nothing, one system call lost per datagram. Many routers' answers queue up meanwhile.
      if (run.routers.size() == 1) {
        return;
      }
    }
  }
}

// Waits for the socket until the earliest attempt ends; false when no router is active.
bool WaitForAnswers(LoadRun& run) {
  uint64_t earliest = UINT64_MAX;
  for (const VirtualRouter& router : run.routers) {
    if (Active(router) && router.attemptEnd < earliest) {
      earliest = router.attemptEnd;
    }
  }
  if (earliest == UINT64_MAX) {
    return false;
  }
  uint64_t now = MonotonicMicroseconds();
  uint64_t wait = earliest > now ? earliest - now : 0;
  timespec limit{time_t(wait / kMicrosecondsPerSecond), long(wait % kMicrosecondsPerSecond) * 1000};
  pollfd socketWait{run.socket, POLLIN, 0};
  if (ppoll(&socketWait, 1, &limit, nullptr) > 0) {
    ReceiveAll(run);
  }
  return true;
}

// The requests are broadcasts, which the kernel also hands back to this socket: a filter drops
// the datagrams whose source field is one of our routers before they are queued (offset 0 is
// the UDP header). Only when the routers' addresses share their first four bytes.
void DropOwnRequests(int socket, const LoadOptions& options) {
  uint64_t first = PackHardwareAddress(options.firstAddress);
  uint64_t end = first + uint64_t(options.clients);
  if (first >> 16 != (end - 1) >> 16 || (end & 0xffff) == 0) {
    return;
  }
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 8),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(first >> 16), 0, 3),
      BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, uint32_t(first & 0xffff), 0, 1),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, uint32_t(end & 0xffff), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, 0xffffffff),
      BPF_STMT(BPF_RET | BPF_K, 0),
  };
  sock_fprog program{sizeof code / sizeof code[0], code};
  // Without it the loop drops them by address, only more slowly.
  (void)setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

int OpenSocket(const std::string& interface) {
  int one = 1;
  int buffer = 8 << 20;
  int socketNumber = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kProtocolPort);
  if (socketNumber < 0 ||
      setsockopt(socketNumber, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0 ||
      setsockopt(socketNumber, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      setsockopt(socketNumber, SOL_SOCKET, SO_BINDTODEVICE, interface.c_str(),
                 socklen_t(interface.size())) != 0 ||
      bind(socketNumber, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    fprintf(stderr, "install-load: cannot listen on %s: %s\n", interface.c_str(), strerror(errno));
    if (socketNumber >= 0) {
      close(socketNumber);
    }
    return -1;
  }
  // Many routers share this socket; a larger buffer loses fewer answers (failure is harmless).
  (void)setsockopt(socketNumber, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  return socketNumber;
}

}  // namespace

bool RunLoadClients(const LoadOptions& options, std::vector<LoadResult>& results) {
  LoadRun run;
  run.options = &options;
  run.socket = OpenSocket(options.interface);
  if (run.socket < 0) {
    return false;
  }
  DropOwnRequests(run.socket, options);
  run.routers.resize(size_t(options.clients));
  for (size_t i = 0; i < run.routers.size(); ++i) {
    Start(run, i);
  }
  uint64_t giveUp =
      MonotonicMicroseconds() + uint64_t(options.giveUpSeconds) * kMicrosecondsPerSecond;
  while (MonotonicMicroseconds() < giveUp && WaitForAnswers(run)) {
    for (VirtualRouter& router : run.routers) {
      if (Active(router) && MonotonicMicroseconds() >= router.attemptEnd) {
        TimeOut(run, router);
      }
    }
  }
  close(run.socket);
  for (VirtualRouter& router : run.routers) {
    if (Active(router)) {
      Fail(router, "gave up");
    }
    results.push_back(router.result);
  }
  return true;
}
