// The hard-disk installation inside a throwaway root: the installation material lies on a fixture
// FAT file system of the very disk that is reinstalled.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include "tests/sandbox/harness.h"

namespace {

namespace fs = std::filesystem;

const std::string kMaterial = std::string(kMediaDirectory) + "/sda.vfat";
const std::string kNewRootTemplate = std::string(kFormatTemplateDirectory) + "/sda2";
const std::string kDiskBytes(2048, 'o');  // what the fixture disk holds before the run

// What a failure row makes of its path before the run.
enum class Change {
  kWritten,        // a file with the row's content
  kRemoved,        // nothing
  kRemovedAtMenu,  // nothing, from the moment the package menu shows (the medium asks for it)
  kDirectory,      // an empty directory
  kSocket,         // something that stat finds but open refuses
  kFull,           // a link to /dev/full, where every write fails
  kUnsigned,       // a package file that its child refuses: "dhcp", neither signed nor known
};

// How far a failing run got before its step failed.
enum class Reached { kNothing, kBootRecord, kPrepared, kInstalled };

class HardDiskSandbox : public SandboxTest {
 protected:
  void Lay() override {
    root_->Write("/dev/sda", kDiskBytes);
    // A FAT disk with only a boot record is passed over.
    root_->Write(std::string(kMediaDirectory) + "/hda.vfat/mbr", mbr_);
    root_->Write(kMaterial + "/mbr", mbr_);
    root_->Write(kMaterial + "/autorun.scr", "set hostname router\n");
    root_->InstallTool(kNewRootTemplate + "/bin/varo");
    ASSERT_TRUE(WriteFixturePackages(*root_, kMaterial));
  }

  // Runs the installation to its end, typing the menu keys after `atMenu` when the menu shows;
  // the screen.
  std::string Run(bool rebootsAtOnce, const char* menuKeys = nullptr,
                  const std::function<void()>& atMenu = nullptr) {
    auto terminal = root_->Start({"/bin/setup", "-hdd-install"});
    if (menuKeys != nullptr) {
      EXPECT_TRUE(terminal->Expect("system (depends on nothing):")) << terminal->Screen();
      if (atMenu) {
        atMenu();
      }
      terminal->Type(menuKeys);
    }
    if (rebootsAtOnce) {
      EXPECT_TRUE(terminal->Expect("Rebooting...")) << terminal->Screen();
    }
    EXPECT_TRUE(EndedByReboot(rebootsAtOnce ? terminal->Wait() : FinishRun(*terminal)))
        << terminal->Screen();
    return terminal->Screen();
  }

  // Adds signed packages extra0, extra1, ... to the material, each installing /etc/NAME.
  void AddPackages(int count) {
    for (int i = 0; i < count; ++i) {
      std::string name = "extra" + std::to_string(i);
      ASSERT_TRUE(
          TestPackage(name, "1.0")
              .File("/etc/" + name, name + "\n")
              .Write(root_->HostPath(kMaterial + "/" + name + ".vpk"), TestPackage::kSigned));
    }
  }

  void Make(const std::string& path, Change change, const char* content) {
    std::string host = root_->HostPath(path);
    fs::remove_all(host);
    fs::create_directories(fs::path(host).parent_path());
    if (change == Change::kWritten) {
      root_->Write(path, content);
    } else if (change == Change::kDirectory) {
      fs::create_directory(host);
    } else if (change == Change::kFull) {
      fs::create_symlink("/dev/full", host);
    } else if (change == Change::kUnsigned) {
      EXPECT_TRUE(TestPackage("dhcp", "1.0").File("/etc/dhcp", "dhcp\n").Write(host));
    } else if (change == Change::kSocket) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      ASSERT_LT(host.size(), sizeof address.sun_path);
      memcpy(address.sun_path, host.c_str(), host.size() + 1);
      int bound = socket(AF_UNIX, SOCK_STREAM, 0);
      EXPECT_EQ(bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << host;
      close(bound);
    }
  }

  // The sleeps of about a second that the installer and its children skipped.
  int OneSecondSleeps() const {
    std::istringstream lines(root_->Read(kSleepFile));
    int count = 0;
    for (uint64_t microseconds; lines >> microseconds;) {
      count += (microseconds + 500000) / 1000000 == 1 ? 1 : 0;
    }
    return count;
  }

  std::string mbr_ = std::string(510, 'b') + "\x55\xaa";
};

// Fifty packages, as many as the flow holds; the disk is the fourth the geometry query lists, the
// last that its table of four keeps.
TEST_F(HardDiskSandbox, UnattendedRunWritesTheBootRecordInstallsEverythingAndKeepsTheScript) {
  AddPackages(50 - int(std::size(kFixturePackages)));
  root_->Write(kGeometryFile,
               "/dev/hda: 80 cylinders, 16 heads, 63 sectors/track\n"
               "/dev/hdb: 80 cylinders, 16 heads, 63 sectors/track\n"
               "/dev/hdc: 80 cylinders, 16 heads, 63 sectors/track\n"
               "/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track\n");
  std::string screen = Run(true);
  EXPECT_NE(screen.find("Reading: system-1.0..."), std::string::npos) << screen;
  EXPECT_NE(screen.find("\r\nSoftware installed.\r\n"), std::string::npos) << screen;
  EXPECT_EQ(root_->Read("/dev/sda"), mbr_ + kDiskBytes.substr(512));
  EXPECT_EQ(root_->Read(kNewRoot + "/rw/autorun.scr"), "set hostname router\n");
  // The preparation made /rw a base directory (0755 under the mask 022); the flow's own mkdir
  // (0666) finds it there and leaves it as it is.
  EXPECT_EQ(fs::status(root_->HostPath(kNewRoot + "/rw")).permissions(), fs::perms(0755));
  for (const char* name : kFixturePackages) {
    EXPECT_EQ(root_->Read(kNewRoot + "/etc/" + name), std::string(name) + "\n");
  }
  EXPECT_EQ(root_->Read(kNewRoot + "/etc/extra44"), "extra44\n");
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

// Each step that can end the flow, with its message; nothing after it runs.
TEST_F(HardDiskSandbox, EachStepFailsInTurnWithItsMessageAndNothingAfterIt) {
  const struct {
    const char* what;
    std::string path;  // changed before the run
    Change change;
    const char* content;  // for kWritten
    const char* message;
    Reached reached = Reached::kNothing;
    int extraPackages = 0;  // beside the five of the fixture
    int searchSleeps = 0;   // of a second each, one after each pass without a find
  } cases[] = {
      {"no disk with the material in 20 passes", kMaterial + "/autorun.scr", Change::kRemoved,
       nullptr, "FATAL ERROR: No hard disk found", Reached::kNothing, 0, 20},
      {"too many packages", kMaterial + "/notes", Change::kWritten, "",
       "FATAL ERROR: 51 packages to install, at most 50 fit in memory", Reached::kNothing, 46},
      {"a package gone when it is read", kMaterial + "/system.vpk", Change::kRemovedAtMenu, nullptr,
       "\r\nFATAL ERROR: could not read file /floppy/system.vpk\r\n"},
      {"an unreadable script", kMaterial + "/autorun.scr", Change::kSocket, nullptr,
       "FATAL ERROR: could not read configuration"},
      {"a boot record that cannot be opened", kMaterial + "/mbr", Change::kSocket, nullptr,
       "FATAL ERROR: Couldn't open mbr file"},
      {"short boot record", kMaterial + "/mbr", Change::kWritten, "short mbr",
       "FATAL ERROR: Couldn't read mbr file"},
      {"a disk that cannot be opened", "/dev/sda", Change::kSocket, nullptr,
       "FATAL ERROR: Couldn't open disk"},
      {"a disk that cannot be written", "/dev/sda", Change::kFull, nullptr,
       "FATAL ERROR: Couldn't write to disk"},
      {"disk not listed", kGeometryFile, Change::kWritten,
       "/dev/hdc: 2088 cylinders, 255 heads, 63 sectors/track\n",
       "FATAL ERROR: Couldn't find the disk!", Reached::kBootRecord},
      {"no descriptors left for an installer child", kSpareDescriptorFile, Change::kWritten,
       "mount /dev/sda1 /flash/boot", "FATAL ERROR: Couldn't start install", Reached::kPrepared},
      {"a package its child refuses", kMaterial + "/dhcp.vpk", Change::kUnsigned, nullptr,
       "\r\nFATAL ERROR: 1 of 5 packages were not installed: dhcp\r\n", Reached::kInstalled},
      {"a directory where the script goes", kNewRootTemplate + "/rw/autorun.scr",
       Change::kDirectory, nullptr, "FATAL ERROR: couldn't make script", Reached::kInstalled},
      {"a script that cannot be written", kNewRootTemplate + "/rw/autorun.scr", Change::kFull,
       nullptr, "FATAL ERROR: Writing configuration failed", Reached::kInstalled},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.what);
    SetUp();
    AddPackages(run.extraPackages);
    bool atMenu = run.change == Change::kRemovedAtMenu;
    auto change = [&] { Make(run.path, run.change, run.content); };
    if (atMenu) {
      root_->Write(kMaterial + "/CHOOSE", "");
    } else {
      change();
    }
    std::string screen = Run(false, atMenu ? "i" : nullptr, change);
    EXPECT_NE(screen.find(run.message), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Software installed."), std::string::npos) << screen;
    EXPECT_EQ(OneSecondSleeps(), run.searchSleeps);
    EXPECT_EQ(root_->Calls("exec /sbin/mke2fs").empty(), run.reached < Reached::kPrepared);
    EXPECT_EQ(root_->Exists(kNewRoot), run.reached >= Reached::kPrepared);
    EXPECT_EQ(root_->Exists(kNewRoot + "/etc/system"), run.reached == Reached::kInstalled);
    EXPECT_TRUE(root_->Calls("exec /bin/varo").empty());
    // A disk that the row replaced is not read back: /dev/full never ends.
    if (run.path != "/dev/sda") {
      EXPECT_EQ(root_->Read("/dev/sda"),
                run.reached == Reached::kNothing ? kDiskBytes : mbr_ + kDiskBytes.substr(512));
    }
  }
}

}  // namespace
