#include "packages/tree_paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>

#include "packages/tree_paths_internal.h"

namespace {

// As many links as the kernel follows in one lookup.
constexpr int kMaxLinks = 40;

std::string JoinComponents(const std::vector<std::string>& components) {
  std::string path;
  for (const std::string& component : components) {
    if (!path.empty()) {
      path += '/';
    }
    path += component;
  }
  return path;
}

int DuplicateDescriptor(int descriptor) {
  return fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
}

void CloseAll(std::vector<int>& descriptors) {
  for (int descriptor : descriptors) {
    close(descriptor);  // O_PATH descriptors: nothing to flush, nothing to report
  }
  descriptors.clear();
}

// The text of the link that descriptor (opened with O_PATH | O_NOFOLLOW) stands for.
bool ReadLinkText(int descriptor, std::string& text) {
  char buffer[PATH_MAX];
  ssize_t length = readlinkat(descriptor, "", buffer, sizeof buffer);
  if (length < 0) {
    return false;
  }
  if (static_cast<std::size_t>(length) == sizeof buffer) {
    errno = ENAMETOOLONG;
    return false;
  }
  text.assign(buffer, static_cast<std::size_t>(length));
  return true;
}

// Puts the components of a link's text in front of those still to walk; ".." is kept here, since
// a link may climb (within the tree).
void PrependLinkText(const std::string& text, std::deque<std::string>& pending) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('/', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  pending.insert(pending.begin(), parts.begin(), parts.end());
}

}  // namespace

bool SplitTreeName(std::string_view name, std::vector<std::string>& components) {
  components.clear();
  if (name.find('\0') != std::string_view::npos) {
    return false;
  }
  std::size_t start = 0;
  while (start < name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) {
      end = name.size();
    }
    std::string_view component = name.substr(start, end - start);
    if (component == "..") {
      return false;
    }
    if (!component.empty() && component != ".") {
      components.emplace_back(component);
    }
    start = end + 1;
  }
  return true;
}

int OpenTreeRoot(const std::string& path) {
  return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

int OpenTreeDirectory(int root, const std::vector<std::string>& components) {
  if (components.empty()) {
    return DuplicateDescriptor(root);
  }
  open_how how = {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  std::string path = JoinComponents(components);
  long descriptor = syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
  if (descriptor >= 0) {
    return static_cast<int>(descriptor);
  }
  // Beneath the root the kernel refuses absolute links (normal in a tree) along with climbing
  // ones, both as EXDEV; the walk tells them apart. It also serves kernels without the call,
  // system-call filters that refuse it (EPERM), and lookups that a concurrent rename made the
  // kernel give up (EAGAIN).
  if (errno == EXDEV || errno == ENOSYS || errno == EPERM || errno == EAGAIN) {
    return WalkTreeDirectory(root, components);
  }
  return -1;
}

int WalkTreeDirectory(int root, const std::vector<std::string>& components) {
  std::vector<int> opened;  // the directories walked through below the root, outermost first
  std::deque<std::string> pending(components.begin(), components.end());
  int links = 0;
  auto fail = [&opened](int error) {
    CloseAll(opened);
    errno = error;
    return -1;
  };
  while (!pending.empty()) {
    std::string component = std::move(pending.front());
    pending.pop_front();
    if (component.empty() || component == ".") {
      continue;
    }
    if (component == "..") {
      if (opened.empty()) {
        return fail(EXDEV);
      }
      close(opened.back());  // O_PATH: nothing to report
      opened.pop_back();
      continue;
    }
    int parent = opened.empty() ? root : opened.back();
    int descriptor = openat(parent, component.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
      return fail(errno);
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
      int error = errno;
      close(descriptor);
      return fail(error);
    }
    if (S_ISDIR(status.st_mode)) {
      opened.push_back(descriptor);
      continue;
    }
    std::string text;
    bool isLink = S_ISLNK(status.st_mode);
    bool read = isLink && ReadLinkText(descriptor, text);
    int error = !isLink ? ENOTDIR : !read ? errno : text.empty() ? ENOENT : 0;
    close(descriptor);
    if (error != 0) {
      return fail(error);
    }
    if (++links > kMaxLinks) {
      return fail(ELOOP);
    }
    if (text[0] == '/') {
      CloseAll(opened);  // an absolute link starts again at the tree's root
    }
    PrependLinkText(text, pending);
  }
  if (opened.empty()) {
    return DuplicateDescriptor(root);
  }
  int result = opened.back();
  opened.pop_back();
  CloseAll(opened);
  return result;
}

bool MakeTreeDirectories(int root, const std::vector<std::string>& components) {
  int whole = OpenTreeDirectory(root, components);
  if (whole >= 0) {
    close(whole);  // O_PATH: nothing to report
    return true;
  }
  std::vector<std::string> parent;
  for (const std::string& component : components) {
    int directory = OpenTreeDirectory(root, parent);
    if (directory < 0) {
      return false;
    }
    int made = mkdirat(directory, component.c_str(), 0770);
    int error = errno;
    close(directory);
    if (made != 0 && error != EEXIST) {
      errno = error;
      return false;
    }
    parent.push_back(component);
  }
  return true;
}

void CloseQuietly(int descriptor) {
  if (descriptor >= 0 && close(descriptor) != 0) {
    return;  // only names were looked up or deleted through it
  }
}

void DeleteDirectoryEntries(int directory, HiddenEntries hidden) {
  DIR* stream = fdopendir(directory);
  if (stream == nullptr) {
    CloseQuietly(directory);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(stream)) {
    std::string name = entry->d_name;
    if (hidden == HiddenEntries::kKeep ? name[0] != '.' : name != "." && name != "..") {
      names.push_back(name);
    }
  }
  for (const std::string& name : names) {
    if (unlinkat(dirfd(stream), name.c_str(), 0) != 0) {
      continue;  // a directory or a vanished entry: what stays is the caller's to notice
    }
  }
  if (closedir(stream) != 0) {
    return;  // the entries are deleted or not whatever close says
  }
}

int OpenParent(int root, ParentDirectory& cache, const std::vector<std::string>& components) {
  std::size_t depth = components.empty() ? 0 : components.size() - 1;
  if ((cache.descriptor >= 0 || cache.error != 0) && cache.components.size() == depth &&
      std::equal(cache.components.begin(), cache.components.end(), components.begin())) {
    errno = cache.error;
    return cache.descriptor;
  }
  cache.Forget();
  std::vector<std::string> parent(components.begin(), components.begin() + depth);
  int directory = OpenTreeDirectory(root, parent);
  if (directory >= 0 || cache.treeFixed) {
    cache.descriptor = directory;
    cache.error = directory >= 0 ? 0 : errno;
    cache.components = std::move(parent);
  }
  return directory;
}

bool SetEntryAttributes(int directory, const std::string& leaf, std::uint32_t mode,
                        std::uint32_t user, std::uint32_t group, std::uint32_t modified) {
  if (fchownat(directory, leaf.c_str(), user, group, AT_SYMLINK_NOFOLLOW) != 0) {
    // ignored on purpose: the owner is kept where it cannot be given
  }
  timespec times[2] = {{static_cast<time_t>(modified), 0}, {static_cast<time_t>(modified), 0}};
  return fchmodat(directory, leaf.c_str(), mode & 07777, 0) == 0 &&
         utimensat(directory, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}
