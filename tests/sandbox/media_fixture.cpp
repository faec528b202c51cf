#include "tests/sandbox/media_fixture.h"

#include "tests/support/package_builder.h"

namespace {

void Describe(TestPackage& p, const std::string& name) {
  p.File("/etc/" + name, name + "\n");
  if (name == "system") {
    p.Flags(kFlagBootImage).Image("kernel");
  } else if (name == "ppp") {
    p.Depends("system").Image("ppp image");
  } else if (name == "advanced-tools") {
    p.Depends("ppp");
  }
}

}  // namespace

bool WriteFixturePackages(const SandboxRoot& root, const std::string& directory) {
  root.MakeDirectory(directory);
  bool written = true;
  for (const char* name : kFixturePackages) {
    TestPackage p(name, "1.0");
    Describe(p, name);
    written =
        p.Write(root.HostPath(directory + "/" + name + ".vpk"), TestPackage::kSigned) && written;
  }
  return written;
}
