#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flows/net_datagram.h"
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
  kFailed,       // a file could not be read; nothing more is answered
};

// Name of a state as progress lines show it.
const char* RouterStateName(RouterState state);

struct RouterSession {
  RouterSession() = default;
  ~RouterSession();  // closes the file being sent
  RouterSession(const RouterSession&) = delete;
  RouterSession& operator=(const RouterSession&) = delete;

  uint8_t address[kHardwareAddressSize] = {};        // the router
  uint8_t serverAddress[kHardwareAddressSize] = {};  // our interface it talks to
  size_t interfaceIndex = 0;
  RouterState state = RouterState::kOffered;
  std::string profile;
  std::vector<ServedFile> files;  // in the order they are sent

  uint16_t sendCounter = 0;  // sequence number of our last answer
  uint16_t lastRequest = 0;  // the router's sequence number that `answer` answers
  uint8_t answer[kDatagramSize] = {};
  int answerLength = 0;  // 0: nothing to send again

  size_t nextFile = 0;      // index into files of the next FILE header
  int fileDescriptor = -1;  // the file whose data is being sent
  int64_t fileLeft = 0;     // its bytes not sent yet

  uint32_t filesSent = 0;
  uint64_t bytesSent = 0;
  uint32_t repeatedAnswers = 0;
  uint64_t startMicroseconds = 0;
  uint64_t lastHeard = 0;        // the server's datagram count when this router last spoke
  bool progressChanged = false;  // set when a progress line is due; the caller clears it
};

// What a request came to.
enum class RequestOutcome { kIgnored, kAnswered, kRepeated };

// Begins a driver conversation after a DRVR broadcast: the answer is OFDR (sequence 1, ack 0).
void StartDriverConversation(RouterSession* session, const ServedFile& driver);

// Begins an installation after a DSCV broadcast: the answer is OFFR with the profile's name as
// line 2 and "keep" as line 3 when the profile keeps the configuration.
void StartInstallation(RouterSession* session, const Profile& profile);

// Handles a request addressed to us. The same sequence number as the last answered request
// gives that answer again; the next one gets a new answer; anything else is ignored.
RequestOutcome AnswerRequest(RouterSession* session, const DatagramHeader& header,
                             const uint8_t* payload);

// The release text of a DRVR payload: after the first line feed, up to a NUL or the end, at most
// 64 characters; empty when there is no line feed.
std::string DriverRelease(const uint8_t* payload, int length);

// The identity lines, disk label and architecture of a DSCV payload, each cut at 128 characters
// and with unprintable characters shown as "?".
std::vector<std::string> DiscoverLines(const uint8_t* payload, int length);

// Monotonic microseconds of the real clock (the server's waits are on sockets, not sleeps).
uint64_t ServerMicroseconds();
