#include "disk/tools.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "startup/state.h"
#include "tests/support/sandbox_root.h"

namespace {

class LogTerminal : public testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/vlXXXXXX";  // fits the log terminal path
    close(mkstemp(path));
    path_ = path;
    snprintf(saved_, sizeof saved_, "%s", logTerminalPath);
    snprintf(logTerminalPath, sizeof logTerminalPath, "%s", path_.c_str());
  }
  void TearDown() override {
    snprintf(logTerminalPath, sizeof logTerminalPath, "%s", saved_);
    unlink(path_.c_str());
  }
  std::string Log() const {
    std::ifstream file(path_);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
  }

  std::string path_;
  char saved_[16];
};

TEST_F(LogTerminal, RunProgramReportsTheRawStatusAnd127WhenNothingCouldRun) {
  struct {
    const char* root;
    const char* program;
    int status;
  } cases[] = {
      {nullptr, "/bin/true", 0},
      {nullptr, "/bin/false", 1 << 8},
      {nullptr, "/no/such/program", 127 << 8},
      {"/no/such/root", "/bin/true", 127 << 8},
  };
  for (const auto& run : cases) {
    EXPECT_EQ(RunProgram(run.root, run.program, {}), run.status) << run.program;
  }
}

TEST_F(LogTerminal, RunProgramGivesNullInputLogOutputAndNoInheritedDescriptors) {
  int inherited = open("/dev/null", O_RDONLY);
  int high = dup2(inherited, 10);
  ASSERT_EQ(high, 10);
  std::string script =
      "echo out; echo err >&2; cat; test -e /proc/self/fd/10 && echo leaked || echo closed";
  EXPECT_EQ(RunProgram(nullptr, "/bin/sh", {"-c", script.c_str()}), 0);
  EXPECT_EQ(Log(), "out\nerr\nclosed\n");
  close(inherited);
  close(high);
}

class PipeTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    root_ = std::make_unique<SandboxRoot>();
    root_->InstallTool("/sbin/sfdisk");
  }
  std::unique_ptr<SandboxRoot> root_;
};

TEST_F(PipeTest, InputPipeFeedsTheToolAndQuietModeSendsItsOutputToTheLogTerminal) {
  SandboxOutcome outcome = RunInSandbox(*root_, [] {
    FILE* table = OpenSfdiskInput({"-q", "-uC", "/dev/sda", ">null"});
    // Only one piped child at a time: a second pipe starts nothing.
    bool second = OpenSfdiskOutput({"-g"}) != nullptr;
    fputs("0,10,83,*\n", table);
    int status = ClosePipedChild(table);
    return status == 0 && !second && childPid == -1 ? 0 : 1;
  });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(root_->Read("/dev/tty9"), "sfdisk ran\n");
  const std::vector<std::string> expected = {"exec /sbin/sfdisk -q -uC /dev/sda",
                                             "input 0,10,83,*\\n"};
  EXPECT_EQ(root_->Calls(), expected);
}

TEST_F(PipeTest, OutputPipeReadsTheToolsOutputWithItsErrorsOnTheLogTerminal) {
  root_->Write("/.sandbox/sfdisk-d", "/dev/sda1 : start= 63\n");
  SandboxOutcome outcome = RunInSandbox(*root_, [] {
    FILE* dump = OpenSfdiskOutput({"-d", "-uC", "/dev/sda"});
    char line[64] = "";
    bool read = dump != nullptr && fgets(line, sizeof line, dump) != nullptr;
    fputs(line, stdout);
    return read && ClosePipedChild(dump) == 0 ? 0 : 1;
  });
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.output, "/dev/sda1 : start= 63\n");
  EXPECT_EQ(root_->Read("/dev/tty9"), "sfdisk ran\n");
}

TEST_F(PipeTest, RunProgramWithARootRunsTheProgramOfThatRoot) {
  root_->InstallTool("/flash/bin/varo");
  SandboxOutcome outcome =
      RunInSandbox(*root_, [] { return RunProgram("/flash", "/bin/varo", {"varo"}) == 0 ? 0 : 1; });
  EXPECT_EQ(outcome.exitCode, 0);
  const std::vector<std::string> expected = {"chroot /flash", "exec /bin/varo varo"};
  EXPECT_EQ(root_->Calls(), expected);
}

TEST(ReadWholeFile, ReadsTheWholeFileOrFails) {
  char path[] = "/tmp/vela-file-XXXXXX";
  int descriptor = mkstemp(path);
  FileBuffer buffer;
  EXPECT_TRUE(ReadWholeFile(path, buffer));
  EXPECT_EQ(buffer.size, 0u);
  EXPECT_EQ(buffer.bytes, nullptr);

  std::string content(70000, 'v');
  content[69999] = '\0';
  ASSERT_EQ(write(descriptor, content.data(), content.size()), 70000);
  close(descriptor);
  ASSERT_TRUE(ReadWholeFile(path, buffer));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.bytes), buffer.size), content);
  free(buffer.bytes);
  unlink(path);

  EXPECT_FALSE(ReadWholeFile(path, buffer));
  EXPECT_FALSE(ReadWholeFile("/", buffer));
}

TEST(Progress, PrintsDotsWhileAStepRunsAndSleepLastsThroughThem) {
  testing::internal::CaptureStdout();
  auto start = std::chrono::steady_clock::now();
  StartProgress("Working");
  SleepSeconds(2);
  StopProgress();
  auto slept = std::chrono::steady_clock::now() - start;
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_GE(slept, std::chrono::seconds(2));
  EXPECT_EQ(output.substr(0, 7), "Working");
  EXPECT_EQ(output.back(), '\n');
  std::string dots = output.substr(7, output.size() - 8);
  EXPECT_GE(dots.size(), 1u);
  EXPECT_EQ(dots.find_first_not_of('.'), std::string::npos) << output;
}

}  // namespace
