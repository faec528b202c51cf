#include "packages/boot_install.h"
#include "packages/boot_install_internal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstring>
#include <filesystem>

#include "packages/database_load.h"
#include "packages/database_lookup.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"

namespace {

constexpr time_t kOldTime = 1000000000;

// The flash's free space as the run sees it, and the step at which a forked run stops.
std::uint64_t flashFree = 0;
const char* stopStep = nullptr;
int stopCount = 0;
int filesPlaced = 0;

std::uint64_t FlashFree(const std::string&) {
  return flashFree;
}

void StepDone(const char* step) {
  filesPlaced += std::strcmp(step, "placed") == 0;
  if (stopStep != nullptr && std::strcmp(step, stopStep) == 0 && --stopCount == 0) {
    _exit(0);
  }
}

class BootInstallTest : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    GetBootInstallProbes() = BootInstallProbes{FlashFree, StepDone};
    flashFree = std::uint64_t(1) << 40;
    filesPlaced = 0;
  }
  void TearDown() override {
    GetBootInstallProbes() = BootInstallProbes{};
    InstallTest::TearDown();
  }
  // Writes p, signed, into dir (created when missing) with an old modification time.
  std::string Drop(const TestPackage& p, const std::string& dir, const std::string& name) {
    MakeTestDirectories(dir);
    std::string path = dir + "/" + name;
    utimbuf times{kOldTime, kOldTime};
    EXPECT_TRUE(p.Write(path, TestPackage::kSigned) && utime(path.c_str(), &times) == 0);
    return path;
  }
  void Install(const char* name, const char* version) {
    ASSERT_EQ(InstallTestFile(Package(name, version, File("files")), AllowUpgrade), 0);
  }
  std::string Pckg() const { return tree.Target("/rw/pckg"); }
  // Deletes everything in dir.
  void Empty(const std::string& dir) {
    std::error_code error;
    EXPECT_GT(std::filesystem::remove_all(dir, error), 0u) << error.message();
    MakeTestDirectories(dir);
  }
  // Runs BootInstall in a child stopped at the count-th step of that name, as a kill would; then
  // empties RAM as a reboot would, unless ramKept, and loads the database the run left.
  void KilledRun(const char* step, int count, bool ramKept) {
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
      stopStep = step;
      stopCount = count;
      BootInstall(AllowUpgrade);
      _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run never got there";
    if (!ramKept) {
      Empty(tree.System("/ram"));
    }
    GetPackageDatabase().Clear();
    ASSERT_TRUE(LoadDatabase({.quiet = false}));
  }
};

// A meminfo file of the layout with MemAvailable, with MemFree + Buffers + Cached as given.
std::string MemInfo(unsigned long long freeKiB) {
  return "MemTotal: 2000000 kB\nMemFree: " + std::to_string(freeKiB - 200) +
         " kB\nMemAvailable: 1500000 kB\nBuffers: 100 kB\nCached: 100 kB\n";
}

TEST_F(BootInstallTest, RamBudgetFromFreeMemory) {
  const std::pair<std::string, std::uint64_t> cases[] = {
      {MemInfo(8192), 0},
      {MemInfo(8193), 1024},
      {MemInfo(8192 + 131072), 128 << 20},
      {"MemTotal: 9 kB\nMemFree: 9000 kB\nBuffers: 100 kB\nCached: 116 kB\n", 1 << 20},
      {"MemTotal: 9 kB\nMemFree: 900000 kB\nBuffers: 100 kB\n", 0}};
  for (const auto& [text, budget] : cases) {
    WriteTreeFile(tree.System("/proc/meminfo"), text);
    EXPECT_EQ(RamBudget(tree.System("/proc/meminfo")), budget) << text;
  }
  EXPECT_EQ(RamBudget(tree.System("/proc/none")), 0u);
}

TEST_F(BootInstallTest, DowngradeMarkerLetsTheOlderFileIn) {
  Install("base", "1.0");
  Install("ppp", "2.0");
  std::string older = Package("ppp", "1.0", Pckg());
  std::string newer = Package("ppp", "1.5", Pckg());
  WriteTreeFile(tree.System("/rw/DOWNGRADE"), "");
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "base 1.0 on\nppp 1.0 on\n");
  // The marker is used up; the file not chosen stays for the next boot.
  EXPECT_FALSE(PathExists(tree.System("/rw/DOWNGRADE")) || PathExists(older));
  EXPECT_TRUE(PathExists(newer));
}

TEST_F(BootInstallTest, FallbackDirectoryOnlyWhenTheDropDirectoryIsEmpty) {
  Package("ppp", "1.0", Pckg());
  std::string fallback = Package("pptp", "1.0", tree.Target("/var/pckg"));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "ppp 1.0 on\n");
  EXPECT_TRUE(PathExists(fallback));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "ppp 1.0 on\npptp 1.0 on\n");
  EXPECT_FALSE(PathExists(fallback));
}

// A file goes to RAM copied while the flash has room for what it installs, else moved; a failed
// installation brings a moved one back.
TEST_F(BootInstallTest, OnlyFilesSmallerThanTheBudgetLeftGoToRamAndFailedOnesComeBack) {
  // Packages for another architecture verify but fail to install; the description pads them to
  // the budget of 8 KiB and one byte less.
  auto padded = [&](const char* name, std::size_t size) {
    TestPackage p(name, "1.0");
    p.Info().architecture = "mips";
    p.Info().description = "x";
    std::size_t base = p.Bytes(TestPackage::kSigned).size();
    p.Info().description = std::string(size - base + 1, 'x');
    return Drop(p, Pckg(), std::string(name) + ".vpk");
  };
  Install("base", "1.0");
  WriteTreeFile(tree.System("/proc/meminfo"), MemInfo(8192 + 8));
  MakeTestDirectories(tree.System("/ram"));
  for (bool room : {true, false}) {
    SCOPED_TRACE(room ? "copied" : "moved");
    // Considered in reverse name order: the exact one first, so it alone decides the boundary.
    std::string exact = padded("bbb", 8192);
    std::string smaller = padded("aaa", 8191);
    std::string content = ReadWholeTestFile(smaller);
    ASSERT_EQ(ReadWholeTestFile(exact).size() + content.size(), 8192u + 8191u);
    flashFree = 3 * (8192 + 8191) - (room ? 0 : 1);
    filesPlaced = 0;
    EXPECT_TRUE(BootInstall(AllowUpgrade));
    EXPECT_EQ(filesPlaced, 1);
    struct stat exactStatus, smallerStatus;
    ASSERT_EQ(stat(exact.c_str(), &exactStatus) | stat(smaller.c_str(), &smallerStatus), 0);
    EXPECT_EQ(exactStatus.st_mtime, kOldTime);            // never in RAM
    EXPECT_EQ(smallerStatus.st_mtime == kOldTime, room);  // a move and back makes a new copy
    EXPECT_EQ(ReadWholeTestFile(smaller), content);
    EXPECT_EQ(ListTree(tree.System("/ram")), std::vector<std::string>{});
    EXPECT_FALSE(PathExists(tree.Target("/.vpk-in-ram")));
  }
}

// A run killed, then run again with the RAM lost (a power cut) or kept. A dropped file moved to RAM
// before anything was installed used to be lost in silence, or stranded in a kept RAM.
TEST_F(BootInstallTest, NoUpdateIsLostWhenARunIsInterrupted) {
  const char* all = "base 1.0 on\nppp 2.0 on\npptp 1.0 on\n";
  struct {
    bool room;  // copied to RAM, else moved
    const char* step;
    int count;
    bool ramKept;
    const char* states;  // after the next run
    const char* lost;    // the updates it reports lost
  } cases[] = {
      {true, "placed", 2, false, all, ""},
      {true, "committed", 1, false, all, ""},
      {true, "done", 1, false, all, ""},
      {false, "placed", 1, false, "base 1.0 on\nppp 1.0 on\npptp 1.0 on\n", "ppp-2.0 "},
      {false, "placed", 2, false, "base 1.0 on\nppp 1.0 on\n", "ppp-2.0 pptp-1.0 "},
      {false, "committed", 1, false, "base 1.0 on\nppp 2.0 on\n", "pptp-1.0 "},
      {false, "done", 1, false, "base 1.0 on\nppp 2.0 on\n", "pptp-1.0 "},
      {true, "placed", 2, true, all, ""},
      {false, "placed", 2, true, all, ""},
      {false, "committed", 1, true, all, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.room ? "copied" : "moved") + ", stopped at " + c.step + " " +
                 std::to_string(c.count) + (c.ramKept ? ", RAM kept" : ", RAM lost"));
    GetPackageDatabase().Clear();
    Empty(tree.Target());
    Empty(tree.System());
    MakeTestDirectories(tree.System("/ram"));
    WriteTreeFile(tree.System("/proc/meminfo"), MemInfo(8192 + 131072));
    Install("base", "1.0");
    Install("ppp", "1.0");
    Package("ppp", "2.0", Pckg());
    Drop(TestPackage("pptp", "1.0").Depends("ppp").File("/pptp", "1.0"), Pckg(), "pptp.vpk");
    flashFree = c.room ? std::uint64_t(1) << 40 : 0;
    KilledRun(c.step, c.count, c.ramKept);
    GetPackageDatabase().log.clear();
    BootInstall(AllowUpgrade);
    EXPECT_EQ(InstalledStates(), c.states);
    std::string lost;
    for (const std::string& line : GetPackageDatabase().log) {
      if (line.starts_with("WARNING: the update ")) {
        lost += line.substr(20, line.find(' ', 20) - 20) + " ";
        EXPECT_EQ(line.substr(line.find(' ', 20)), " was lost by an interruption; drop it again");
      }
    }
    EXPECT_EQ(lost, c.lost);
    // Nothing is left for a later run: no file, no copy in RAM, no record.
    EXPECT_EQ(ListTree(Pckg()), std::vector<std::string>{});
    EXPECT_EQ(ListTree(tree.System("/ram")), std::vector<std::string>{});
    EXPECT_FALSE(PathExists(tree.Target("/.vpk-in-ram")));
  }
}

TEST_F(BootInstallTest, UserChoicesStayAndEnabledNamesComeBack) {
  // base excludes the new ppp, which is therefore installed disabled; it was enabled before.
  TestPackage base("base", "1.0");
  ASSERT_EQ(InstallTestFile(Drop(base.Conflicts("ppp>=2.0"), File("files"), "base.vpk"), 0), 0);
  Install("ppp", "1.0");
  Install("pptp", "1.0");
  FindPackage("pptp")->userForced = true;
  WriteDisabledState(*FindPackage("pptp"));
  Package("pptp", "2.0", Pckg());
  Package("ppp", "2.0", Pckg());
  GetPackageDatabase().log.clear();
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "base 1.0 on\npptp 2.0 off\nppp 2.0 on\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/pptp/disabled")), "user\n");
  std::string log = LogText();
  EXPECT_NE(log.find("installed (disabled) ppp-2.0\n"), std::string::npos);
  EXPECT_EQ(log.substr(log.rfind('\n') + 1), "enabled ppp-2.0");
}

// A file in RAM of a dropped one's name belongs to someone else: no run takes it for its own.
TEST_F(BootInstallTest, AnotherFileOfThatNameInRamIsLeftAlone) {
  Install("base", "1.0");
  Package("ppp", "2.0", Pckg());
  WriteTreeFile(tree.System("/ram/ppp2.0.vpk"), "mine");
  WriteTreeFile(tree.System("/proc/meminfo"), MemInfo(8192 + 131072));
  flashFree = 0;
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_FALSE(BootInstall(AllowUpgrade));
  EXPECT_EQ(InstalledStates(), "base 1.0 on\nppp 2.0 on\n");
  EXPECT_EQ(ReadTreeFile(tree.System("/ram/ppp2.0.vpk")), "mine");
  EXPECT_EQ(ListTree(Pckg()), std::vector<std::string>{});
}

// A kernel package with an image, carrying the boot image.
TestPackage Kernel() {
  TestPackage kernel("kernel", "5.4");
  kernel.Flags(kFlagBootImage).Image("IMAGE").File("/boot/vmlinuz", "k");
  return kernel;
}

TEST_F(BootInstallTest, ImageIsLinkedIntoThePackageDirectory) {
  Install("base", "1.0");
  std::string bytes = ReadWholeTestFile(Drop(Kernel(), Pckg(), "kernel.vpk"));
  EXPECT_TRUE(BootInstall(AllowUpgrade));
  EXPECT_EQ(ReadWholeTestFile(tree.Target("/var/pdb/kernel/image")), bytes);
  struct stat image, boot;
  ASSERT_EQ(stat(tree.Target("/var/pdb/kernel/image").c_str(), &image), 0);
  ASSERT_EQ(stat(tree.Target("/bootimage").c_str(), &boot), 0);
  EXPECT_EQ(image.st_ino, boot.st_ino);
  EXPECT_EQ(ListTree(Pckg()), std::vector<std::string>{});
}

// The system's /ram and /rw lie on one memory file system, the tree on another.
TEST_F(BootInstallTest, ImageInRamGoesToTheImagesDirectory) {
  if (!MountTmpfs(tree.System(), "size=16m")) {
    GTEST_SKIP() << "a memory file system needs root and a private mount namespace";
  }
  MakeTestDirectories(tree.System("/rw/pckg"));
  Install("base", "1.0");
  std::string bytes = ReadWholeTestFile(Drop(Kernel(), tree.System("/ram"), "kernel.vpk"));
  EXPECT_TRUE(BootInstall(AllowUpgrade | AcceptInstalled));
  EXPECT_EQ(InstalledStates(), "base 1.0 on\nkernel 5.4 on\n");
  EXPECT_EQ(ReadWholeTestFile(tree.System("/rw/pckg/.images/kernel")), bytes);
  EXPECT_EQ(ReadTreeFile(tree.System("/ram/bootimage")), "kernel\n");
  EXPECT_FALSE(PathExists(tree.System("/ram/kernel.vpk")));
}

}  // namespace
