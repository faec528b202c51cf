#pragma once

// What the fuzz targets share: checks that end the run, scratch directories, descriptor counts,
// and a small byte format that describes a directory tree. Built only by the fuzz build.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Prints what did not hold and aborts, so that libFuzzer keeps the input as a reproducer.
void Require(bool holds, const char* what);

// A fresh directory under /tmp, created kScratchDepth levels below a top directory of its own, so
// that a name climbing out of it by a few ".." still lands inside the top. The destructor removes
// the top with everything in it.
class ScratchDirectory {
 public:
  static constexpr int kScratchDepth = 4;

  explicit ScratchDirectory(const char* tag);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& Path() const { return path; }
  const std::string& Top() const { return top; }

 private:
  std::string top;
  std::string path;
};

// Removes everything below path (not path itself); links are removed, never followed.
void EmptyDirectory(const std::string& path);

// Every path below dir, relative to it, sorted; links are listed, never followed.
std::vector<std::string> ListTree(const std::string& dir);

// Writes bytes to path (created or truncated); aborts when that fails.
void WriteBytes(const std::string& path, std::string_view bytes);

// The number of descriptors the process has open.
int CountOpenDescriptors();

// Builds entries under base from a byte description: records of a place (1 byte, an index into
// places, each a relative path), a kind (1 byte: file, directory, link or FIFO), a length (2
// bytes, little-endian) and that many content bytes (the file's content or the link's target).
// A link target beginning with "/" is placed under base; one that climbs further up than the
// scratch depth becomes a file. Missing directories on the way are created; failures are ignored.
void BuildTree(std::span<const std::uint8_t> description, const std::string& base,
               std::span<const std::string> places);

// Hands each datagram of the input to `take`, in a zero-filled buffer of exactly the datagram size
// (so that reads beyond it show). The input is records of a 2-byte little-endian length and that
// many bytes, each cut at the input's end and at the datagram size (the rest is the next record).
void ForEachDatagram(std::span<const std::uint8_t> input,
                     const std::function<void(std::uint8_t* datagram, int length)>& take);
