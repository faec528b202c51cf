#include "tests/support/install_helpers.h"

#include <openssl/sha.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "packages/install_stream.h"
#include "packages/known_package_digests.h"
#include "packages/package_database.h"
#include "tests/support/package_builder.h"

namespace {

std::string testDigest;

bool IsTestDigest(const std::uint8_t digest[20]) {
  return std::memcmp(testDigest.data(), digest, 20) == 0;
}

}  // namespace

int InstallTestFile(const std::string& path, InstallMode mode, const Selection& selection,
                    bool* bootImage) {
  std::ifstream input(path, std::ios::binary);
  if (!input) {
    ADD_FAILURE() << "cannot open " << path;
    return -1;
  }
  return InstallFromStream(input, mode, selection, nullptr, InstallOutputs{nullptr, bootImage});
}

std::string InstalledStates() {
  std::string text;
  for (const auto& p : GetPackageDatabase().Records()) {
    text += p->name + " " + VersionText(p->version) + (p->disabled ? " off" : " on") +
            (p->bundle.name.empty() ? "" : " in:" + p->bundle.name) + "\n";
  }
  return text;
}

std::string InstallTest::Package(const std::string& name, const char* version, std::string dir,
                                 TestPackage::Signing signing) {
  dir = dir.empty() ? tree.Base() : dir;
  MakeTestDirectories(dir);
  std::string path = dir + "/" + name + version + ".vpk";
  TestPackage p(name, version);
  EXPECT_TRUE(
      p.File("/" + name, version).File("/" + name + "-" + version, "").Write(path, signing));
  return path;
}

bool InstallTest::MountTmpfs(const std::string& dir, const char* options) {
  if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return false;
  }
  MakeTestDirectories(dir);
  if (mount("tmpfs", dir.c_str(), "tmpfs", 0, options) != 0) {
    ADD_FAILURE() << "cannot mount a tmpfs on " << dir;
    return false;
  }
  mounted.push_back(dir);
  return true;
}

void InstallTest::TearDown() {
  for (auto dir = mounted.rbegin(); dir != mounted.rend(); ++dir) {
    EXPECT_EQ(umount(dir->c_str()), 0) << *dir;
  }
  output = testing::internal::GetCapturedStdout();
  if (HasFailure()) {
    std::fputs(output.c_str(), stdout);
  }
}

TestDigestTable::TestDigestTable(const std::string& file) {
  std::string bytes = ReadWholeTestFile(file);
  unsigned char digest[SHA_DIGEST_LENGTH] = {};
  if (bytes.size() > 8) {
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()) + 8, bytes.size() - 8, digest);
  }
  testDigest.assign(reinterpret_cast<const char*>(digest), sizeof digest);
  GetPackageDatabase().knownDigestCheck = IsTestDigest;
}

TestDigestTable::~TestDigestTable() {
  GetPackageDatabase().knownDigestCheck = IsKnownPackageDigest;
}
