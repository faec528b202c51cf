#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/datagram.h"
#include "net/messages.h"

// Many routers' side of the network installation at once, for loading and testing install-server:
// each virtual router has its own hardware address and speaks exactly as the installer does
// (broadcasts, acceptance rules, retries and their times), but installs nothing; it only keeps
// the files it receives.

struct LoadOptions {
  std::string interface;
  uint8_t firstAddress[kHardwareAddressSize] = {0x02, 0, 0, 0, 0, 1};  // the others count up
  int clients = 1;
  std::string release;                   // kernel release for DRVR; empty: no driver conversation
  std::string label{kDefaultDiskLabel};  // the disk label sent in DSCV
  std::string output;                    // files go to OUTPUT/ADDRESS/NAME; empty: they are dropped
  int giveUpSeconds = 120;               // routers not finished by then count as failed
};

// One file as a virtual router received it.
struct LoadFile {
  std::string name;
  int64_t size = 0;      // as announced
  int64_t received = 0;  // data bytes that arrived
};

// What one virtual router went through.
struct LoadResult {
  uint8_t address[kHardwareAddressSize] = {};
  bool finished = false;  // TERM arrived after the file list
  std::string failure;    // why not, in the installer's words
  std::string driverName;
  std::string offerLine;  // line 2 of the OFFR
  bool keep = false;
  std::vector<LoadFile> files;
  uint64_t bytes = 0;
  double seconds = 0;           // from the first broadcast to TERM
  uint32_t refusedRepeats = 0;  // answers refused for carrying a sequence number seen already
};

// Runs options.clients virtual routers on one socket until each has finished or failed.
// False (with "install-load: ..." printed) when the socket cannot be set up.
bool RunLoadClients(const LoadOptions& options, std::vector<LoadResult>& results);
