#include "disk/keep_config.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/sandbox_root.h"

namespace {

constexpr uint32_t kRecord = sizeof(struct stat);

std::vector<uint32_t> Limits(ConfigChunk* first) {
  std::vector<uint32_t> limits;
  for (ConfigChunk* chunk = first; chunk != nullptr; chunk = chunk->next) {
    limits.push_back(chunk->limit);
  }
  return limits;
}

TEST(ConfigChunks, PathThatDoesNotFitGetsAChunkOfExactlyItsSize) {
  ConfigChunk* first = NewChunk(30, nullptr);
  ConfigChunk* current = first;
  ASSERT_TRUE(AppendString(current, "/flash/vela/store"));  // 18 bytes, 12 left
  ASSERT_TRUE(AppendString(current, "/flash/vela/store/a"));
  EXPECT_EQ(current, first->next);
  EXPECT_EQ(first->magic, kChunkMagic);
  // Sealed: the limit is what it holds and reading starts at 0.
  EXPECT_EQ(first->limit, 18u);
  EXPECT_EQ(first->offset, 0u);
  EXPECT_EQ(current->limit, 20u);
  EXPECT_EQ(current->offset, 20u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(current->Data())), "/flash/vela/store/a");
  FreeChunks(first);
}

TEST(ConfigChunks, RecordSpillsIntoFullSizedChunksAndReadsBackWhole) {
  ConfigChunk* first = NewChunk(100, nullptr);
  ConfigChunk* current = first;
  struct stat status;
  memset(&status, 0x5A, sizeof status);
  status.st_size = 1234;
  ASSERT_TRUE(AppendString(current, "/x"));
  ASSERT_TRUE(AppendRecord(current, status));
  current->limit = current->offset;  // sealed as the reading does at the end
  current->offset = 0;
  EXPECT_EQ(Limits(first), (std::vector<uint32_t>{100, kRecord - 97}));
  EXPECT_EQ(first->next->magic, kChunkMagic);
  std::string bytes(reinterpret_cast<char*>(first->Data()) + 3, 97);
  bytes.append(reinterpret_cast<char*>(first->next->Data()), kRecord - 97);
  EXPECT_EQ(memcmp(bytes.data(), &status, sizeof status), 0);
  FreeChunks(first);
}

TEST(ConfigChunks, SkipExhaustedPassesReadChunksAndEmptyOnes) {
  ConfigChunk* first = NewChunk(10, nullptr);
  ConfigChunk* empty = NewChunk(10, first);
  ConfigChunk* last = NewChunk(10, empty);
  last->offset = 3;
  last->limit = 3;
  last->offset = 1;  // one of three bytes read
  first->offset = first->limit;
  ConfigChunk* current = first;
  EXPECT_FALSE(SkipExhausted(current));
  EXPECT_EQ(current, last);
  last->offset = 3;
  EXPECT_TRUE(SkipExhausted(current));
  EXPECT_EQ(current, nullptr);
  FreeChunks(first);
}

constexpr time_t kAccessed = 4000000000;  // after the change time, so reading leaves it alone
constexpr time_t kModified = 1000000000;

class KeepConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    root_ = std::make_unique<SandboxRoot>();
  }

  // Gives the entries fixed times, which the copy must bring back.
  void SetTimes(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
      timespec times[2] = {{kAccessed, 0}, {kModified, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, root_->HostPath(path).c_str(), times, 0), 0) << path;
    }
  }

  void ExpectTimes(const std::string& path) {
    struct stat status;
    ASSERT_EQ(stat(root_->HostPath(path).c_str(), &status), 0) << path;
    EXPECT_EQ(status.st_atime, kAccessed) << path;
    EXPECT_EQ(status.st_mtime, kModified) << path;
  }

  std::unique_ptr<SandboxRoot> root_;
};

// Inside the root: the bytes an entry must have in the copy, built from the file system itself.
std::string EntryBytes(const std::string& path) {
  struct stat status;
  stat(path.c_str(), &status);
  std::string bytes = path + '\0';
  bytes.append(reinterpret_cast<const char*>(&status), sizeof status);
  if (S_ISREG(status.st_mode)) {
    std::ifstream file(path, std::ios::binary);
    bytes.append(std::istreambuf_iterator<char>(file), {});
  }
  return bytes;
}

std::string ChainBytes(ConfigChunk* first) {
  std::string bytes;
  for (ConfigChunk* chunk = first; chunk != nullptr; chunk = chunk->next) {
    bytes.append(reinterpret_cast<char*>(chunk->Data()), chunk->limit);
  }
  return bytes;
}

// Inside the root: copies the store, checks the chain byte for byte against the files, moves the
// store aside and writes the copy back. Prints the chunk limits.
int CopyAndWriteBack() {
  ConfigChunk* first = ReadOldConfiguration();
  std::string expected = EntryBytes("/flash/vela/store");
  DIR* listing = opendir("/flash/vela/store");
  while (dirent* entry = readdir(listing)) {
    if (entry->d_name[0] != '.') {
      expected += EntryBytes(std::string("/flash/vela/store/") + entry->d_name);
    }
  }
  closedir(listing);
  std::string chain = first == nullptr ? "" : ChainBytes(first);
  if (chain != expected) {
    size_t at = 0;
    while (at < chain.size() && at < expected.size() && chain[at] == expected[at]) {
      ++at;
    }
    printf("chain of %zu bytes differs from the files' %zu at byte %zu\n", chain.size(),
           expected.size(), at);
    return 1;
  }
  for (uint32_t limit : Limits(first)) {
    printf("%u ", limit);
  }
  puts("");
  rename("/flash/vela/store", "/flash/vela/old");
  return WriteBackConfiguration(first) ? 0 : 2;
}

TEST_F(KeepConfigTest, ChainIsExactWhenAPathDoesNotFitTheFreeSpace) {
  // Two files of the same size, so that the listing order does not matter.
  uint32_t content = kChunkCapacity - 18 - kRecord - 20 - kRecord - 10;
  root_->Write("/flash/vela/store/a", std::string(content, 'a'));
  root_->Write("/flash/vela/store/b", std::string(content, 'b'));
  SetTimes({"/flash/vela/store/a", "/flash/vela/store/b", "/flash/vela/store"});
  SandboxOutcome outcome = RunInSandbox(*root_, CopyAndWriteBack);
  ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
  // The second path starts a chunk of exactly its size; its record a full-sized chunk.
  std::string limits =
      std::to_string(kChunkCapacity - 10) + " 20 " + std::to_string(kRecord + content) + " \n";
  EXPECT_EQ(outcome.output,
            "Reading old configuration...\n" + limits + "Writing back old configuration...\n");
  EXPECT_EQ(root_->Read("/flash/vela/store/a"), std::string(content, 'a'));
  EXPECT_EQ(root_->Read("/flash/vela/store/b"), std::string(content, 'b'));
  ExpectTimes("/flash/vela/store/a");
  ExpectTimes("/flash/vela/store/b");
}

TEST_F(KeepConfigTest, FileEndingOnAChunkBoundaryLeavesAnEmptyChunkThatTheNextPathFills) {
  uint32_t content = kChunkCapacity - 18 - kRecord - 20 - kRecord;
  root_->Write("/flash/vela/store/a", std::string(content, 'a'));
  root_->Write("/flash/vela/store/b", std::string(content, 'b'));
  SetTimes({"/flash/vela/store/a", "/flash/vela/store/b", "/flash/vela/store"});
  SandboxOutcome outcome = RunInSandbox(*root_, CopyAndWriteBack);
  ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("\n16000 " + std::to_string(20 + kRecord + content) + " \n"),
            std::string::npos)
      << outcome.output;
  EXPECT_EQ(root_->Read("/flash/vela/store/b"), std::string(content, 'b'));
}

struct SourceCase {
  std::vector<const char*> stores;
  const char* kept;  // null: nothing kept
};

TEST_F(KeepConfigTest, TakesTheNewerStoreLocationFirst) {
  const SourceCase cases[] = {
      {{"/flash/vela/store", "/flash/rw/store"}, "/flash/vela/store"},
      {{"/flash/rw/store"}, "/flash/rw/store"},
      {{}, nullptr},
  };
  for (const SourceCase& example : cases) {
    SandboxRoot root;
    for (const char* store : example.stores) {
      root.Write(std::string(store) + "/name", store);
    }
    SandboxOutcome outcome = RunInSandbox(root, [] {
      ConfigChunk* first = ReadOldConfiguration();
      printf("[%s]", first == nullptr ? "none" : reinterpret_cast<char*>(first->Data()));
      FreeChunks(first);
      return 0;
    });
    std::string expected =
        example.kept == nullptr
            ? "[none]"
            : std::string("Reading old configuration...\n[") + example.kept + "]";
    EXPECT_EQ(outcome.output, expected);
  }
}

TEST_F(KeepConfigTest, DanglingLinkInTheStoreKeepsNothing) {
  root_->Write("/flash/vela/store/a", "a");
  ASSERT_EQ(symlink("/nowhere", root_->HostPath("/flash/vela/store/broken").c_str()), 0);
  SandboxOutcome outcome = RunInSandbox(*root_, [] { return ReadOldConfiguration() ? 1 : 0; });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.output,
            "Reading old configuration...\n"
            "ERROR: couldn't keep config - probably not enough memory\n");
}

TEST_F(KeepConfigTest, WritingOverAnExistingDirectoryFailsWithItsMessage) {
  root_->Write("/flash/vela/store/a", "a");
  SandboxOutcome outcome =
      RunInSandbox(*root_, [] { return WriteBackConfiguration(ReadOldConfiguration()) ? 1 : 0; });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_NE(outcome.output.find("Writing back old configuration...\nERROR: couldn't write old "
                                "configuration - proboably not enough space on the disk\n"),
            std::string::npos)
      << outcome.output;
}

TEST(WriteBackConfiguration, RefusesAChainWithoutItsMagic) {
  ConfigChunk* first = NewChunk(16, nullptr);
  first->magic = 0;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(WriteBackConfiguration(first));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR: couldn't write old configuration"),
            std::string::npos);
}

}  // namespace
