#pragma once

#include <cstdint>
#include <fstream>
#include <string>

// An output file stream that writes a part container: the content written between BeginPart and
// EndPart becomes one part. Errors show as stream states; the writer prints nothing.
class PartWriter : public std::ofstream {
 public:
  // Creates (or truncates) the file at path; a failure leaves the stream failed. An unrecorded
  // container's package is installed without being entered in the package database.
  PartWriter(const std::string& path, bool unrecorded);
  // Finishes the container like Close when it is still open.
  ~PartWriter() override;

  // Starts a part of the given type at the current position; no-op in an error state.
  void BeginPart(int type);
  // Writes the current part's header now that its length is known; no-op in an error state.
  // A part longer than 4 GiB - 1 cannot be described and sets the fail state.
  void EndPart();
  // Moves back to the current part's header so that the part is written again.
  void RewindPart();
  // Writes the container header, cuts off anything beyond the current position (left by a
  // rewound part) and closes the file. Returns false when any step of the writer failed.
  bool Close();

 private:
  // Writes the container header and cuts the file at the current position; no-op in an error
  // state or when the file is not open.
  void Finish();
  // Writes value little-endian in size bytes.
  void WriteLittleEndian(std::uint32_t value, int size);

  std::string path;
  std::uint64_t headerOffset = 0;
  int currentType = 0;
  std::uint32_t magic;
};
