#include "tests/support/net_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

int Shell(const std::string& command) {
  int status = system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

std::string UniqueName(const std::string& tag, const char* side) {
  static std::atomic<int> serial{0};
  return "vt" + std::to_string(getpid()) + "-" + std::to_string(serial++) + tag + side;
}

}  // namespace

VethLink::VethLink(const std::string& tag)
    : left(UniqueName(tag, "a")), right(UniqueName(tag, "b")) {
  const std::string made = "ip netns add " + left + " && ip netns add " + right + " && ip -n " +
                           left + " link add eth0 type veth peer name eth0 netns " + right +
                           " && ip -n " + left + " link set eth0 up && ip -n " + right +
                           " link set eth0 up && ip -n " + left + " link set lo up && ip -n " +
                           right + " link set lo up";
  ready = Shell(made) == 0;
  if (!ready) {
    fprintf(stderr, "could not make the network namespaces %s and %s\n", left.c_str(),
            right.c_str());
  }
}

VethLink::~VethLink() {
  Shell("ip netns delete " + left + " 2>/dev/null; ip netns delete " + right + " 2>/dev/null");
}

int VethLink::RunIn(const std::string& space, const std::string& command) const {
  return Shell("ip netns exec " + space + " /bin/sh -c '" + command + "'");
}

NamespaceVisit::NamespaceVisit(const std::string& space) {
  home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  int target = open(("/run/netns/" + space).c_str(), O_RDONLY | O_CLOEXEC);
  entered = home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
  if (!entered) {
    perror(("could not enter the network namespace " + space).c_str());
  }
  if (target >= 0) {
    close(target);
  }
}

NamespaceVisit::~NamespaceVisit() {
  if (entered) {
    setns(home, CLONE_NEWNET);
  }
  if (home >= 0) {
    close(home);
  }
}
