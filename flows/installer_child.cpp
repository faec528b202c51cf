#include "flows/installer_child.h"

#include <sys/wait.h>
#include <unistd.h>
#include <ext/stdio_filebuf.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <istream>
#include <string>

#include "disk/tools.h"
#include "packages/database_load.h"
#include "packages/install_package.h"
#include "packages/package_database.h"
#include "packages/package_file.h"
#include "packages/roots.h"
#include "streams/part_types.h"

namespace {

// Forks a child whose standard input is the read end of a new pipe, and with descriptors 3 to
// 15 closed. Returns the child's pid in the parent, with the write end in writeEnd; 0 in the
// child; -1 when the pipe or the child could not be made.
pid_t ForkWithPipedInput(int& writeEnd) {
  int ends[2];
  if (pipe(ends) != 0) {
    return -1;
  }
  fflush(nullptr);  // what is still buffered would otherwise be printed twice
  pid_t child = fork();
  if (child == 0) {
    dup2(ends[0], 0);
    for (int descriptor = 3; descriptor <= 15; ++descriptor) {
      close(descriptor);
    }
    return 0;
  }
  close(ends[0]);
  if (child < 0) {
    close(ends[1]);
    return -1;
  }
  writeEnd = ends[1];
  return child;
}

// The tee of image mode: every byte read is kept in "image" at the target root, which is then
// linked into the package's database directory and removed under its own name.
void InstallKeepingImage(std::istream& input) {
  std::string image = TargetPath("/image");
  std::filebuf file;
  if (file.open(image, std::ios::out | std::ios::binary | std::ios::trunc) == nullptr) {
    puts("ERROR: could not open image");
    return;
  }
  std::string imageDirectory;
  bool bootImage = false;
  int result = InstallFromStream(input, AllowUpgrade, Selection(), &file,
                                 InstallOutputs{&imageDirectory, &bootImage});
  file.close();
  if (result == 0 && !imageDirectory.empty()) {
    if (bootImage && link(image.c_str(), TargetPath("/bootimage").c_str()) != 0) {
      // The boot image stays reachable through the package's own link.
    }
    if (link(image.c_str(), (imageDirectory + "image").c_str()) != 0) {
      puts("ERROR: could not save package image");
    }
  }
  unlink(image.c_str());
}

// Direct mode installs one plain package relative to the working directory.
void InstallDirectly(std::istream& input) {
  PartReader reader(input, true);
  for (int type : {PartHeader, PartFiles, PartSignature}) {
    reader.AcceptPartType(type);
  }
  reader.NextPart();
  Package p;
  if (ReadPackageHeader(p, reader)) {
    InstallPackageContents(p, reader, true);
  }
}

}  // namespace

FILE* StartInstallerChild(bool keepImage, bool quiet) {
  if (childPid != -1) {
    return nullptr;
  }
  int writeEnd = -1;
  pid_t child = ForkWithPipedInput(writeEnd);
  if (child == 0) {
    // The parent's handler only records the interrupt; the child must end with an abort.
    signal(SIGINT, SIG_DFL);
    InstallerChildMain(keepImage, quiet);
    fflush(nullptr);
    _exit(0);
  }
  if (child < 0) {
    return nullptr;
  }
  FILE* stream = fdopen(writeEnd, "w");
  if (stream == nullptr) {
    close(writeEnd);  // the child reads an empty package and ends
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return nullptr;
  }
  childPid = child;
  return stream;
}

void InstallerChildMain(bool keepImage, bool quiet) {
  // Direct mode unpacks relative to the working directory: the running system's root.
  if (chdir(SystemPath("/").c_str()) != 0) {
    printf("ERROR: could not change to %s\n", SystemPath("/").c_str());
    return;
  }
  GetPackageDatabase();
  LoadDatabase(quiet);
  __gnu_cxx::stdio_filebuf<char> standardInput(0, std::ios::in);
  std::istream input(&standardInput);
  if (keepImage) {
    InstallKeepingImage(input);
  } else {
    InstallDirectly(input);
  }
}
