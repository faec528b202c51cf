#include "tools/install-server/server_options.h"

#include <cstdlib>
#include <cstring>

namespace {

const char usageText[] =
    "usage: install-server --directory DIR --interface NAME [--interface NAME]...\n"
    "                      [--profiles FILE] [--events FILE|-] [--no-default-drivers]\n"
    "                      [--duplicate-every N]\n"
    "\n"
    "Answers the network installation of routers on the Ethernet segments of the named\n"
    "interfaces (UDP port 5000, broadcasts): sends each router its driver package, then the\n"
    "files of its profile, and logs the identity lines it sends and its progress.\n"
    "\n"
    "Options:\n"
    "  --directory DIR      the directory to serve (layout below)\n"
    "  --interface NAME     an interface to answer on; give one per segment\n"
    "  --profiles FILE      which files each router gets (format below)\n"
    "  --events FILE|-      append one JSON object a line for each router event to FILE\n"
    "                       ('-': standard output, the log then goes to standard error)\n"
    "  --no-default-drivers serve without DIR/drivers/default.vpk (routers whose kernel\n"
    "                       release has no driver package then get no offer)\n"
    "  --duplicate-every N  send every Nth answer twice (to test routers' checks)\n"
    "  --help               this text\n"
    "\n"
    "Directory:\n"
    "  DIR/drivers/RELEASE.vpk  driver package for routers running kernel release RELEASE\n"
    "  DIR/drivers/default.vpk  driver package for every other router\n"
    "  DIR/packages/NAME        package files and .scr configuration files\n"
    "Names that lead out of DIR through a link are refused.\n"
    "\n"
    "Profile file (one entry a line; '#' starts a comment):\n"
    "  profile NAME keep|erase FILE...  a package set: files of DIR/packages in the order\n"
    "                                   they are sent; 'keep' keeps the old configuration\n"
    "  router HH:HH:HH:HH:HH:HH NAME    the router with this hardware address gets profile NAME\n"
    "A router not listed gets the profile named 'default'; without one it gets no offer.\n"
    "Without --profiles every file of DIR/packages is sent to every router, package files by\n"
    "name, then .scr files by name, and the old configuration is erased.\n"
    "One conversation carries at most 65,535 datagrams, so a profile's files together may\n"
    "hold about 255 MiB (4,076 bytes a datagram, two more per file); the driver package\n"
    "likewise.\n"
    "\n"
    "A router silent for 20 minutes is forgotten (formatting a disk leaves it silent for\n"
    "minutes). SIGHUP reads the profiles and the directory again; routers being served go on\n"
    "with what they were offered.\n"
    "\n"
    "Exit status: 0 when stopped by SIGTERM or SIGINT, 1 when it cannot start or go on,\n"
    "2 for a wrong command line.\n";

// The value of option `name` at argv[at] ("--name=VALUE" or "--name VALUE"), advancing *at past
// a separate value. False when argv[at] is not that option.
bool OptionValue(int argc, char** argv, int& at, const char* name, std::string& value,
                 bool& missing) {
  size_t length = strlen(name);
  const char* argument = argv[at];
  if (strncmp(argument, name, length) != 0) {
    return false;
  }
  if (argument[length] == '=') {
    value = argument + length + 1;
    return true;
  }
  if (argument[length] != 0) {
    return false;
  }
  if (at + 1 >= argc) {
    missing = true;
    return true;
  }
  value = argv[++at];
  return true;
}

bool ParseCount(const std::string& text, int& out) {
  char* end = nullptr;
  long value = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || value < 1 || value > 1000000) {
    fprintf(stderr, "install-server: cannot use '%s' as a count\n", text.c_str());
    return false;
  }
  out = int(value);
  return true;
}

bool ParseOne(int argc, char** argv, int& at, ServerOptions& out, bool& missing) {
  std::string value;
  if (strcmp(argv[at], "--help") == 0) {
    out.help = true;
  } else if (OptionValue(argc, argv, at, "--directory", value, missing)) {
    out.directory = value;
  } else if (OptionValue(argc, argv, at, "--profiles", value, missing)) {
    out.profiles = value;
  } else if (OptionValue(argc, argv, at, "--interface", value, missing)) {
    out.interfaces.push_back(value);
  } else if (OptionValue(argc, argv, at, "--events", value, missing)) {
    out.events = value;
  } else if (strcmp(argv[at], "--no-default-drivers") == 0) {
    out.defaultDrivers = DefaultDrivers::kOptional;
  } else if (OptionValue(argc, argv, at, "--duplicate-every", value, missing)) {
    return missing || ParseCount(value, out.duplicateEvery);
  } else {
    fprintf(stderr, "install-server: unknown option '%s'\n", argv[at]);
    return false;
  }
  return true;
}

}  // namespace

bool ParseServerOptions(int argc, char** argv, ServerOptions& out) {
  for (int at = 1; at < argc; ++at) {
    bool missing = false;
    if (!ParseOne(argc, argv, at, out, missing)) {
      return false;
    }
    if (missing) {
      fprintf(stderr, "install-server: %s needs a value\n", argv[at]);
      return false;
    }
  }
  if (out.help) {
    return true;
  }
  if (out.directory.empty() || out.interfaces.empty()) {
    fprintf(stderr, "install-server: give --directory and at least one --interface\n");
    return false;
  }
  return true;
}

void PrintServerUsage(FILE* out) {
  fputs(usageText, out);
}
