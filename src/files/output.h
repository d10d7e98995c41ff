// The run's output: the "--post-file" file, or standard output.
#pragma once

#include <string_view>

#include "base/descriptor.h"

namespace zv {

/// Writes go straight to the descriptor: no buffer of the C library's
/// keeps a copy of reply bytes once they are written.
class Output {
 public:
  /// Writes to `fd`; closes it at the end only when `owned`.
  Output(int fd, bool owned);
  Output(Output&&) noexcept = default;
  Output& operator=(Output&&) noexcept = default;
  ~Output();

  /// Writes all of `bytes`, however many writes it takes (retried on
  /// EINTR).  False when the output refuses them (a closed pipe, a full
  /// disk); what was written stays written, and nothing is reported.
  bool write(std::string_view bytes);

 private:
  Descriptor owned_;
  int fd_;
};

/// Opens `path` for writing, created (mode 0666 less the umask) or emptied;
/// standard output when `path` is nullptr or cannot be opened, without a
/// word.  Never fails.
Output output_open(const char* path);

}  // namespace zv
