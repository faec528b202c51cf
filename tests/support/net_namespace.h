#pragma once

#include <string>

// Two network namespaces of the test's own, names unique per process, joined by a veth pair whose
// ends are up without IPv4 addresses; removed with everything in them when the object goes. Root.
class VethLink {
 public:
  // `tag` tells the namespaces of one test apart from those of another in the same process.
  explicit VethLink(const std::string& tag);
  ~VethLink();
  VethLink(const VethLink&) = delete;
  VethLink& operator=(const VethLink&) = delete;

  // False when the namespaces or the link could not be made (the reason was printed).
  bool Ready() const { return ready; }
  // For `ip netns exec` and NamespaceVisit.
  const std::string& Left() const { return left; }
  const std::string& Right() const { return right; }
  // The interface names inside each namespace.
  static constexpr const char* kLeftInterface = "eth0";
  static constexpr const char* kRightInterface = "eth0";

  // The exit status of `command` run by /bin/sh inside a namespace, or -1.
  int RunIn(const std::string& space, const std::string& command) const;

 private:
  std::string left;
  std::string right;
  bool ready = false;
};

// Moves the calling thread into the named namespace until the object goes, then back. Sockets
// made meanwhile stay in the namespace they were made in.
class NamespaceVisit {
 public:
  explicit NamespaceVisit(const std::string& space);
  ~NamespaceVisit();
  NamespaceVisit(const NamespaceVisit&) = delete;
  NamespaceVisit& operator=(const NamespaceVisit&) = delete;

  // False when the namespace could not be entered (the reason was printed).
  bool Entered() const { return entered; }

 private:
  int home = -1;
  bool entered = false;
};
