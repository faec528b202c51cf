#include "packages/unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "packages/package_database.h"
#include "packages/package_reports.h"
#include "packages/reporter.h"
#include "packages/roots.h"
#include "packages/tree_paths.h"
#include "streams/byte_order.h"
#include "streams/exact_io.h"
#include "streams/inflate_stream.h"

namespace {

constexpr std::size_t kBlockSize = 16384;

// One entry of the archive as its record and name describe it.
struct ArchiveEntry {
  std::uint32_t mode = 0;
  std::uint32_t user = 0;
  std::uint32_t group = 0;
  std::uint32_t modified = 0;
  bool skip = false;
  std::uint32_t dataSize = 0;
  std::string name;  // as stored: the installed path, with or without a leading "/"
};

// A directory the archive created, whose times its later entries change.
struct CreatedDirectory {
  std::vector<std::string> components;
  std::string name;
  std::uint32_t modified;
};

// What one unpacking works with.
struct Unpacking {
  Package& p;
  PartReader& reader;
  InflateStream& archive;
  int root;       // the directory the entries go under
  bool relative;  // below the working directory: recorded paths begin with "."
  std::vector<CreatedDirectory> directories;
  std::vector<char> block;
};

// Passes over size bytes of the archive; false when it ends first.
bool SkipData(std::istream& archive, std::uint32_t size) {
  archive.ignore(size);
  return static_cast<std::uint64_t>(archive.gcount()) == size;
}

bool Broken(const Package& p) {
  ReportBrokenPackage(p);
  return false;
}

bool WriteFailed(const Package& p, const ArchiveEntry& entry) {
  ReportWriteFailure(p, entry.name);
  return false;
}

// The place an entry names, relative to the unpacking root; false for a name that would leave it.
bool EntryComponents(const Unpacking& u, const ArchiveEntry& entry,
                     std::vector<std::string>& components) {
  std::string inTree = u.p.disabled ? "x/" + u.p.name + "/" + entry.name : entry.name;
  return SplitTreeName(inTree, components);
}

// The path recorded in the package's files: "/" + name, under "/x/<package>" for a disabled
// package, and after "." in relative mode.
std::string RecordedPath(const Unpacking& u, const ArchiveEntry& entry) {
  std::string q = u.relative ? "." : "";
  if (u.p.disabled) {
    q += "/x/" + u.p.name;
  }
  if (entry.name.empty() || entry.name[0] != '/') {
    q += '/';
  }
  return q + entry.name;
}

// False at the archive's end (no whole record); nameComplete tells whether the name followed.
bool ReadRecord(std::istream& archive, ArchiveEntry& entry, bool& nameComplete) {
  unsigned char record[kFileRecordSize];
  if (!ReadExactly(archive, record, sizeof record)) {
    return false;
  }
  entry.mode = LoadLittleEndian(record + kFileModeOffset, 2);
  entry.user = LoadLittleEndian(record + kFileOwnerOffset, 2);
  entry.group = LoadLittleEndian(record + kFileGroupOffset, 2);
  entry.modified = LoadLittleEndian(record + kFileTimeOffset, 4);
  entry.skip = record[kFileSkipOffset] != 0;
  entry.dataSize = LoadLittleEndian(record + kFileDataSizeOffset, 4);
  entry.name.assign(LoadLittleEndian(record + kFileNameLengthOffset, 2), '\0');
  nameComplete = ReadExactly(archive, entry.name.data(), entry.name.size());
  return true;
}

bool KnownType(const ArchiveEntry& entry) {
  switch (entry.mode & S_IFMT) {
    case S_IFLNK:
    case S_IFREG:
    case S_IFDIR:
    case S_IFIFO:
      return true;
    case S_IFCHR:
    case S_IFBLK:
      return entry.dataSize == kDeviceNumberSize;
    default:
      return false;
  }
}

// Creates the device node leaf of directory. The node is made relative to the directory already
// resolved inside the tree: MakeNode of the machine layer takes a path, which the kernel would
// resolve again from the host's side, where the tree's absolute links lead out of it.
int CreateNode(int directory, const std::string& leaf, mode_t mode, dev_t device) {
  return mknodat(directory, leaf.c_str(), mode, device);
}

// Owner (best effort: the entry's ids may not exist here), permissions and times of leaf, which
// this unpacking has just made as no link; so chmod may look the name up without a flag.
bool SetAttributes(int directory, const std::string& leaf, const ArchiveEntry& entry) {
  if (fchownat(directory, leaf.c_str(), entry.user, entry.group, AT_SYMLINK_NOFOLLOW) != 0) {
    // ignored on purpose: the owner is kept where it cannot be given
  }
  timespec times[2] = {{static_cast<time_t>(entry.modified), 0},
                       {static_cast<time_t>(entry.modified), 0}};
  return fchmodat(directory, leaf.c_str(), entry.mode & 07777, 0) == 0 &&
         utimensat(directory, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// Copies the entry's data into descriptor; reports and returns false on a failure.
bool CopyData(Unpacking& u, const ArchiveEntry& entry, int descriptor) {
  for (std::uint32_t left = entry.dataSize; left > 0;) {
    std::size_t size = std::min<std::size_t>(left, kBlockSize);
    if (!ReadExactly(u.archive, u.block.data(), size)) {
      return Broken(u.p);
    }
    if (!WriteAll(descriptor, u.block.data(), size)) {
      return WriteFailed(u.p, entry);
    }
    left -= static_cast<std::uint32_t>(size);
  }
  return true;
}

bool CreateLink(Unpacking& u, const ArchiveEntry& entry, int directory, const std::string& leaf,
                const std::string& q) {
  if (entry.dataSize > kBlockSize) {
    errno = ENAMETOOLONG;  // longer than any file system keeps; not held in memory
    return WriteFailed(u.p, entry);
  }
  std::string target(entry.dataSize, '\0');
  if (!ReadExactly(u.archive, target.data(), target.size())) {
    return Broken(u.p);
  }
  // A NUL byte would cut the target short: it could not be stored as given.
  if (target.find('\0') != std::string::npos) {
    return Broken(u.p);
  }
  if (symlinkat(target.c_str(), directory, leaf.c_str()) != 0) {
    return WriteFailed(u.p, entry);
  }
  u.p.files.insert(q);
  if (fchownat(directory, leaf.c_str(), entry.user, entry.group, AT_SYMLINK_NOFOLLOW) != 0) {
    // ignored on purpose, as for every entry's owner
  }
  return true;
}

bool CreateFile(Unpacking& u, const ArchiveEntry& entry, int directory, const std::string& leaf,
                const std::string& q) {
  // The old entry was removed; O_EXCL and O_NOFOLLOW make sure that nothing which is still there
  // (or a link put in its place) is written through.
  int descriptor =
      openat(directory, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor < 0) {
    return WriteFailed(u.p, entry);
  }
  u.p.files.insert(q);
  if (!CopyData(u, entry, descriptor)) {
    close(descriptor);  // already failing; the first report stands
    return false;
  }
  if (fchown(descriptor, entry.user, entry.group) != 0) {
    // ignored on purpose, as for every entry's owner
  }
  timespec times[2] = {{static_cast<time_t>(entry.modified), 0},
                       {static_cast<time_t>(entry.modified), 0}};
  bool attributes = fchmod(descriptor, entry.mode & 07777) == 0 && futimens(descriptor, times) == 0;
  int error = errno;
  if (close(descriptor) != 0 || !attributes) {
    errno = attributes ? errno : error;
    return WriteFailed(u.p, entry);
  }
  return true;
}

bool CreateDirectory(Unpacking& u, const ArchiveEntry& entry, int directory,
                     const std::string& leaf, const std::vector<std::string>& components) {
  if (!SkipData(u.archive, entry.dataSize)) {
    return Broken(u.p);
  }
  if (mkdirat(directory, leaf.c_str(), entry.mode & 07777) != 0) {
    return WriteFailed(u.p, entry);
  }
  u.directories.push_back({components, entry.name, entry.modified});
  return SetAttributes(directory, leaf, entry) || WriteFailed(u.p, entry);
}

bool CreateSpecial(Unpacking& u, const ArchiveEntry& entry, int directory, const std::string& leaf,
                   const std::string& q) {
  int made;
  if (S_ISFIFO(entry.mode)) {
    if (!SkipData(u.archive, entry.dataSize)) {
      return Broken(u.p);
    }
    made = mkfifoat(directory, leaf.c_str(), entry.mode & 07777);
  } else {
    unsigned char number[kDeviceNumberSize];
    if (!ReadExactly(u.archive, number, sizeof number)) {
      return Broken(u.p);
    }
    made = CreateNode(directory, leaf, entry.mode, LoadLittleEndian(number, sizeof number));
  }
  if (made != 0) {
    return WriteFailed(u.p, entry);
  }
  u.p.files.insert(q);
  return SetAttributes(directory, leaf, entry) || WriteFailed(u.p, entry);
}

// Creates one entry in the directory that holds it; true also for an existing directory that is
// left as it is (created is then false).
bool CreateEntry(Unpacking& u, const ArchiveEntry& entry, int directory,
                 const std::vector<std::string>& components, const std::string& q, bool& created) {
  // A name without components is the root itself, which stands as a directory.
  std::string leaf = components.empty() ? "." : components.back();
  struct stat existing;
  if (fstatat(directory, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(existing.st_mode) && S_ISDIR(entry.mode)) {
      return SkipData(u.archive, entry.dataSize) || Broken(u.p);
    }
    // A directory in the way is not removed: the failed unlink is the error to report.
    if (unlinkat(directory, leaf.c_str(), 0) != 0) {
      return WriteFailed(u.p, entry);
    }
  }
  created = true;
  switch (entry.mode & S_IFMT) {
    case S_IFLNK:
      return CreateLink(u, entry, directory, leaf, q);
    case S_IFREG:
      return CreateFile(u, entry, directory, leaf, q);
    case S_IFDIR:
      return CreateDirectory(u, entry, directory, leaf, components);
    default:
      return CreateSpecial(u, entry, directory, leaf, q);
  }
}

bool UnpackEntry(Unpacking& u, const ArchiveEntry& entry) {
  std::vector<std::string> components;
  if (!EntryComponents(u, entry, components)) {
    return Broken(u.p);
  }
  std::vector<std::string> parent(components.begin(),
                                  components.end() - (components.empty() ? 0 : 1));
  if (!MakeTreeDirectories(u.root, parent)) {
    // ignored on purpose: looking up the parent below reports the reason
  }
  if (entry.skip) {
    return SkipData(u.archive, entry.dataSize) || Broken(u.p);
  }
  // Refused before anything in the tree is touched.
  if (!KnownType(entry)) {
    return Broken(u.p);
  }
  int directory = OpenTreeDirectory(u.root, parent);
  if (directory < 0) {
    return errno == EXDEV ? Broken(u.p) : WriteFailed(u.p, entry);
  }
  bool created = false;
  bool done = CreateEntry(u, entry, directory, components, RecordedPath(u, entry), created);
  close(directory);  // O_PATH: nothing to report
  if (done && created) {
    ShowInstallingProgress(GetPackageDatabase(), u.p, u.reader);
  }
  return done;
}

// Entries made inside a directory changed its times; they are set again once all is in place.
bool RestoreDirectoryTimes(const Unpacking& u) {
  for (const CreatedDirectory& made : u.directories) {
    std::vector<std::string> parent(made.components.begin(), made.components.end() - 1);
    int directory = OpenTreeDirectory(u.root, parent);
    timespec times[2] = {{static_cast<time_t>(made.modified), 0},
                         {static_cast<time_t>(made.modified), 0}};
    bool set = directory >= 0 && utimensat(directory, made.components.back().c_str(), times,
                                           AT_SYMLINK_NOFOLLOW) == 0;
    int error = errno;
    if (directory >= 0) {
      close(directory);  // O_PATH: nothing to report
    }
    if (!set) {
      errno = error;
      ReportWriteFailure(u.p, made.name);
      return false;
    }
  }
  return true;
}

bool UnpackArchive(Unpacking& u) {
  ArchiveEntry entry;
  bool nameComplete = false;
  while (u.archive.good() && ReadRecord(u.archive, entry, nameComplete)) {
    if (!nameComplete) {
      return Broken(u.p);
    }
    if (!UnpackEntry(u, entry)) {
      return false;
    }
  }
  // The stream must have come to its own end: corrupt or cut data also reads as end of file,
  // and may do so right where a record would begin.
  if (!u.archive.ReachedStreamEnd()) {
    return Broken(u.p);
  }
  return RestoreDirectoryTimes(u);
}

// A disabled package's files live under x/<name>, with its own database directory there.
void MakeDisabledTree(const Package& p) {
  int target = OpenTreeRoot(TargetPath("/"));
  if (target < 0) {
    return;  // the entries report the unusable tree
  }
  for (const char* below : {"", "/var/pdb/"}) {
    std::vector<std::string> components;
    std::string name = "x/" + p.name + below + (*below ? p.name : "");
    if (SplitTreeName(name, components) && !MakeTreeDirectories(target, components)) {
      // ignored on purpose: the entries placed there report the reason
    }
  }
  close(target);  // O_PATH: nothing to report
}

// Where dirname stops: the root, or "." for a relative name.
bool IsTop(const std::string& path) {
  return path.empty() || path == "/" || path == ".";
}

std::string Parent(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  std::size_t end = path.find_last_not_of('/', slash);
  return end == std::string::npos ? "/" : path.substr(0, end + 1);
}

}  // namespace

bool MakeDirectories(const std::string& path, bool skipLast) {
  std::string current = path;
  while (current.size() > 1 && current.back() == '/') {
    current.pop_back();
  }
  std::vector<std::string> chain;
  for (; !IsTop(current); current = Parent(current)) {
    chain.push_back(current);
  }
  if (skipLast && !chain.empty()) {
    chain.erase(chain.begin());
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (mkdir(it->c_str(), 0770) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return true;
}

bool UnpackFiles(Package& p, PartReader& reader, Placement placement) {
  if (p.disabled) {
    MakeDisabledTree(p);
  }
  bool relative = placement == Placement::kWorkingDirectory;
  std::string rootPath = relative ? "." : TargetPath("/");
  int root = OpenTreeRoot(rootPath);
  if (root < 0) {
    ReportWriteFailure(p, rootPath);
    return false;
  }
  InflateStream archive(reader, false);
  Unpacking u{p, reader, archive, root, relative, {}, std::vector<char>(kBlockSize)};
  bool done = UnpackArchive(u);
  close(root);  // O_PATH: nothing to report
  return done;
}
