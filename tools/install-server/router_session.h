#pragma once

#include <sys/types.h>

#include <ctime>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/datagram.h"
#include "tools/install-server/served_directory.h"

// One router's conversation with install-server: which answer each request gets. No sockets
// here; the server loop sends what a call leaves in `answer`.

enum class RouterState {
  kDriverOffer,  // OFDR sent, waiting for the first RETR
  kDrivers,      // sending the driver package
  kOffered,      // OFFR sent, waiting for YACK
  kBound,        // YACK answered, waiting for STRT
  kInstalling,   // sending the profile's files
  kListEnded,    // a RETR got the end of the list
  kFarewell,     // WTRM answered with TERM
  kFailed,       // a file could not be sent; the router was told, and only repeats are answered
};

// Name of a state as progress lines show it.
const char* RouterStateName(RouterState state);

// True in the states of a router that has taken our offer and is being served.
bool IsBoundState(RouterState state);

// The server's count of open files, which every conversation shares: a conversation opens a
// file only while fewer than `limit` are open.
struct OpenFileCount {
  size_t open = 0;
  size_t limit = 0;
};

// A conversation takes about 4.4 KB whatever its profile: the last answer (one datagram), the
// counters and a reference to the shared profile.
struct RouterSession {
  RouterSession() = default;
  ~RouterSession();  // closes the file being sent
  RouterSession(const RouterSession&) = delete;
  RouterSession& operator=(const RouterSession&) = delete;

  uint8_t address[kHardwareAddressSize] = {};        // the router
  uint8_t serverAddress[kHardwareAddressSize] = {};  // our interface it talks to
  size_t interfaceIndex = 0;
  RouterState state = RouterState::kOffered;
  std::shared_ptr<const Profile> profile;  // the files in the order they are sent
  bool drivers = false;                    // a driver conversation: the profile is its one file
  std::vector<std::string> identity;  // the DSCV's lines as shown (at most 4 x 128), until bound
  OpenFileCount* openFiles = nullptr;

  uint16_t sendCounter = 0;  // sequence number of our last answer
  uint16_t lastRequest = 0;  // the router's sequence number that `answer` answers
  uint8_t answer[kDatagramSize] = {};
  int answerLength = 0;  // 0: nothing to send again

  size_t nextFile = 0;      // index into the profile's files of the next FILE header
  int fileDescriptor = -1;  // the file whose data is being sent; -1 also while it is set aside
  dev_t fileDevice = 0;     // the file as announced, to know it again when it is reopened
  ino_t fileInode = 0;
  timespec fileChanged = {};  // its status change time
  int64_t fileSize = 0;       // as announced
  int64_t fileOffset = 0;     // bytes of it sent
  bool inFile = false;        // between a FILE header and the empty datagram that ends the file
  uint64_t fileStartMicroseconds = 0;

  uint32_t filesSent = 0;
  uint64_t bytesSent = 0;
  uint32_t repeatedAnswers = 0;
  uint64_t startMicroseconds = 0;
  uint64_t lastHeard = 0;  // the clock when this router last spoke
  std::string failure;     // why the router was failed, naming the file

  bool progressChanged = false;  // set when a progress line may be due; the caller clears it
  RouterState shownState = RouterState::kFailed;  // what the last progress line showed
  uint32_t shownFiles = UINT32_MAX;
  bool warnedInterfaces = false;  // heard on a second interface, said once
};

// What a request came to.
enum class RequestOutcome { kIgnored, kAnswered, kRepeated };

// Begins a driver conversation after a DRVR broadcast: the answer is OFDR (sequence 1, ack 0).
void StartDriverConversation(RouterSession& session, const ServedFile& driver,
                             const std::string& root);

// Begins an installation after a DSCV broadcast: the answer is OFFR with the profile's name as
// line 2 and "keep" as line 3 when the profile keeps the configuration.
void StartInstallation(RouterSession& session, std::shared_ptr<const Profile> profile);

// Handles a request addressed to us. The same sequence number as the last answered request
// gives that answer again; the next one gets a new answer; anything else is ignored. A file that
// cannot be opened is announced with size -1 and one that ends early gets its end at once, both
// of which the router refuses visibly; the session is then failed with `failure` set.
RequestOutcome AnswerRequest(RouterSession& session, const DatagramHeader& header,
                             const uint8_t* payload);

// Closes the file being sent without ending it: the next data request reopens it and goes on,
// or fails the router when the file is not the one announced any more.
void SetFileAside(RouterSession& session);

// The name of the file being sent or last sent; empty before the first.
std::string CurrentFileName(const RouterSession& session);
