// Shows the package menu over a fixed medium, for the tests that look at it through a terminal
// emulator: menu_driver first|sixty|long.

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "flows/package_menu.h"

namespace {

void Add(PackageList& list, const std::string& name, std::vector<const char*> needs = {},
         const char* description = "") {
  auto& p = list.emplace_back(std::make_unique<SelectablePackage>());
  p->name = name;
  p->description = description;
  for (const char* need : needs) {
    p->dependencies.push_back(Dependency{need});
  }
}

void FirstMedium(PackageList& list) {
  Add(list, "system", {}, "The base system: kernel, boot loader, libraries and the shell.");
  Add(list, "ppp", {"system"}, "Dial-up and PPPoE connections.");
  Add(list, "dhcp", {"system"}, "DHCP server and client.");
  Add(list, "advanced-tools", {"system"}, "Tools for diagnosing the network.");
  Add(list, "firewall", {"system"});
  Add(list, "vpn", {"system", "advanced-tools"}, "Encrypted tunnels between sites.");
  Add(list, "wireless", {"system", "advanced-tools"}, "Wireless cards and access point mode.");
}

void SixtyMedium(PackageList& list) {
  Add(list, "system");
  for (int i = 2; i <= 60; ++i) {
    char name[16];
    snprintf(name, sizeof name, "package-%02d", i);
    Add(list, name, {"system"});
  }
}

void LongMedium(PackageList& list) {
  Add(list, "system", {},
      "A description far longer than the three lines that the details area has room for, so "
      "that it has to be cut before it reaches the last row of the screen and scrolls the whole "
      "menu up by a line, which would leave the title and the grid out of place for the rest "
      "of the run and make the screen hard to read for anybody.");
  Add(list, "a-name-of-thirty-characters-1");
  Add(list, "short");
  Add(list, "a-name-of-thirty-characters-2");
  Add(list, "exactly-nineteen-ch");
  Add(list, "tab\there");
  Add(list, "a-name-of-thirty-characters-3");
  Add(list, "exactly-twenty-two-chr");
}

}  // namespace

int main(int argc, char** argv) {
  const std::map<std::string, void (*)(PackageList&)> media = {
      {"first", FirstMedium}, {"sixty", SixtyMedium}, {"long", LongMedium}};
  auto medium = media.find(argc > 1 ? argv[1] : "");
  if (medium == media.end()) {
    fputs("usage: menu_driver first|sixty|long\n", stderr);
    return 2;
  }
  PackageList list;
  medium->second(list);
  PackageMenu menu = MakePackageMenu(list);
  return RunPackageMenu(menu) ? 0 : 1;
}
