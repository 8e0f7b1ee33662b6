// Holds the serialised records of one run until they can be written after
// a header that must state their count. Records stay in memory up to a
// limit; beyond it the XML writer writes them into the output file itself
// behind room kept for the header, and only where the output cannot seek
// (a pipe, a device) do they go to an unnamed temporary file (Settle), so
// memory stays flat however long the run is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrevane {

class OutputFile;

class RunBuffer {
 public:
  static constexpr size_t kDefaultMemoryLimit = size_t{8} << 20;

  explicit RunBuffer(size_t memory_limit = kDefaultMemoryLimit);
  ~RunBuffer();
  RunBuffer(const RunBuffer&) = delete;
  RunBuffer& operator=(const RunBuffer&) = delete;

  // The text to append to; call Settle() after each piece.
  std::string& text() { return text_; }
  // Moves the text to the temporary file once it passes the memory limit.
  // The file is made in `folder` ("" for the working directory) when it
  // can be, else in $TMPDIR or /tmp.
  void Settle(std::string_view folder) {
    if (Full()) Spill(folder);
  }
  // The text has reached the memory limit.
  bool Full() const { return text_.size() >= limit_; }
  // Empties the buffer for the next run (the temporary file is kept).
  void Reset();
  // Appends everything held, in order, to `out`.
  void CopyTo(OutputFile& out);
  int64_t size() const { return spilled_ + int64_t(text_.size()); }

 private:
  void Spill(std::string_view folder);
  void OpenTemporary(std::string_view folder);

  size_t limit_;
  std::string text_;
  int fd_ = -1;
  int64_t spilled_ = 0;
};

}  // namespace ostrevane
