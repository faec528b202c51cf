#include "disk/tools.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/child_process.h"

namespace {

constexpr const char* kSfdisk = "/sbin/sfdisk";

char logTerminal[16] = "/dev/tty9";

std::vector<const char*> ArgumentVector(const char* program, ArgumentList arguments,
                                        bool* quiet = nullptr) {
  std::vector<const char*> vector{program};
  for (const char* argument : arguments) {
    if (quiet != nullptr && strcmp(argument, ">null") == 0) {
      *quiet = true;
    } else if (vector.size() <= kMaxArguments) {
      vector.push_back(argument);
    }
  }
  vector.push_back(nullptr);
  return vector;
}

}  // namespace

void SetLogTerminal(const char* path) {
  snprintf(logTerminal, sizeof logTerminal, "%s", path);
}

const char* LogTerminal() {
  return logTerminal;
}

PipedChild OpenSfdiskOutput(ArgumentList arguments) {
  std::vector<const char*> vector = ArgumentVector(kSfdisk, arguments);
  ChildPlan plan;
  plan.input.path = "/dev/null";
  plan.error.path = logTerminal;
  return PipedChild::Start(plan, PipeDirection::kChildWrites, [&](const ChildPlan& ready) {
    return StartChild(ready, vector.data());
  });
}

PipedChild OpenSfdiskInput(ArgumentList arguments) {
  bool quiet = false;
  std::vector<const char*> vector = ArgumentVector(kSfdisk, arguments, &quiet);
  ChildPlan plan;
  if (quiet) {
    plan.output.path = logTerminal;
    plan.errorJoinsOutput = true;
  }
  return PipedChild::Start(plan, PipeDirection::kChildReads, [&](const ChildPlan& ready) {
    return StartChild(ready, vector.data());
  });
}

int RunProgram(const char* root, const char* program, ArgumentList arguments) {
  std::vector<const char*> vector = ArgumentVector(program, arguments);
  ChildPlan plan;
  plan.input.path = "/dev/null";
  plan.output.path = logTerminal;
  plan.errorJoinsOutput = true;
  plan.root = root;
  pid_t child = StartChild(plan, vector.data());
  return child < 0 ? -1 : WaitForChild(child);
}
