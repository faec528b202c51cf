#include "tools/vpk/admin_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "packages/boot_install.h"
#include "packages/database_files.h"
#include "packages/database_load.h"
#include "packages/database_lookup.h"
#include "packages/install_stream.h"
#include "packages/post_log.h"
#include "packages/roots.h"
#include "packages/schedule_apply.h"
#include "streams/byte_order.h"
#include "streams/package_format.h"
#include "tools/vpk/command_line.h"

namespace {

const char rootHelp[] =
    "  --root DIR           the target tree, an existing directory, as the installed system's\n"
    "                       /flash (default /flash)\n"
    "  --system-root DIR    the running system's root, for /ram, /rw and /proc/meminfo\n"
    "                       (default /)\n";

const char modeHelp[] =
    "  --upgrade            an older installed package may be replaced (the default when\n"
    "                       neither --upgrade nor --downgrade is given)\n"
    "  --downgrade          a newer installed package may be replaced\n"
    "  --accept-installed   a package whose version is installed counts as installed\n"
    "  --ignore-unusable    install also for another architecture or with missing dependencies\n"
    "  --ignore-conflicts   install a bundle even when an enabled package conflicts with it\n";

const char closingHelp[] =
    "Messages are also saved in postlog at the root of the tree. Exit status 0 on success,\n"
    "1 otherwise.\n";

struct ModeOption {
  const char* name;
  InstallMode bit;
};

const ModeOption modeOptions[] = {
    {"upgrade", AllowUpgrade},
    {"downgrade", AllowDowngrade},
    {"accept-installed", AcceptInstalled},
    {"ignore-unusable", IgnoreUnusable},
    {"ignore-conflicts", IgnoreConflicts},
};

// What a command was given.
struct AdminArguments {
  InstallMode mode = 0;
  std::vector<std::string> operands;
};

enum class Outcome { kRun, kHelpShown, kWrong };

// Parses the roots (which it sets), the modes when withModes, and the operands. Prints the usage
// for --help, and to standard error when operands are missing or not wanted.
Outcome ParseAdmin(int argc, char** argv, const std::string& usage, bool withModes,
                   bool wantsOperands, AdminArguments* out) {
  std::vector<KnownOption> known = {{"root", 0, true}, {"system-root", 0, true}};
  for (const ModeOption& option : modeOptions) {
    if (withModes) {
      known.push_back({option.name, 0, false});
    }
  }
  ParsedArguments parsed;
  if (!ParseArguments(argc, argv, known, &parsed)) {
    return Outcome::kWrong;
  }
  if (parsed.help || parsed.operands.empty() == wantsOperands) {
    std::fputs(usage.c_str(), parsed.help ? stdout : stderr);
    return parsed.help ? Outcome::kHelpShown : Outcome::kWrong;
  }
  for (const auto& [name, value] : parsed.options) {
    if (name == "root") {
      GetPackageRoots().target = value;
    } else if (name == "system-root") {
      GetPackageRoots().system = value;
    }
    for (const ModeOption& option : modeOptions) {
      out->mode |= name == option.name ? option.bit : 0;
    }
  }
  if ((out->mode & (AllowUpgrade | AllowDowngrade)) == 0) {
    out->mode |= AllowUpgrade;
  }
  out->operands = parsed.operands;
  return Outcome::kRun;
}

// Loads the tree's database for command. The tree must exist; an installation starts from an
// empty database when it has none, and the first package it records makes the database directory.
bool OpenTree(const char* command, bool installing) {
  if (!TargetTreeExists(command)) {
    return false;
  }
  struct stat status;
  if (installing && stat(TargetPath("/var/pdb").c_str(), &status) != 0) {
    return true;
  }
  return LoadDatabase(false);
}

// Reads the magic of file: false, with the reason on standard error, for a file that is no package
// file at all. Other damage is for the installation to find and report.
bool HasPackageMagic(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char header[kContainerHeaderSize];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
    std::fprintf(stderr, "vpk: %s: not a package file: too short\n", file.c_str());
    return false;
  }
  std::uint32_t magic = LoadLittleEndian(header, 4);
  if (magic != kContainerMagic && magic != kUnrecordedMagic) {
    std::fprintf(stderr, "vpk: %s: not a package file: bad magic\n", file.c_str());
    return false;
  }
  return true;
}

// False, with the reason, when the first header of file names a package that cannot be recorded
// (the package reader refuses such a header without saying why). Anything else is for the
// installation to find and report.
bool HasRecordableName(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char start[kContainerHeaderSize + kPartHeaderSize + kNameFieldSize];
  if (!in.read(reinterpret_cast<char*>(start), sizeof start)) {
    return true;
  }
  const unsigned char* part = start + kContainerHeaderSize;
  std::uint32_t type = LoadLittleEndian(part, 2);
  const char* field = reinterpret_cast<const char*>(part + kPartHeaderSize);
  std::string name(field, strnlen(field, kNameFieldSize));
  if ((type != PartHeader && type != PartBundleHeader) || IsSafeDirectoryName(name)) {
    return true;
  }
  std::fprintf(stderr, "vpk: %s: package name '%s' is not allowed\n", file.c_str(), name.c_str());
  return false;
}

// Stores the installed package file as its image, as the installer does for a package that
// carries one, and links "bootimage" to it for a boot-image package.
bool StoreImageCopy(const std::string& file, const std::string& directory, bool bootImage) {
  std::string image = directory + "image";
  std::ifstream in(file, std::ios::binary);
  DeleteDatabaseFile(image);
  std::ofstream out(image, std::ios::binary);
  out << in.rdbuf();
  out.close();
  if (!in || !out) {
    std::fprintf(stderr, "vpk: install: could not save the image of %s in %s\n", file.c_str(),
                 image.c_str());
    DeleteDatabaseFile(image);
    return false;
  }
  std::string bootLink = TargetPath("/bootimage");
  struct stat status;
  if (bootImage && lstat(bootLink.c_str(), &status) == 0 && status.st_nlink == 1) {
    DeleteDatabaseFile(bootLink);  // its image went with the package it belonged to
  }
  if (bootImage && link(image.c_str(), bootLink.c_str()) != 0) {
    std::fprintf(stderr, "vpk: install: could not link %s to %s: %s\n", bootLink.c_str(),
                 image.c_str(), std::strerror(errno));
  }
  return true;
}

bool InstallOneFile(const std::string& file, InstallMode mode) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "vpk: install: cannot open %s: %s\n", file.c_str(), std::strerror(errno));
    return false;
  }
  if (!HasPackageMagic(file) || !HasRecordableName(file)) {
    return false;
  }
  std::string imageDirectory;
  bool bootImage = false;
  int result = InstallFromStream(in, mode, Selection(), nullptr,
                                 InstallOutputs{&imageDirectory, &bootImage});
  if (result != 0) {
    std::fprintf(stderr, "vpk: install: %s was not installed\n", file.c_str());
    return false;
  }
  return imageDirectory.empty() || StoreImageCopy(file, imageDirectory, bootImage);
}

// Schedules action for each named package, carries the schedule out and says whether every one
// ended as asked.
bool RunSchedule(int argc, char** argv, std::uint32_t action, const char* word) {
  std::string usage = std::string("usage: vpk ") + word +
                      " [OPTIONS] NAME...\n\n"
                      "Asks to " +
                      word +
                      " the installed packages NAME... and carries the request out by the\n"
                      "dependency rules, which may also enable, disable or uninstall other "
                      "packages\nor refuse the request.\n\n" +
                      rootHelp + "\n" + closingHelp;
  AdminArguments arguments;
  Outcome outcome = ParseAdmin(argc, argv, usage, false, true, &arguments);
  if (outcome != Outcome::kRun) {
    return outcome == Outcome::kHelpShown;
  }
  if (!OpenTree(word, false)) {
    return false;
  }
  bool all = true;
  for (const std::string& name : arguments.operands) {
    Package* p = FindPackage(name);
    if (p == nullptr) {
      std::fprintf(stderr, "vpk: %s: %s is not installed\n", word, name.c_str());
      all = false;
      continue;
    }
    p->scheduledAction = action;
    p->userForced = p->userForced || action != kScheduleUninstall;
  }
  ApplySchedule(Verbosity::kEverything);
  SavePostLog();
  for (const std::string& name : arguments.operands) {
    const Package* p = FindPackage(name);
    bool gone = p == nullptr;
    all = all &&
          (action == kScheduleUninstall ? gone
                                        : !gone && p->disabled == (action == kScheduleDisable));
  }
  return all;
}

}  // namespace

bool InstallCommand(int argc, char** argv) {
  std::string usage = std::string(
                          "usage: vpk install [OPTIONS] FILE...\n\n"
                          "Installs the package and bundle files FILE... into the tree, in the "
                          "order given, as the\ninstaller does: each is checked, unpacked, "
                          "recorded and set up by the dependency rules.\n\n") +
                      rootHelp + modeHelp + "\n" + closingHelp;
  AdminArguments arguments;
  Outcome outcome = ParseAdmin(argc, argv, usage, true, true, &arguments);
  if (outcome != Outcome::kRun) {
    return outcome == Outcome::kHelpShown;
  }
  if (!OpenTree("install", true)) {
    return false;
  }
  bool all = true;
  for (const std::string& file : arguments.operands) {
    all = InstallOneFile(file, arguments.mode) && all;
  }
  SavePostLog();
  return all;
}

bool UninstallCommand(int argc, char** argv) {
  return RunSchedule(argc, argv, kScheduleUninstall, "uninstall");
}

bool EnableCommand(int argc, char** argv) {
  return RunSchedule(argc, argv, kScheduleEnable, "enable");
}

bool DisableCommand(int argc, char** argv) {
  return RunSchedule(argc, argv, kScheduleDisable, "disable");
}

int BootInstallCommand(int argc, char** argv) {
  std::string usage =
      std::string(
          "usage: vpk boot-install [OPTIONS]\n\n"
          "The installed system's start-up installation: verifies the package files in\n"
          "rw/pckg/ of the tree (var/pckg/ when that has none; also the system's /ram/ with\n"
          "--accept-installed), installs them in dependency order and deletes them. A\n"
          "DOWNGRADE file in the system's /rw lets older files replace newer packages.\n\n") +
      rootHelp + modeHelp + "\n" +
      "Messages are also saved in postlog at the root of the tree. Exit status 0, 1 for wrong\n"
      "arguments or a missing tree, 3 when no package is left installed (the system must not\n"
      "go on booting).\n";
  AdminArguments arguments;
  Outcome outcome = ParseAdmin(argc, argv, usage, true, false, &arguments);
  if (outcome != Outcome::kRun) {
    return outcome == Outcome::kHelpShown ? 0 : 1;
  }
  if (!TargetTreeExists("boot-install")) {
    return 1;
  }
  // Without a database the files are installed all the same: they may bring the system back.
  if (!LoadDatabase(false)) {
    std::fprintf(stderr, "vpk: boot-install: no package database in %s\n",
                 TargetPath("/var/pdb").c_str());
  }
  BootInstall(arguments.mode);
  SavePostLog();
  return BootInstallationLost() ? kSystemLostExitStatus : 0;
}

bool PurgeIncompatibleCommand(int argc, char** argv) {
  std::string usage = std::string(
                          "usage: vpk purge-incompatible [OPTIONS]\n\n"
                          "Uninstalls every package made for systems older than 3.22: all but "
                          "brix, disk-drivers,\nsystem and bundles, unless it depends on system "
                          "3.22 or later.\n\n") +
                      rootHelp + "\n" + closingHelp;
  AdminArguments arguments;
  Outcome outcome = ParseAdmin(argc, argv, usage, false, false, &arguments);
  if (outcome != Outcome::kRun) {
    return outcome == Outcome::kHelpShown;
  }
  if (!OpenTree("purge-incompatible", false)) {
    return false;
  }
  PurgeIncompatiblePackages();
  SavePostLog();
  return true;
}
