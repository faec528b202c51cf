// The hard-disk installation inside a throwaway root: the installation material lies on a fixture
// FAT file system of the very disk that is reinstalled.

#include <algorithm>
#include <filesystem>

#include "gtest/gtest.h"
#include "tests/sandbox/harness.h"
#include "tests/sandbox/media_fixture.h"
#include "tests/support/package_builder.h"
#include "tests/support/sandbox_layout.h"

namespace {

const std::string kMaterial = std::string(kMediaDirectory) + "/sda.vfat";
const std::string kNewRoot = std::string(kMediaDirectory) + "/sda2.ext3";
const std::string kDiskBytes(2048, 'o');  // what the fixture disk holds before the run

class HardDiskSandbox : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    root_ = std::make_unique<InstallerSandbox>();
    root_->Write("/dev/sda", kDiskBytes);
    // A FAT disk with only a boot record is passed over.
    root_->Write(std::string(kMediaDirectory) + "/hda.vfat/mbr", mbr_);
    root_->Write(kMaterial + "/mbr", mbr_);
    root_->Write(kMaterial + "/autorun.scr", "set hostname router\n");
    root_->InstallTool(std::string(kFormatTemplateDirectory) + "/sda2/bin/varo");
    ASSERT_TRUE(WriteFixturePackages(*root_, kMaterial));
  }

  // Runs the installation to its end; the screen.
  std::string Run(bool rebootsAtOnce, const char* menuKeys = nullptr) {
    auto terminal = root_->Start({"/bin/setup", "-hdd-install"});
    if (menuKeys != nullptr) {
      EXPECT_TRUE(terminal->Expect("system (depends on nothing):")) << terminal->Screen();
      terminal->Type(menuKeys);
    }
    if (!rebootsAtOnce) {
      EXPECT_TRUE(terminal->Expect("Press ENTER to reboot")) << terminal->Screen();
      terminal->Type("\r");
    }
    EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();
    return terminal->Screen();
  }

  std::string mbr_ = std::string(510, 'b') + "\x55\xaa";
  std::unique_ptr<InstallerSandbox> root_;
};

TEST_F(HardDiskSandbox, UnattendedRunWritesTheBootRecordInstallsEverythingAndKeepsTheScript) {
  std::string screen = Run(true);
  EXPECT_NE(screen.find("Reading: system-1.0..."), std::string::npos) << screen;
  EXPECT_NE(screen.find("\r\nSoftware installed.\r\n"), std::string::npos) << screen;
  EXPECT_EQ(root_->Read("/dev/sda"), mbr_ + kDiskBytes.substr(512));
  EXPECT_EQ(root_->Read(kNewRoot + "/rw/autorun.scr"), "set hostname router\n");
  for (const char* name : kFixturePackages) {
    EXPECT_EQ(root_->Read(kNewRoot + "/etc/" + name), std::string(name) + "\n");
  }
  EXPECT_EQ(root_->Read(kNewRoot + "/bootimage"), root_->Read(kMaterial + "/system.vpk"));
  const std::vector<std::string> search = {"mount /dev/hda /floppy vfat 0x0 = 0",
                                           "umount /floppy = 0",
                                           "mount /dev/hdb /floppy vfat 0x0 = -1",
                                           "mount /dev/hdc /floppy vfat 0x0 = -1",
                                           "mount /dev/hdd /floppy vfat 0x0 = -1",
                                           "mount /dev/sda /floppy vfat 0x0 = 0",
                                           "umount /floppy = 0"};
  std::vector<std::string> calls = root_->Calls();
  std::erase_if(calls, [](const std::string& call) { return call.find("/floppy") == call.npos; });
  calls.resize(std::min(calls.size(), search.size()));
  EXPECT_EQ(calls, search);
}

// With "CHOOSE" the boot record is neither read nor written, so a short one does no harm; an
// empty script gives an empty file.
TEST_F(HardDiskSandbox, ChosenRunLeavesTheBootRecordAlone) {
  root_->Write(kMaterial + "/mbr", std::string(100, 'b'));
  root_->Write(kMaterial + "/CHOOSE", "");
  root_->Write(kMaterial + "/autorun.scr", "");
  std::string screen = Run(true, "i");
  EXPECT_NE(screen.find("Software installed."), std::string::npos) << screen;
  EXPECT_EQ(root_->Read("/dev/sda"), kDiskBytes);
  EXPECT_TRUE(root_->Exists(kNewRoot + "/rw/autorun.scr"));
  EXPECT_EQ(root_->Read(kNewRoot + "/rw/autorun.scr"), "");
  EXPECT_TRUE(root_->Exists(kNewRoot + "/etc/system"));  // the menu starts from the minimum
  EXPECT_FALSE(root_->Exists(kNewRoot + "/etc/ppp"));
}

TEST_F(HardDiskSandbox, EachStepFailsInTurnWithItsMessageBeforeTheDiskIsTouched) {
  const struct {
    const char* what;
    std::string file;  // written before the run, or removed when content is null
    const char* content;
    const char* message;
    int extraPackages = 0;  // beside the five of the fixture
  } cases[] = {
      {"no disk with the material in 20 passes", kMaterial + "/autorun.scr", nullptr,
       "FATAL ERROR: No hard disk found"},
      {"too many packages", kMaterial + "/notes", "",
       "FATAL ERROR: 51 packages to install, at most 50 fit in memory", 46},
      {"a file that is no package", kMaterial + "/bad.vpk", "x", "FATAL ERROR: Bad package -0.0"},
      {"short boot record", kMaterial + "/mbr", "short mbr", "FATAL ERROR: Couldn't read mbr file"},
      {"disk not listed", kGeometryFile, "/dev/hdc: 2088 cylinders, 255 heads, 63 sectors/track\n",
       "FATAL ERROR: Couldn't find the disk!"},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.what);
    SetUp();
    if (run.content == nullptr) {
      std::filesystem::remove(root_->HostPath(run.file));
    } else {
      root_->Write(run.file, run.content);
    }
    for (int i = 0; i < run.extraPackages; ++i) {
      std::string name = "extra" + std::to_string(i);
      TestPackage(name, "1.0").Write(root_->HostPath(kMaterial + "/" + name + ".vpk"));
    }
    std::string screen = Run(false);
    EXPECT_NE(screen.find(run.message), std::string::npos) << screen;
    EXPECT_TRUE(root_->Calls("exec /sbin/mke2fs").empty());
    EXPECT_FALSE(root_->Exists(kNewRoot));
    // Only a disk that is not listed has had its boot record written by then.
    EXPECT_EQ(root_->Read("/dev/sda") == kDiskBytes, std::string(run.what) != "disk not listed");
  }
}

}  // namespace
