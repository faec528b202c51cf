#include "tools/vpk/admin_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <ext/stdio_filebuf.h>

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
#include "packages/tree_lock.h"
#include "streams/byte_order.h"
#include "streams/package_format.h"
#include "tools/vpk/command_line.h"

namespace {

const char rootHelp[] =
    "  --root DIR           the target tree, an existing directory, as the installed system's\n"
    "                       /flash (default /flash)\n"
    "  --system-root DIR    the running system's root, for /ram, /rw and /proc/meminfo\n"
    "                       (default /)\n"
    "  --wait SECONDS       wait up to SECONDS for another command changing the tree to end\n"
    "                       (default: refuse at once)\n";

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
  std::uint64_t waitSeconds = 0;
  std::vector<std::string> operands;
};

enum class Outcome { kRun, kHelpShown, kWrong };

constexpr std::uint64_t kLongestWait = 24 * 60 * 60;

// What a command accepts besides the roots and --wait.
struct AdminSyntax {
  bool withModes = false;      // the installation modes (--allow-downgrade and the like)
  bool wantsOperands = false;  // one operand at least, else none
};

// Parses the roots (which it sets), the modes when the syntax has them, and the operands. Prints
// the usage for --help, and to standard error when operands are missing or not wanted.
Outcome ParseAdmin(int argc, char** argv, const std::string& usage, AdminSyntax syntax,
                   AdminArguments* out) {
  std::vector<KnownOption> known = {{"root", 0, true}, {"system-root", 0, true}, {"wait", 0, true}};
  for (const ModeOption& option : modeOptions) {
    if (syntax.withModes) {
      known.push_back({option.name, 0, false});
    }
  }
  ParsedArguments parsed;
  if (!ParseArguments(argc, argv, known, &parsed)) {
    return Outcome::kWrong;
  }
  if (parsed.help || parsed.operands.empty() == syntax.wantsOperands) {
    std::fputs(usage.c_str(), parsed.help ? stdout : stderr);
    return parsed.help ? Outcome::kHelpShown : Outcome::kWrong;
  }
  for (const auto& [name, value] : parsed.options) {
    if (name == "root") {
      GetPackageRoots().target = value;
    } else if (name == "system-root") {
      GetPackageRoots().system = value;
    } else if (name == "wait" && !ParseUnsigned(value, kLongestWait, "--wait", &out->waitSeconds)) {
      return Outcome::kWrong;
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

// Whether a command installs: an installation may start from a tree without a database.
enum class TreeUse { kChange, kInstall };

// Takes the tree's lock for command and loads its database. The tree must exist; an installation
// starts from an empty database when it has none, and the first package it records makes the
// database directory.
bool OpenTree(const char* command, TreeUse use, const AdminArguments& arguments, TreeLock* lock) {
  if (!TargetTreeExists(command) || !lock->Take("vpk: ", arguments.waitSeconds)) {
    return false;
  }
  struct stat status;
  if (use == TreeUse::kInstall && stat(TargetPath("/var/pdb").c_str(), &status) != 0) {
    return true;
  }
  return LoadDatabase({.quiet = false});
}

// A name read from an unverified file, fit for the terminal: bytes that are not printable ASCII,
// and the backslash, as "\xNN".
std::string Escaped(const std::string& name) {
  std::string shown;
  for (unsigned char byte : name) {
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    shown += byte >= 0x20 && byte < 0x7f && byte != '\\' ? std::string(1, byte) : escape;
  }
  return shown;
}

// Reads the start of the package file open on descriptor: false, with the reason on standard
// error, for a file that is no package file at all, or whose first header names a package that
// cannot be recorded (the package reader refuses these without saying why). Other damage is for
// the installation to find and report.
bool StartsLikePackage(int descriptor, const std::string& file) {
  unsigned char start[kContainerHeaderSize + kPartHeaderSize + kNameFieldSize];
  ssize_t got = pread(descriptor, start, sizeof start, 0);
  const char* why = nullptr;
  if (got < 0) {
    std::fprintf(stderr, "vpk: install: cannot read %s: %s\n", file.c_str(), std::strerror(errno));
    return false;
  }
  std::uint32_t magic = got < kContainerHeaderSize ? 0 : LoadLittleEndian(start, 4);
  const unsigned char* part = start + kContainerHeaderSize;
  std::uint32_t type = got < kContainerHeaderSize + kPartHeaderSize ? 0 : LoadLittleEndian(part, 2);
  const char* field = reinterpret_cast<const char*>(part + kPartHeaderSize);
  if (got < kContainerHeaderSize) {
    why = "too short";
  } else if (magic != kContainerMagic && magic != kUnrecordedMagic) {
    why = "bad magic";
  } else if (got < kContainerHeaderSize + kPartHeaderSize) {
    why = "no part after the container header";
  } else if (type != PartHeader && type != PartBundleHeader) {
    std::fprintf(stderr, "vpk: %s: not a package file: its first part (type %u) is no header\n",
                 file.c_str(), static_cast<unsigned>(type));
    return false;
  } else if (got == static_cast<ssize_t>(sizeof start)) {
    std::string name(field, strnlen(field, kNameFieldSize));
    if (!IsSafeDirectoryName(name)) {
      std::fprintf(stderr, "vpk: %s: package name '%s' is not allowed\n", file.c_str(),
                   Escaped(name).c_str());
      return false;
    }
  }
  if (why != nullptr) {
    std::fprintf(stderr, "vpk: %s: not a package file: %s\n", file.c_str(), why);
    return false;
  }
  return true;
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

// Opens file without waiting for a writer (a FIFO would block the open) and accepts only a
// regular file. Returns the descriptor, or -1 after the reason.
int OpenPackageFile(const std::string& file) {
  int descriptor = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat status;
  if (descriptor < 0 || fstat(descriptor, &status) != 0) {
    std::fprintf(stderr, "vpk: install: cannot open %s: %s\n", file.c_str(), std::strerror(errno));
  } else if (!S_ISREG(status.st_mode)) {
    std::fprintf(stderr, "vpk: %s: not a package file: not a regular file\n", file.c_str());
  } else if (fcntl(descriptor, F_SETFL, 0) != 0) {
    std::fprintf(stderr, "vpk: install: cannot read %s: %s\n", file.c_str(), std::strerror(errno));
  } else {
    return descriptor;
  }
  if (descriptor >= 0 && close(descriptor) != 0) {
    // Only read from, and refused: nothing to lose.
  }
  return -1;
}

bool InstallOneFile(const std::string& file, InstallMode mode) {
  int descriptor = OpenPackageFile(file);
  if (descriptor < 0) {
    return false;
  }
  __gnu_cxx::stdio_filebuf<char> buffer(descriptor, std::ios::in | std::ios::binary);
  std::istream in(&buffer);
  if (!StartsLikePackage(descriptor, file)) {
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
  Outcome outcome =
      ParseAdmin(argc, argv, usage, {.withModes = false, .wantsOperands = true}, &arguments);
  if (outcome != Outcome::kRun) {
    return outcome == Outcome::kHelpShown;
  }
  TreeLock lock;
  if (!OpenTree(word, TreeUse::kChange, arguments, &lock)) {
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
  Outcome outcome =
      ParseAdmin(argc, argv, usage, {.withModes = true, .wantsOperands = true}, &arguments);
  if (outcome != Outcome::kRun) {
    return outcome == Outcome::kHelpShown;
  }
  TreeLock lock;
  if (!OpenTree("install", TreeUse::kInstall, arguments, &lock)) {
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
          "--accept-installed), installs them in dependency order and deletes each once it is\n"
          "installed. A DOWNGRADE file in the system's /rw lets older files replace newer\n"
          "packages.\n\n") +
      rootHelp + modeHelp + "\n" +
      "Messages are also saved in postlog at the root of the tree. Exit status 0, 1 for wrong\n"
      "arguments or a missing tree, 3 when no package is left installed (the system must not\n"
      "go on booting).\n";
  AdminArguments arguments;
  Outcome outcome =
      ParseAdmin(argc, argv, usage, {.withModes = true, .wantsOperands = false}, &arguments);
  if (outcome != Outcome::kRun) {
    return outcome == Outcome::kHelpShown ? 0 : 1;
  }
  TreeLock lock;
  if (!TargetTreeExists("boot-install") || !lock.Take("vpk: ", arguments.waitSeconds)) {
    return 1;
  }
  // Without a database the files are installed all the same: they may bring the system back.
  if (!LoadDatabase({.quiet = false})) {
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
  Outcome outcome =
      ParseAdmin(argc, argv, usage, {.withModes = false, .wantsOperands = false}, &arguments);
  if (outcome != Outcome::kRun) {
    return outcome == Outcome::kHelpShown;
  }
  TreeLock lock;
  if (!OpenTree("purge-incompatible", TreeUse::kChange, arguments, &lock)) {
    return false;
  }
  PurgeIncompatiblePackages();
  SavePostLog();
  return true;
}
