#include "disk/tools.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "startup/state.h"

namespace {

TEST(RunProgram, GivesNullInputTheLogTerminalNoOtherDescriptorAndTheRawStatus) {
  char log[] = "/tmp/vlXXXXXX";  // fits the log terminal path
  ASSERT_EQ(close(mkstemp(log)), 0);
  char saved[sizeof logTerminalPath];
  memcpy(saved, logTerminalPath, sizeof saved);
  snprintf(logTerminalPath, sizeof logTerminalPath, "%s", log);
  int inherited = dup2(open("/dev/null", O_RDONLY), 10);
  EXPECT_EQ(
      RunProgram(nullptr, "/bin/sh",
                 {"-c", "echo out; echo err >&2; cat; test -e /proc/self/fd/10 || echo shut"}),
      0);
  // What cannot run at all, or not in its root, exits with 127.
  EXPECT_EQ(RunProgram(nullptr, "/no/such/program", {}), 127 << 8);
  EXPECT_EQ(RunProgram("/no/such/root", "/bin/true", {}), 127 << 8);
  close(inherited);
  memcpy(logTerminalPath, saved, sizeof saved);
  std::ifstream file(log);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "out\nerr\nshut\n");
  unlink(log);
}

TEST(ReadWholeFile, ReadsTheWholeFileOrFails) {
  char path[] = "/tmp/vela-file-XXXXXX";
  int descriptor = mkstemp(path);
  FileBuffer buffer;
  EXPECT_TRUE(ReadWholeFile(path, buffer));  // empty: no bytes at all
  EXPECT_EQ(buffer.size, 0u);
  ASSERT_EQ(write(descriptor, "ab\0cd", 5), 5);
  close(descriptor);
  ASSERT_TRUE(ReadWholeFile(path, buffer));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.bytes), buffer.size),
            std::string("ab\0cd", 5));
  free(buffer.bytes);
  unlink(path);
  EXPECT_FALSE(ReadWholeFile(path, buffer));
  EXPECT_FALSE(ReadWholeFile("/", buffer));
}

}  // namespace
