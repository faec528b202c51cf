// vpk: the package tool. Each subcommand is one entry of the table below.
#include <cstdio>
#include <cstring>

#include "tools/vpk/build_command.h"
#include "tools/vpk/inspect_command.h"
#include "tools/vpk/keygen.h"
#include "tools/vpk/list_command.h"
#include "tools/vpk/sign_command.h"
#include "tools/vpk/verify_command.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  bool (*run)(int argc, char** argv);  // argv[0] is the command name
};

const Command commands[] = {
    {"build", "build a package file from a directory tree and header fields", BuildCommand},
    {"build-bundle", "build a bundle file from member package files", BuildBundleCommand},
    {"inspect", "show the parts, fields, files, digest and signature of a package file",
     InspectCommand},
    {"verify", "check package files as the installer does: signature or known digest",
     VerifyCommand},
    {"sign", "sign an unsigned package file with a private key", SignCommand},
    {"keygen", "generate a signing key, its hash words and an empty digest list", KeygenCommand},
    {"list", "list the packages installed in a tree (--root DIR)", ListCommand},
};

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: vpk COMMAND [ARGUMENTS]\n\nCommands:\n");
  for (const Command& command : commands) {
    std::fprintf(out, "  %-12s %s\n", command.name, command.summary);
  }
  std::fprintf(out, "\n'vpk COMMAND --help' describes one command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 1;
  }
  if (std::strcmp(argv[1], "--help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  for (const Command& command : commands) {
    if (std::strcmp(argv[1], command.name) == 0) {
      return command.run(argc - 1, argv + 1) ? 0 : 1;
    }
  }
  std::fprintf(stderr, "vpk: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 1;
}
