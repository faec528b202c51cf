#include "flows/installer_child.h"

#include <sys/wait.h>
#include <unistd.h>
#include <ext/stdio_filebuf.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <istream>
#include <string>

#include "packages/database_load.h"
#include "packages/install_package.h"
#include "packages/install_stream.h"
#include "packages/package_database.h"
#include "packages/package_file.h"
#include "packages/roots.h"
#include "packages/tree_lock.h"
#include "platform/child_process.h"
#include "streams/package_format.h"

namespace {

// The image file of image mode. A failed write stops the package reader as broken bytes would;
// its errno is recorded so that the installation says what failed (a full disk, above all).
class ImageCopy : public std::filebuf {
 protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    errno = 0;
    std::streamsize put = std::filebuf::xsputn(data, size);
    if (put != size && GetPackageDatabase().copyWriteError == 0) {
      GetPackageDatabase().copyWriteError = errno != 0 ? errno : EIO;
    }
    return put;
  }
};

// The tee of image mode: every byte read is kept in "image" at the target root, which is then
// linked into the package's database directory and removed under its own name.
bool InstallKeepingImage(std::istream& input) {
  std::string image = TargetPath("/image");
  ImageCopy file;
  if (file.open(image, std::ios::out | std::ios::binary | std::ios::trunc) == nullptr) {
    puts("ERROR: could not open image");
    return false;
  }
  std::string imageDirectory;
  bool bootImage = false;
  int result = InstallFromStream(input, AllowUpgrade, Selection(), &file,
                                 InstallOutputs{&imageDirectory, &bootImage});
  bool kept = file.close() != nullptr;
  if (result == 0 && !imageDirectory.empty()) {
    if (bootImage && link(image.c_str(), TargetPath("/bootimage").c_str()) != 0) {
      // The boot image stays reachable through the package's own link.
    }
    if (!kept || link(image.c_str(), (imageDirectory + "image").c_str()) != 0) {
      puts("ERROR: could not save package image");
      kept = false;
    }
  }
  unlink(image.c_str());
  return result == 0 && kept;
}

// Direct mode installs one plain package relative to the working directory.
bool InstallDirectly(std::istream& input) {
  PartReader reader(input, Hashing::kOn);
  for (int type : {PartHeader, PartFiles, PartSignature}) {
    reader.AcceptPartType(type);
  }
  reader.NextPart();
  Package p;
  return ReadPackageHeader(p, reader) &&
         InstallPackageContents(p, reader, Placement::kWorkingDirectory);
}

}  // namespace

PipedChild StartInstallerChild(InstallerChildOptions options) {
  // Standard output and error stay on the console, among the installer's own messages.
  return PipedChild::Start(ChildPlan{}, PipeDirection::kChildReads, [&](const ChildPlan& plan) {
    return StartChild(plan, [&] {
      // The installer's handler only records the interrupt; an abort must end this child.
      signal(SIGINT, SIG_DFL);
      return InstallerChildMain(options) ? 0 : 1;
    });
  });
}

bool EndInstallerChild(PipedChild& child) {
  int status = child.Close();
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool InstallerChildMain(InstallerChildOptions options) {
  // Direct mode unpacks relative to the working directory: the running system's root.
  if (chdir(SystemPath("/").c_str()) != 0) {
    printf("ERROR: could not change to %s\n", SystemPath("/").c_str());
    return false;
  }
  // One writer per tree: a vpk run on the same tree, or another child, would mix two changes.
  TreeLock lock;
  if (!lock.Take("ERROR: ", 0)) {
    return false;
  }
  GetPackageDatabase();
  LoadDatabase({.quiet = options.quiet});
  __gnu_cxx::stdio_filebuf<char> standardInput(0, std::ios::in);
  std::istream input(&standardInput);
  return options.keepImage ? InstallKeepingImage(input) : InstallDirectly(input);
}

void CountInstallation(InstallTally& tally, const std::string& name, bool installed) {
  ++tally.handed;
  if (!installed) {
    tally.notInstalled.push_back(name);
  }
}

bool AllInstalled(const InstallTally& tally) {
  if (tally.notInstalled.empty()) {
    return true;
  }
  std::string names;
  for (const std::string& name : tally.notInstalled) {
    names += (names.empty() ? "" : ", ") + name;
  }
  printf("\nFATAL ERROR: %zu of %zu packages were not installed: %s\n", tally.notInstalled.size(),
         tally.handed, names.c_str());
  return false;
}
