// The run's output: the "--post-file" file, or standard output.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "base/descriptor.h"
#include "base/memory.h"

namespace zv {

/// Writes go straight to the descriptor: no buffer of the C library's
/// keeps a copy of reply bytes once they are written.  A post file is
/// written to a temporary file beside it and renamed over it by finish(),
/// so that a run cut short, or a write that failed, never leaves a torn
/// reply in its place.
class Output {
 public:
  /// Writes to `fd`; closes it at the end only when `owned`.
  Output(int fd, bool owned);
  /// Writes to the temporary file `temporary_path`, open as `temporary`,
  /// which finish() renames to `path` (borrowed).
  Output(Descriptor temporary, Text temporary_path, const char* path);
  Output(Output&& other) noexcept;
  Output& operator=(Output&&) = delete;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  /// Removes a temporary file that finish() did not rename.
  ~Output();

  /// Writes all of `bytes`, however many writes it takes (retried on
  /// EINTR).  False when the output refuses them (a closed pipe, a full
  /// disk), and for every write after such a failure; nothing is reported.
  bool write(std::string_view bytes);
  /// True once a write has failed.
  bool failed() const { return failed_; }
  /// Ends a post file: renames the temporary file over the path when every
  /// write went through, else removes it and leaves the path as it was.
  /// True when the replies are where they belong (always for standard
  /// output).
  bool finish();

 private:
  Descriptor owned_;
  int fd_;
  bool failed_ = false;
  Text temporary_path_;
  const char* path_ = nullptr;
};

/// Why a post file was not used.
enum class OutputRefusal { kNone, kNotRegular, kInUse };

/// Opens the output for `path`: standard output when `path` is nullptr or
/// its temporary file cannot be created (without a word).  An existing
/// `path` that is no regular file (a link, a FIFO, a device, a directory),
/// or that is the same file as one of `in_use` (the run's input, the
/// recovery log places), is refused: nullopt, with `refusal` saying why.
/// Nothing at `path` changes before finish().  Throws memory_exhausted.
std::optional<Output> output_open(const char* path, std::span<const char* const> in_use,
                                  OutputRefusal& refusal);

}  // namespace zv
