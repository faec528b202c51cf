#include "tools/vpk/build_command.h"

#include <cstdio>
#include <ctime>

#include "tools/vpk/build_command_internal.h"
#include "tools/vpk/bundle_writer.h"
#include "tools/vpk/package_signing.h"
#include "tools/vpk/package_writer.h"

const std::vector<KnownOption> headerOptions = {
    {"name", 0, true},    {"version", 0, true},     {"build-time", 0, true},
    {"depends", 0, true}, {"provides", 0, true},    {"conflicts", 0, true},
    {"arch", 0, true},    {"description", 0, true}, {"flags", 0, true},
};

namespace {

const char headerHelp[] =
    "  --name NAME          package name: 1 to 16 printable characters without blanks,\n"
    "                       '/', '<', '=' or '>' (required)\n"
    "  --version VERSION    2.9.5, 2.9, 2.9beta3, 2.9rc1 or 2.9alpha2; each number 0 to 255\n"
    "                       (required)\n"
    "  --build-time SECONDS build time in seconds since 1970 UTC (default: now)\n"
    "  --depends DEP        a package that must be installed; repeatable. DEP is NAME,\n"
    "                       NAME=V, NAME>=V, NAME>V, NAME<=V or NAME<V, e.g. system>=2.9\n"
    "  --provides DEP[:PRI] a name this package stands in for, with a signed priority\n"
    "                       (default 0; negative lets the named package replace this one);\n"
    "                       repeatable, e.g. mailer:10 or smtpd>=2.0:-1\n"
    "  --conflicts DEP      a package that must not be installed with this one; repeatable\n"
    "  --arch TEXT          architecture (default: no architecture part, read as i386)\n"
    "  --description TEXT   free text shown to the user\n"
    "  --flags N            header flags word (decimal or 0x..): 1 = carries the boot image,\n"
    "                       2 = metadata files not kept; makes the header 36 bytes long\n";

const char buildIntro[] =
    "usage: vpk build [OPTIONS] -o OUT [TREE]\n"
    "\n"
    "Builds a package file from the fields below and, when TREE is given, a file archive of\n"
    "everything below the directory TREE: directories, regular files, symbolic links, devices\n"
    "and FIFOs with their mode, owner, group and modification time, named /PATH as they will\n"
    "be installed. The file appears at OUT only when the whole build succeeded.\n"
    "\n";

const char buildOptions[] =
    "  --install-script FILE    shell script run after installation\n"
    "  --uninstall-script FILE  shell script run before removal\n"
    "  --image FILE         image part holding the bytes of FILE\n"
    "  --owner UID:GID      store this owner and group for every entry instead of their own\n"
    "  --unrecorded         the package is installed but not entered in the package database\n"
    "  --sign KEYFILE       sign the package with this private key (see vpk sign)\n"
    "  -o, --output OUT     the package file to write (required)\n";

const char bundleIntro[] =
    "usage: vpk build-bundle [OPTIONS] -o OUT MEMBER...\n"
    "\n"
    "Builds a bundle file from member package files (signed or not; their bytes are copied as\n"
    "they are, so their signatures stay valid) and the bundle's own header fields below.\n"
    "\n";

const char bundleOptions[] =
    "  --disabled-member NAME  a member that is installed disabled unless the user selects\n"
    "                       it; repeatable\n"
    "  --image FILE         image part holding the bytes of FILE\n"
    "  --unrecorded         the bundle's packages are not entered in the package database\n"
    "                       (its members must have been built with --unrecorded too)\n"
    "  -o, --output OUT     the bundle file to write (required)\n";

// Reads a dependency with ParseDependency and says which half was wrong when it fails.
bool ParseDependencyText(const std::string& text, const char* what, Dependency* entry) {
  if (ParseDependency(text, *entry)) {
    return true;
  }
  std::string name = text.substr(0, text.find_first_of("<=>"));
  if (!IsValidPackageName(name)) {
    std::fprintf(stderr,
                 "vpk: %s '%s': '%s' is not a package name (1 to 16 printable characters "
                 "without blanks, '/', '<', '=' or '>')\n",
                 what, text.c_str(), name.c_str());
  } else {
    std::fprintf(stderr,
                 "vpk: %s '%s': expected NAME, NAME=V, NAME>=V, NAME>V, NAME<=V or NAME<V with "
                 "a version V such as 2.9.5, 2.9, 2.9beta3, 2.9rc1 or 2.9alpha2\n",
                 what, text.c_str());
  }
  return false;
}

bool ParseOwner(const std::string& text, TreeOptions* options) {
  std::size_t colon = text.find(':');
  std::uint64_t owner = 0, group = 0;
  if (colon == std::string::npos) {
    std::fprintf(stderr, "vpk: --owner '%s': expected UID:GID\n", text.c_str());
    return false;
  }
  if (!ParseUnsigned(text.substr(0, colon), 65535, "an owner id", &owner) ||
      !ParseUnsigned(text.substr(colon + 1), 65535, "a group id", &group)) {
    return false;
  }
  options->overrideOwner = true;
  options->owner = static_cast<std::uint32_t>(owner);
  options->group = static_cast<std::uint32_t>(group);
  return true;
}

// Checks the fields every header needs; the build time defaults to now.
bool CheckRequired(const PackageInfo& info, const std::string& output) {
  if (info.name.empty() || info.version == 0 || output.empty()) {
    std::fprintf(stderr, "vpk: --name, --version and --output are required (see --help)\n");
    return false;
  }
  return true;
}

std::vector<KnownOption> WithHeaderOptions(std::vector<KnownOption> known) {
  known.insert(known.begin(), headerOptions.begin(), headerOptions.end());
  return known;
}

bool ApplyBuildOption(const std::string& option, const std::string& value, PackageInfo* info,
                      PackageContents* contents, std::string* key, std::string* output) {
  if (option == "install-script") {
    contents->installScript = value;
  } else if (option == "uninstall-script") {
    contents->uninstallScript = value;
  } else if (option == "image") {
    contents->image = value;
  } else if (option == "owner") {
    return ParseOwner(value, &contents->treeOptions);
  } else if (option == "unrecorded") {
    contents->unrecorded = true;
  } else if (option == "sign") {
    *key = value;
  } else if (option == "output") {
    *output = value;
  } else {
    return ApplyHeaderOption(option, value, info, &contents->flagsWord);
  }
  return true;
}

bool ApplyBundleOption(const std::string& option, const std::string& value, PackageInfo* info,
                       BundleContents* contents, std::string* output) {
  if (option == "disabled-member") {
    contents->disabledMembers.push_back(value);
  } else if (option == "image") {
    contents->image = value;
  } else if (option == "unrecorded") {
    contents->unrecorded = true;
  } else if (option == "output") {
    *output = value;
  } else {
    return ApplyHeaderOption(option, value, info, &contents->flagsWord);
  }
  return true;
}

void PrintUsage(FILE* out, const char* intro, const char* options) {
  std::fputs(intro, out);
  std::fputs(headerHelp, out);
  std::fputs(options, out);
}

}  // namespace

bool ParseProvides(const std::string& text, Dependency* entry) {
  std::size_t colon = text.rfind(':');
  std::int32_t priority = 0;
  std::string dependency = text;
  if (colon != std::string::npos) {
    std::string tail = text.substr(colon + 1);
    std::size_t sign = !tail.empty() && (tail[0] == '-' || tail[0] == '+') ? 1 : 0;
    // A name may hold ':' itself; only a number after the last one is a priority.
    if (tail.size() > sign && tail.find_first_not_of("0123456789", sign) == std::string::npos) {
      if (!ParseSigned32(tail, "a priority", &priority)) {
        return false;
      }
      dependency = text.substr(0, colon);
    }
  }
  if (!ParseDependencyText(dependency, "provides", entry)) {
    return false;
  }
  entry->priority = priority;
  return true;
}

bool ApplyHeaderOption(const std::string& option, const std::string& value, PackageInfo* info,
                       bool* flagsWord) {
  std::uint64_t number = 0;
  Dependency entry;
  if (option == "name") {
    if (!IsValidPackageName(value)) {
      std::fprintf(stderr,
                   "vpk: --name '%s': a package name has 1 to 16 printable characters without "
                   "blanks, '/', '<', '=' or '>'\n",
                   value.c_str());
      return false;
    }
    info->name = value;
  } else if (option == "version") {
    if (!ParseVersion(value, info->version)) {
      std::fprintf(stderr,
                   "vpk: --version '%s': expected a version such as 2.9.5, 2.9, 2.9beta3, 2.9rc1 "
                   "or 2.9alpha2 (numbers 0 to 255)\n",
                   value.c_str());
      return false;
    }
  } else if (option == "build-time") {
    if (!ParseUnsigned(value, UINT32_MAX, "a build time", &number)) {
      return false;
    }
    info->buildTime = static_cast<std::uint32_t>(number);
  } else if (option == "flags") {
    if (!ParseUnsigned(value, UINT32_MAX, "a flags word", &number)) {
      return false;
    }
    info->flags = static_cast<std::uint32_t>(number);
    *flagsWord = true;
  } else if (option == "arch") {
    info->architecture = value;
  } else if (option == "description") {
    info->description = value;
  } else if (option == "depends" || option == "conflicts") {
    if (!ParseDependencyText(value, option == "depends" ? "dependency" : "conflict", &entry)) {
      return false;
    }
    (option == "depends" ? info->dependencies : info->conflicts).push_back(entry);
  } else if (option == "provides") {
    if (!ParseProvides(value, &entry)) {
      return false;
    }
    info->provides.push_back(entry);
  } else {
    std::fprintf(stderr, "vpk: unexpected option --%s\n", option.c_str());
    return false;
  }
  return true;
}

bool BuildCommand(int argc, char** argv) {
  ParsedArguments arguments;
  std::vector<KnownOption> known = WithHeaderOptions({{"install-script", 0, true},
                                                      {"uninstall-script", 0, true},
                                                      {"image", 0, true},
                                                      {"owner", 0, true},
                                                      {"unrecorded", 0, false},
                                                      {"sign", 0, true},
                                                      {"output", 'o', true}});
  if (!ParseArguments(argc, argv, known, &arguments)) {
    return false;
  }
  if (arguments.help || arguments.operands.size() > 1) {
    PrintUsage(arguments.help ? stdout : stderr, buildIntro, buildOptions);
    return arguments.help;
  }
  PackageInfo info;
  info.buildTime = static_cast<std::uint32_t>(std::time(nullptr));
  PackageContents contents;
  std::string keyPath, output;
  for (const auto& [option, value] : arguments.options) {
    if (!ApplyBuildOption(option, value, &info, &contents, &keyPath, &output)) {
      return false;
    }
  }
  if (!CheckRequired(info, output)) {
    return false;
  }
  contents.tree = arguments.operands.empty() ? "" : arguments.operands[0];
  std::uint8_t key[kPrivateKeySize];
  if (!keyPath.empty()) {
    if (!ReadPrivateKey(keyPath.c_str(), key)) {
      return false;
    }
    MatchesBuiltInKey(key, keyPath.c_str());
  }
  if (!WritePackageFile(output, info, contents, keyPath.empty() ? nullptr : key)) {
    return false;
  }
  std::printf("%s: built %s-%s%s\n", output.c_str(), info.name.c_str(), VersionText(info.version),
              keyPath.empty() ? "" : ", signed");
  return true;
}

bool BuildBundleCommand(int argc, char** argv) {
  ParsedArguments arguments;
  std::vector<KnownOption> known = WithHeaderOptions({{"disabled-member", 0, true},
                                                      {"image", 0, true},
                                                      {"unrecorded", 0, false},
                                                      {"output", 'o', true}});
  if (!ParseArguments(argc, argv, known, &arguments)) {
    return false;
  }
  if (arguments.help) {
    PrintUsage(stdout, bundleIntro, bundleOptions);
    return true;
  }
  PackageInfo bundle;
  bundle.buildTime = static_cast<std::uint32_t>(std::time(nullptr));
  BundleContents contents;
  std::string output;
  for (const auto& [option, value] : arguments.options) {
    if (!ApplyBundleOption(option, value, &bundle, &contents, &output)) {
      return false;
    }
  }
  if (!CheckRequired(bundle, output)) {
    return false;
  }
  contents.memberFiles = arguments.operands;
  if (!WriteBundleFile(output, bundle, contents)) {
    return false;
  }
  std::printf("%s: built bundle %s-%s of %zu members\n", output.c_str(), bundle.name.c_str(),
              VersionText(bundle.version), contents.memberFiles.size());
  return true;
}
