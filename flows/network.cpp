#include "flows/network.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "console/console.h"
#include "disk/finish.h"
#include "disk/prepare.h"
#include "disk/tools.h"
#include "flows/installer_child.h"
#include "net/exchange.h"
#include "net/file_stream.h"
#include "net/hardware_address.h"
#include "net/interfaces.h"
#include "net/messages.h"
#include "net/timings.h"
#include "packages/roots.h"
#include "platform/kernel_modules.h"
#include "platform/pending_interrupt.h"
#include "platform/platform.h"

namespace {

constexpr size_t kBlockSize = 4096;
constexpr size_t kLabelLength = 63;
// No device identity source is built in: both identity lines stay empty.
constexpr std::string_view kIdentityLine1 = "";
constexpr std::string_view kIdentityLine2 = "";

bool PrepareInterfaces(NetSession& session) {
  ScanInterfaces(session.interfaces);
  session.broadcastCount = 0;
  if (session.interfaces.empty()) {
    puts("\nFATAL ERROR: no network card found");
    return false;
  }
  puts("");
  for (const NetInterface& interface : session.interfaces) {
    printf("mac-address: %s\n", HardwareAddressText(interface.hardwareAddress).c_str());
  }
  puts("");
  puts("Waiting for drivers...");
  return true;
}

std::string KernelRelease() {
  utsname system{};
  return uname(&system) == 0 ? system.release : "";
}

// Broadcasts the payload until an offer that begins with `word` answers it.
void BroadcastUntilOffer(NetSession& session, const std::string& payload, std::string_view word) {
  uint8_t reply[kDatagramSize];
  for (;;) {
    uint8_t datagram[kDatagramSize] = {};
    BroadcastRequest(session, datagram, WritePayload(datagram, payload));
    if (WaitForOffer(session, reply, word)) {
      return;
    }
  }
}

bool FetchDrivers(NetSession& session) {
  BroadcastUntilOffer(session, DriverRequestPayload(KernelRelease()), kDriverOfferWord);
  if (OpenNextFile(ReplaceCurrentFile(session)) != FileHeader::kOpened) {
    puts("\nFATAL ERROR: could not retrieve disk drivers");
    return false;
  }
  puts("Retrieving drivers...");
  Received drivers = ReceivePackages(session, {.keepImage = false, .quiet = true});
  if (drivers == Received::kNotInstalled) {
    puts("\nFATAL ERROR: could not install disk drivers");
  }
  return drivers == Received::kInstalled;
}

// The first line of the floppy's label file, or nothing without a floppy or file.
std::string ReadFloppyLabel() {
  if (MountFileSystem("/dev/fd0", "/floppy", "vfat", 0, nullptr) != 0) {
    return "";
  }
  char line[kLabelLength + 1] = {};
  FILE* file = fopen("/floppy/label.txt", "r");
  if (file != nullptr) {
    if (fgets(line, sizeof line, file) == nullptr) {
      line[0] = '\0';
    }
    fclose(file);
  }
  UnmountFileSystem("/floppy");  // nothing more is read from the floppy
  return line;
}

std::string DiskLabel() {
  std::string label;
  for (char c : ReadFloppyLabel()) {
    if (isalnum(static_cast<unsigned char>(c)) || ispunct(static_cast<unsigned char>(c))) {
      label.push_back(c);
    }
  }
  return label.empty() ? std::string(kDefaultDiskLabel) : label;
}

// Sends the request in an exchange on the selected interface, as YACK and STRT are sent.
bool HandshakeExchange(NetSession& session, std::string_view payload) {
  NetInterface* interface = SelectedInterface(session);
  uint8_t request[kDatagramSize] = {};
  uint8_t reply[kDatagramSize];
  StampRequest(session, request, WritePayload(request, payload));
  return interface != nullptr &&
         Exchange(*interface, session, request, reply, kHandshakeWait, kHandshakeAttempts) >= 0;
}

// One round of the handshake: a DSCV broadcast, an acceptable OFFR and an answered YACK.
bool OfferAccepted(NetSession& session, const std::string& label, bool& keep) {
  keep = false;
  uint8_t datagram[kDatagramSize] = {};
  BroadcastRequest(session, datagram,
                   WritePayload(datagram, DiscoverPayload(kIdentityLine1, kIdentityLine2, label)));
  uint8_t reply[kDatagramSize];
  Offer offer;
  do {
    if (!WaitForOffer(session, reply, kOfferWord)) {
      return false;
    }
  } while (!ReadOffer(PayloadText(reply), offer));
  keep = offer.keep;
  return HandshakeExchange(session, kAcceptOffer);
}

void FindServer(NetSession& session, const std::string& label, bool& keep) {
  puts("");
  puts("");
  puts("Waiting for installation server...");
  while (!OfferAccepted(session, label, keep)) {
  }
  printf("Found server at %s\n", HardwareAddressText(session.peerAddress).c_str());
  puts("");
}

bool IsConfigurationFile(const std::string& name) {
  return name.size() > 4 && name.ends_with(".scr");
}

// Copies the current file into the open descriptor; false after the step's message.
bool CopyFileData(NetFileStream& stream, int file) {
  uint8_t block[kBlockSize];
  for (;;) {
    int count = ReadFileData(stream, block, sizeof block);
    if (count < 0) {
      puts("\nFATAL ERROR: bad network connection");
      return false;
    }
    if (count == 0) {
      return true;
    }
    if (write(file, block, count) != count) {
      printf("\nFATAL ERROR: installation failed: %s\n", strerror(errno));
      return false;
    }
  }
}

bool WriteConfigurationFile(NetFileStream& stream, const std::string& name) {
  std::string path = stream.size == 0 ? SystemPath("/empty") : TargetPath("/" + name);
  puts("Writing configuration...");
  int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (file < 0) {
    puts("\nFATAL ERROR: couldn't make a file");
    return false;
  }
  bool copied = CopyFileData(stream, file);
  close(file);
  return copied;
}

// Receives the files the server sends until it says there are no more, counting the packages in
// the tally; false after a failure's message.
bool ReceiveFiles(NetSession& session, InstallTally& tally) {
  for (;;) {
    NetFileStream& stream = ReplaceCurrentFile(session);
    FileHeader header = OpenNextFile(stream);
    if (header == FileHeader::kNone) {
      return true;
    }
    if (header == FileHeader::kNoReply) {
      // Silence can also fall in the middle of the list: only an answer ends it.
      puts("\nFATAL ERROR: the server stopped answering");
      return false;
    }
    if (header == FileHeader::kBroken) {
      puts("\nFATAL ERROR: bad network connection");
      return false;
    }
    std::string name = UsableFileName(stream);
    if (name.empty()) {
      puts("\nFATAL ERROR: couldn't make a file");
      return false;
    }
    if (IsConfigurationFile(name)) {
      if (!WriteConfigurationFile(stream, name)) {
        return false;
      }
      continue;
    }
    Received package = ReceivePackages(session, {.keepImage = true, .quiet = false});
    if (package == Received::kFailed) {
      return false;
    }
    CountInstallation(tally, name, package == Received::kInstalled);
  }
}

// Waits up to a second after one WTRM; true when the farewell is over (TERM or a key).
bool FarewellAnswered(NetSession& session, NetInterface& interface) {
  uint8_t reply[kDatagramSize];
  pollfd inputs[2] = {{STDIN_FILENO, POLLIN, 0}, {interface.socket, POLLIN, 0}};
  uint64_t left = kFarewellWait;
  while (WaitReadable(inputs, 2, left)) {
    if (inputs[0].revents != 0) {
      return true;  // the key stays unread for the ending
    }
    int length = ReceiveDatagram(interface, reply);
    if (length < 0) {
      return false;
    }
    if (AcceptDatagram(session, reply, length) && PayloadBegins(reply, kFarewellAnswerWord)) {
      return true;
    }
  }
  return false;
}

// Repeats one WTRM, with its one sequence number, until the server or the user answers.
void SayFarewell(NetSession& session) {
  NetInterface* interface = SelectedInterface(session);
  uint8_t datagram[kDatagramSize] = {};
  StampRequest(session, datagram, WritePayload(datagram, kFarewell));
  if (interface == nullptr) {
    return;
  }
  do {
    if (!SendDatagram(*interface, datagram)) {
      // Sent again after the wait.
    }
  } while (!FarewellAnswered(session, *interface));
}

}  // namespace

Received ReceivePackages(NetSession& session, InstallerChildOptions options) {
  PipedChild child = StartInstallerChild(options);
  if (!child.IsOpen()) {
    puts("\nFATAL ERROR: couldn't start install");
    return Received::kFailed;
  }
  uint8_t block[kBlockSize];
  for (;;) {
    int count = session.currentFile ? ReadFileData(*session.currentFile, block, sizeof block) : -1;
    if (count < 0) {
      puts("\nFATAL ERROR: bad network connection");
    } else if (count > 0 && fwrite(block, 1, count, child.Stream()) != size_t(count)) {
      puts("");
      count = -1;
    }
    if (count <= 0) {
      bool installed = EndInstallerChild(child);
      if (count < 0) {
        return Received::kFailed;
      }
      return installed ? Received::kInstalled : Received::kNotInstalled;
    }
  }
}

bool InstallFromNetwork(TargetDisk& target) {
  ShowWelcome("remote installation");
  NetSession session;
  if (!PrepareInterfaces(session) || !FetchDrivers(session)) {
    return false;
  }
  puts("Loading drivers");
  LoadModuleList(diskDriverModules);
  LoadModuleList(usbModules);
  if (!FindTargetDisk(target)) {
    return false;
  }
  std::string label = DiskLabel();
  printf("disk label: %s\n", label.c_str());
  bool keep = false;
  FindServer(session, label, keep);
  if (!PrepareDisk(target, keep)) {
    return false;
  }
  puts("");
  if (!HandshakeExchange(session, kStartInstallation)) {
    puts("\nFATAL ERROR: server refused to install");
    return false;
  }
  InstallTally tally;
  if (!ReceiveFiles(session, tally) || !AllInstalled(tally)) {
    return false;
  }
  WriteMarker("/CDINSTALL");
  FinishInstalledSystem(target);
  installationFinished = 1;
  puts("\nSoftware installed.");
  puts("Press ENTER to reboot");
  SayFarewell(session);
  return true;
}
