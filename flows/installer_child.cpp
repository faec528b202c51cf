#include "flows/installer_child.h"

#include <unistd.h>
#include <ext/stdio_filebuf.h>

#include <csignal>
#include <fstream>
#include <istream>
#include <string>

#include "disk/tools.h"
#include "packages/database_load.h"
#include "packages/install_package.h"
#include "packages/install_stream.h"
#include "packages/package_database.h"
#include "packages/package_file.h"
#include "packages/roots.h"
#include "platform/child_process.h"
#include "streams/package_format.h"

namespace {

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
    InstallPackageContents(p, reader, Placement::kWorkingDirectory);
  }
}

}  // namespace

FILE* StartInstallerChild(bool keepImage, bool quiet) {
  // Standard output and error stay on the console, among the installer's own messages.
  return OpenPipedChild(ChildPlan{}, false, [&](const ChildPlan& plan) {
    return StartChild(plan, [&] {
      // The installer's handler only records the interrupt; an abort must end this child.
      signal(SIGINT, SIG_DFL);
      InstallerChildMain(keepImage, quiet);
      return 0;
    });
  });
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
