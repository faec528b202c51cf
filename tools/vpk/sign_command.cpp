#include "tools/vpk/sign_command.h"

#include <cstdio>
#include <string>

#include "tools/vpk/command_line.h"
#include "tools/vpk/output_file.h"
#include "tools/vpk/package_signing.h"

namespace {

const char signUsage[] =
    "usage: vpk sign KEYFILE FILE [-o OUT]\n"
    "\n"
    "Signs the unsigned package FILE with the private key in KEYFILE (one line of 64 hex\n"
    "digits, as 'vpk keygen' writes it): appends the signature part, which covers the package\n"
    "from its header part on. Without -o the file is replaced; with -o the signed package is\n"
    "written to OUT and FILE stays as it is. A signed package and a bundle are refused: sign\n"
    "the members of a bundle before building it.\n"
    "\n"
    "  -o, --output OUT   write the signed package here\n";

}  // namespace

bool SignCommand(int argc, char** argv) {
  ParsedArguments arguments;
  if (!ParseArguments(argc, argv, {{"output", 'o', true}}, &arguments)) {
    return false;
  }
  if (arguments.help) {
    std::fputs(signUsage, stdout);
    return true;
  }
  if (arguments.operands.size() != 2) {
    std::fputs(signUsage, stderr);
    return false;
  }
  const std::string& keyPath = arguments.operands[0];
  const std::string& input = arguments.operands[1];
  std::string output = input;
  for (const auto& [name, value] : arguments.options) {
    output = value;  // --output is the only option
  }
  std::uint8_t key[kPrivateKeySize];
  std::uint8_t digest[kDigestSize];
  if (!ReadPrivateKey(keyPath.c_str(), key) || !SigningDigest(input, digest)) {
    return false;
  }
  MatchesBuiltInKey(key, keyPath.c_str());
  PendingOutput pending;
  if (!BeginOutput(output, &pending)) {
    return false;
  }
  if (!CopyWholeFile(input, pending.temporary) || !SignPackageFile(pending.temporary, key)) {
    AbandonOutput(pending);
    return false;
  }
  if (!CommitOutput(pending)) {
    return false;
  }
  std::printf("%s: signed\n", output.c_str());
  return true;
}
