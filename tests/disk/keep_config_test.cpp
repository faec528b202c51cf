#include "disk/keep_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "packages/roots.h"
#include "tests/support/sandbox_root.h"

namespace {

// The access time lies after the change time, so that reading the file leaves it alone.
constexpr timespec kTimes[2] = {{4000000000, 0}, {1000000000, 0}};

// A throwaway root whose /flash is the target root and whose top is the system root, so that the
// store is copied and written back in this process.
struct KeptTree {
  KeptTree() : saved(GetPackageRoots()) {
    GetPackageRoots() = PackageRoots{root.HostPath("/flash"), root.Path()};
  }
  ~KeptTree() { GetPackageRoots() = saved; }

  // Copies the store of the system at /flash, puts that system aside at /old as formatting would,
  // and writes the copy back into a new /flash with its base directories; its output lands in said.
  int CopyAndWriteBack() {
    testing::internal::CaptureStdout();
    ConfigChunk* first = ReadOldConfiguration();
    EXPECT_EQ(rename(root.HostPath("/flash").c_str(), root.HostPath("/old").c_str()), 0);
    for (const char* directory : {"/flash", "/flash/rw", "/flash/vela"}) {
      mkdir(root.HostPath(directory).c_str(), 0755);
    }
    int result = first == nullptr ? 1 : WriteBackConfiguration(first) ? 0 : 2;
    said = testing::internal::GetCapturedStdout();
    return result;
  }

  SandboxRoot root;  // only a temporary tree here: nothing runs inside it
  PackageRoots saved;
  std::string said;
};

// The status of a path in the root, following links.
struct stat Status(const SandboxRoot& root, const std::string& path) {
  struct stat status {};
  EXPECT_EQ(stat(root.HostPath(path).c_str(), &status), 0) << path;
  return status;
}

// The copy lies in chunks of 16000 bytes: a path that does not fit starts a chunk of its own, a
// status record may span two, and a file may end exactly where a chunk does.
TEST(KeepConfiguration, StoreComesBackWholeWhereverItsEntriesMeetTheChunkEnds) {
  // What fills the first chunk after the entries of the store and of its file "a", whose paths
  // begin with the temporary root's.
  const size_t rootLength = KeptTree().root.Path().size();
  const uint32_t fill =
      kChunkCapacity - (rootLength + 18) - (rootLength + 20) - 2 * sizeof(struct stat);
  const struct {
    std::vector<std::string> files;  // under /flash, of one size, so in any listing order
    uint32_t size;
    const char* kept;  // the store that comes back, null for none
  } cases[] = {
      {{"/vela/store/a", "/vela/store/b"}, fill - 10, "/vela/store"},  // path b starts a chunk
      {{"/vela/store/a", "/vela/store/b"}, fill - 70, "/vela/store"},  // record b spans two
      {{"/vela/store/a", "/vela/store/b"}, fill, "/vela/store"},  // path b fills an empty chunk
      {{"/vela/store/a"}, fill, "/vela/store"},                   // the chain ends empty
      {{"/vela/store/a", "/rw/store/b"}, 10, "/vela/store"},
      {{"/rw/store/b"}, 10, "/rw/store"},
      {{"/rw/b"}, 10, nullptr},
  };
  for (const auto& example : cases) {
    SCOPED_TRACE(example.files[0] + " of " + std::to_string(example.size));
    KeptTree tree;
    const SandboxRoot& root = tree.root;
    for (const std::string& file : example.files) {
      root.Write("/flash" + file, std::string(example.size, file.back()));
      ASSERT_EQ(utimensat(AT_FDCWD, root.HostPath("/flash" + file).c_str(), kTimes, 0), 0);
    }
    EXPECT_EQ(tree.CopyAndWriteBack(), example.kept ? 0 : 1) << tree.said;
    EXPECT_EQ(tree.said.empty(), example.kept == nullptr);  // nothing to keep: silence
    for (const std::string& file : example.files) {
      bool kept = example.kept != nullptr && file.rfind(example.kept, 0) == 0;
      EXPECT_EQ(root.Exists("/flash" + file), kept) << file;
      if (kept) {
        EXPECT_EQ(root.Read("/flash" + file), root.Read("/old" + file)) << file;
        EXPECT_EQ(Status(root, "/flash" + file).st_atim.tv_sec, kTimes[0].tv_sec) << file;
        EXPECT_EQ(Status(root, "/flash" + file).st_mtim.tv_sec, kTimes[1].tv_sec) << file;
      }
    }
  }
}

// A change of owner after the mode once cleared the set-id bits, and a directory got its times
// before its entries were written into it.
TEST(KeepConfiguration, ModesOwnersTimesAndLinkTargetsComeBackAndPipesStayBehind) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "changing owners needs root";
  }
  KeptTree tree;
  const SandboxRoot& root = tree.root;
  std::string store = root.HostPath("/flash/vela/store");
  root.Write("/flash/vela/store/firewall/rules", std::string(40000, 'r'));  // over two chunks
  ASSERT_EQ(chmod((store + "/firewall").c_str(), 0750), 0);
  ASSERT_EQ(chown((store + "/firewall/rules").c_str(), 1234, 99), 0);
  ASSERT_EQ(chmod((store + "/firewall/rules").c_str(), 06750), 0);
  ASSERT_EQ(symlink("firewall/rules", (store + "/current").c_str()), 0);
  ASSERT_EQ(mkfifo((store + "/pipe").c_str(), 0600), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, (store + "/firewall").c_str(), kTimes, 0), 0);
  ASSERT_EQ(tree.CopyAndWriteBack(), 0);
  for (const char* path : {"/firewall", "/firewall/rules", "/current"}) {
    struct stat was = Status(root, std::string("/old/vela/store") + path), is{};
    ASSERT_EQ(lstat((root.HostPath("/flash/vela/store") + path).c_str(), &is), 0) << path;
    EXPECT_EQ(is.st_mode, was.st_mode) << path;  // a link comes back as what it leads to
    EXPECT_EQ(is.st_uid, was.st_uid) << path;
    EXPECT_EQ(is.st_gid, was.st_gid) << path;
  }
  EXPECT_EQ(Status(root, "/flash/vela/store/firewall").st_mtim.tv_sec, kTimes[1].tv_sec);
  EXPECT_EQ(root.Read("/flash/vela/store/current"), std::string(40000, 'r'));
  EXPECT_FALSE(root.Exists("/flash/vela/store/pipe"));
}

// Links are followed, but one back to a directory on the current path ("/" or above the store
// included) would copy the machine or never end: it is left out. A copy beyond the available
// memory (less 16 MiB) fails as a whole.
TEST(KeepConfiguration, LinksBackUpAreLeftOutAndTheCopyStaysWithinMemory) {
  const struct {
    const char* link;  // in the store, "sub/" of it holding the file "f"
    const char* target;
    const char* kept;  // what the link comes back as, null for nothing
    size_t fileSize = 10;
    const char* memAvailable = nullptr;  // the figure in KiB, null for the machine's own
  } cases[] = {
      {"root", "/", nullptr},
      {"up", "..", nullptr},
      {"flash", "/flash", nullptr},
      {"self", ".", nullptr},
      {"sub/loop", "..", nullptr},
      {"sub/deeper", "../sub", nullptr},
      {"alias", "sub", "/alias/f"},  // a sibling, not an ancestor: copied as a directory
      {"alias", "sub", "/alias/f", 2000, "16400"},  // 16 KiB to spare: twice 2 KiB fit
      {"alias", "sub", nullptr, 9000, "16400"},     // twice 9 KiB do not
  };
  for (const auto& example : cases) {
    SCOPED_TRACE(std::string(example.link) + " -> " + example.target + " " +
                 std::to_string(example.fileSize));
    KeptTree tree;
    const SandboxRoot& root = tree.root;
    root.Write("/flash/vela/store/sub/f", std::string(example.fileSize, 'f'));
    std::string store = root.HostPath("/flash/vela/store/");
    // "/flash" stands for the target root, here the temporary one's.
    std::string target =
        strcmp(example.target, "/flash") == 0 ? root.HostPath("/flash") : example.target;
    ASSERT_EQ(symlink(target.c_str(), (store + example.link).c_str()), 0);
    bool fits = example.memAvailable == nullptr || example.kept != nullptr;
    if (example.memAvailable != nullptr) {
      root.Write("/proc/meminfo", std::string("MemAvailable: ") + example.memAvailable + " kB\n");
    }
    ASSERT_EQ(tree.CopyAndWriteBack(), fits ? 0 : 1) << tree.said;
    if (!fits) {
      EXPECT_NE(tree.said.find("couldn't keep config"), std::string::npos) << tree.said;
      continue;
    }
    EXPECT_EQ(root.Read("/flash/vela/store/sub/f"), std::string(example.fileSize, 'f'));
    std::string link = std::string("/flash/vela/store/") + example.link;
    EXPECT_EQ(root.Exists(link), example.kept != nullptr);
    if (example.kept != nullptr) {
      EXPECT_EQ(root.Read(std::string("/flash/vela/store") + example.kept),
                std::string(example.fileSize, 'f'));
    }
  }
}

}  // namespace
