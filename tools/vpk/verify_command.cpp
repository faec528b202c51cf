#include "tools/vpk/verify_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "packages/package_verify.h"
#include "streams/part_reader.h"
#include "tools/vpk/archive_listing.h"
#include "tools/vpk/command_line.h"

namespace {

const char verifyUsage[] =
    "usage: vpk verify FILE...\n"
    "\n"
    "Checks each package or bundle file as the installer does before it installs it: every\n"
    "package in the file must carry a signature that verifies against the package key built\n"
    "into vpk or, when it is unsigned, have a digest in the built-in table of known digests.\n"
    "Prints one line per file, 'FILE: accepted (why)' or 'FILE: refused (why)'.\n"
    "Exit status 0 when every file is accepted, 1 otherwise.\n";

// Reads the name field of the current header part. A short part gives what it holds; reading
// past its end would fail the reader and stop the check.
std::string HeaderName(PartReader& reader) {
  char name[17] = {};
  reader.read(name, std::min<std::uint32_t>(16, reader.PartLength()));
  return name;
}

// Checks one package whose PartHeader is the reader's current part and moves past it. Returns
// whether it is accepted and says why in reason.
bool CheckOnePackage(PartReader& reader, DigestLookup isKnown, std::string* reason) {
  std::string name = HeaderName(reader);
  *reason = "'" + name + "' ";
  // The reader hashes the content of the parts that it skips or passes over.
  int type = reader.NextPart();
  while (type == PartFiles || type == PartImage) {
    type = reader.NextPart();
  }
  if (type == PartSignature) {
    bool verified = reader.VerifySignature();
    *reason += verified ? "signature verifies" : "signature does not verify";
    reader.NextPart();
    return verified;
  }
  std::uint8_t digest[kDigestSize];
  if (!reader.TakeDigest(digest)) {
    *reason += "is unsigned and cut short";
    return false;
  }
  bool known = isKnown(digest);
  *reason += "is unsigned; digest " + HexText(digest, kDigestSize) + (known ? " is" : " is not") +
             " in the known-digest table";
  return known;
}

// Checks the packages of an opened container; a bundle's header parts are passed over first.
bool CheckContainer(PartReader& reader, DigestLookup isKnown, std::string* verdict) {
  bool bundle = false;
  int type = FirstPackagePart(reader, bundle);
  int members = 0;
  bool accepted = true;
  do {
    if (type != PartHeader) {
      *verdict += members == 0 ? "no package header part" : "a part where a member should start";
      return false;
    }
    std::string reason;
    accepted = CheckOnePackage(reader, isKnown, &reason) && accepted;
    *verdict += (members++ > 0 ? "; " : "") + reason;
    type = reader.CurrentType();
  } while (bundle && type != -1);
  if (bundle) {
    *verdict = "bundle of " + std::to_string(members) + " members: " + *verdict;
  }
  return accepted;
}

}  // namespace

bool CheckPackageFile(const std::string& path, std::string* verdict, DigestLookup isKnown) {
  std::ifstream file(path, std::ios_base::binary);
  struct stat status;
  if (!file || stat(path.c_str(), &status) != 0) {
    *verdict = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  verdict->clear();
  PartReader reader(file, Hashing::kOn);
  if (reader.bad()) {
    *verdict = "not a package file";
    return false;
  }
  // A truncated or padded file is not the package that was signed or listed.
  if (reader.TotalSize() != static_cast<std::uint64_t>(status.st_size)) {
    *verdict = "the file size differs from the size in its container header";
    return false;
  }
  reader.AcceptPartType(PartHeader);
  reader.AcceptPartType(PartBundleHeader);
  reader.AcceptPartType(PartImage);
  reader.AcceptPartType(PartFiles);
  reader.AcceptPartType(PartSignature);
  return CheckContainer(reader, isKnown, verdict);
}

bool VerifyCommand(int argc, char** argv) {
  ParsedArguments arguments;
  if (!ParseArguments(argc, argv, {}, &arguments)) {
    return false;
  }
  if (arguments.help || arguments.operands.empty()) {
    std::fputs(verifyUsage, arguments.help ? stdout : stderr);
    return arguments.help;
  }
  bool all = true;
  for (const std::string& path : arguments.operands) {
    std::string verdict;
    bool accepted = CheckPackageFile(path, &verdict);
    std::printf("%s: %s (%s)\n", path.c_str(), accepted ? "accepted" : "refused", verdict.c_str());
    all = all && accepted;
  }
  return all;
}
