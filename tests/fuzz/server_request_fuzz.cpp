// What install-server does with datagrams from its segment: any sender, any request, in any
// order. The answers go to a socket that is not open, so only the server's own state is seen.
//
// Input: datagrams (see ForEachDatagram) received on the server's one interface.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <set>

#include "net/hardware_address.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/install-server/server_loop.h"

namespace {

// A served directory with a driver package, a package and a configuration file.
ServedDirectory& Served() {
  static ScratchDirectory scratch("server");
  static ServedDirectory served;
  static bool loaded = [] {
    const std::string& root = scratch.Path();
    mkdir((root + "/drivers").c_str(), 0755);
    mkdir((root + "/packages").c_str(), 0755);
    WriteBytes(root + "/drivers/default.vpk", std::string(5000, 'd'));
    WriteBytes(root + "/packages/base.vpk", std::string(9000, 'b'));
    WriteBytes(root + "/packages/site.scr", "set hostname r1\n");
    return LoadServedDirectory(root, "", DefaultDrivers::kRequired, served);
  }();
  Require(loaded, "the served directory loads");
  return served;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FILE* nowhere = fopen("/dev/null", "w");
  int descriptors = CountOpenDescriptors();
  {
    InstallServer server;
    server.served = &Served();
    server.log = nowhere;
    ServerInterface interface;
    interface.name = "eth0";
    interface.address[0] = 2;
    interface.address[5] = 9;
    server.interfaces.push_back(interface);
    std::set<uint64_t> senders;
    ForEachDatagram({data, size}, [&](uint8_t* datagram, int length) {
      if (length >= kDatagramHeaderSize) {
        senders.insert(PackHardwareAddress(datagram));
      }
      HandleDatagram(server, 0, datagram, length);
    });
    Require(server.routers.size() <= senders.size(), "a router only for a sender");
    for (const auto& [address, router] : server.routers) {
      Require(senders.count(address) == 1, "each router is one that spoke");
      Require(router->profile == nullptr || router->profile->files.size() <= 2,
              "no file that is not served");
    }
  }
  Require(CountOpenDescriptors() == descriptors, "every file opened is closed again");
  return 0;
}
