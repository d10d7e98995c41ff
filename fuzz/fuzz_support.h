// What the self-checking fuzz entries share: the failure that a fuzzing
// driver notices, reproducible cuts of a text, a capture of what the program
// writes to standard error, and plain reference readings of the program's
// small text rules, written from their contracts and sharing no code with
// the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zv::fuzz {

/// Aborts the process when `ok` is false: the driver keeps the input that
/// led here.  Returns normally otherwise.
void check(bool ok);

/// The bytes of a fuzz input as text.  Borrows them.
std::string_view bytes_of(const std::uint8_t* data, std::size_t size);

/// Splits off the first byte of `bytes` as the entry's settings (0 when
/// there is none) and leaves the rest in `bytes`.
unsigned char take_settings(std::string_view& bytes);

/// `text` up to its first NUL byte: what a C text made of it reads as.
std::string_view up_to_nul(std::string_view text);

/// Piece sizes drawn from a seed, so that a failure found once is found
/// again from the same bytes: mostly small pieces, now and then an empty
/// one or a large one.
class PieceSizes {
 public:
  /// The seed is a hash of `text`.
  explicit PieceSizes(std::string_view text);
  std::size_t next();

 private:
  std::uint64_t state_;
};

/// `text` cut into pieces by `sizes` (one byte each when nullptr), handed to
/// `take` in order.  Empty pieces are handed on too.
template <class Take>
void for_each_piece(std::string_view text, PieceSizes* sizes, Take&& take) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t length = sizes ? sizes->next() : 1;
    if (length > text.size() - at) length = text.size() - at;
    take(text.substr(at, length));
    at += length;
  }
}

/// A standard I/O stream whose bytes are kept in memory.  Unbuffered, so
/// that what was written is there at once, and cheap to make for every
/// input.
class TextStream {
 public:
  TextStream();
  ~TextStream();
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;

  /// Owned by this object; valid while it lives.
  std::FILE* stream() const { return stream_; }
  /// Everything written so far.
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::FILE* stream_;
};

/// While it lives, whatever the program writes through the standard error
/// stream is kept instead of shown.  The sanitizers write their reports
/// through the descriptor, not the stream, so a failure found while
/// capturing still shows.  Not nestable.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  /// Everything written since the capture began.
  const std::string& text() const { return stream_.text(); }

 private:
  std::FILE* saved_;
  TextStream stream_;
};

/// The program's number rule (parse_int): -1 for no text or no number (and
/// for the number -1), 0 only for exactly "0", C-locale white space and one
/// sign before the digits, anything after them ignored, clamped to 32 bits.
std::int32_t reference_parse_int(const char* text);

/// White space as the POSIX locale classifies it.
bool reference_is_space(char c);

/// `text` with the five predefined XML entities written for their
/// characters, every other byte as it is.
std::string reference_xml_escape(std::string_view text);

/// `text` cut at every `separator`: n separators give n + 1 pieces.
std::vector<std::string_view> split_at(std::string_view text, char separator);

}  // namespace zv::fuzz
