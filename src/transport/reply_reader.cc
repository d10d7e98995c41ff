#include "transport/reply_reader.h"

#include <charconv>

namespace zv {

namespace {

// A chunk-size line is a hexadecimal number with perhaps an extension; a
// trailer line is a header line.  Anything longer is no framing of a reply.
constexpr std::size_t kMaxLine = 4096;
// More hexadecimal digits than this cannot be a size the client would take.
constexpr std::size_t kMaxSizeDigits = 15;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The value of the first header line named `name` (lower case, without
// the colon), trimmed; nullopt when there is none.
std::optional<std::string_view> header_value(std::string_view header, std::string_view name) {
  // The status line is no header line.
  std::size_t first = header.find('\n');
  header = first == std::string_view::npos ? std::string_view() : header.substr(first + 1);
  while (!header.empty()) {
    std::size_t end = header.find('\n');
    std::string_view line = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    if (starts_with_nocase(line, name) && line.size() > name.size() && line[name.size()] == ':') {
      return trim(line.substr(name.size() + 1));
    }
  }
  return std::nullopt;
}

// The Content-Length the header announces, if it gives a number.
std::optional<std::uint64_t> content_length(std::string_view header) {
  std::optional<std::string_view> value = header_value(header, "content-length");
  if (!value) return std::nullopt;
  std::uint64_t length = 0;
  auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), length);
  if (error != std::errc() || end == value->data()) return std::nullopt;
  return length;
}

// Whether the body comes in chunks: "chunked" is the last transfer coding.
bool is_chunked(std::string_view header) {
  std::optional<std::string_view> value = header_value(header, "transfer-encoding");
  if (!value) return false;
  std::size_t comma = value->rfind(',');
  std::string_view last = trim(comma == std::string_view::npos ? *value : value->substr(comma + 1));
  return last.size() == 7 && starts_with_nocase(last, "chunked");
}

int hex_digit(char c) {
  if (is_digit(c)) return c - '0';
  c = lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Whether `start` can still become a status line: it follows "HTTP/d.d ddd"
// as far as it goes.
bool could_be_status_line(std::string_view start) {
  constexpr std::string_view kPattern = "HTTP/0.0 000";
  for (std::size_t i = 0; i < start.size() && i < kPattern.size(); ++i) {
    bool fits = kPattern[i] == '0' ? is_digit(start[i]) : start[i] == kPattern[i];
    if (!fits) return false;
  }
  return true;
}

}  // namespace

std::optional<std::int32_t> http_status_code(std::string_view line) {
  constexpr std::string_view kName = "HTTP/";
  // "HTTP/" d "." d " " ddd
  if (line.size() < 12 || !line.starts_with(kName) || !is_digit(line[5]) || line[6] != '.' ||
      !is_digit(line[7]) || line[8] != ' ') {
    return std::nullopt;
  }
  if (!is_digit(line[9]) || !is_digit(line[10]) || !is_digit(line[11])) return std::nullopt;
  if (line.size() > 12 && line[12] != ' ') return std::nullopt;
  if (line.find('\0') != std::string_view::npos) return std::nullopt;
  std::int32_t code = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  if (code < 100 || code > 599) return std::nullopt;
  return code;
}

bool http_status_means_later(std::int32_t code) {
  return code / 100 == 3 || code == 408 || code == 429 || code / 100 == 5;
}

bool ReplyReader::feed(std::string_view bytes) {
  while (!bytes.empty()) {
    bool go_on = phase_ == Phase::kHeader ? feed_header(bytes)
                 : phase_ == Phase::kBody ? feed_body(bytes)
                                          : feed_chunked(bytes);
    if (!go_on) return false;
  }
  return true;
}

bool ReplyReader::feed_header(std::string_view& bytes) {
  std::size_t taken = bytes.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\n') {
      if (status_line_length_ == std::string_view::npos) status_line_length_ = header_.size() + i;
      if (line_end_) {
        header_done_ = true;
        taken = i + 1;
        break;
      }
      line_end_ = true;
    } else if (c != '\r') {
      line_end_ = false;
    }
  }
  if (header_.size() + taken > kMaxHeader) {
    too_large_ = true;
    // A first line that long is no status line.
    if (!status_checked_) not_http_ = true;
    return false;
  }
  header_.append(bytes.substr(0, taken));
  bytes.remove_prefix(taken);
  // A banner or a page that is no HTTP reply is known by its first bytes,
  // whether or not a line end ever follows.
  if (!status_checked_ && !could_be_status_line(header_)) {
    not_http_ = true;
    return false;
  }
  if (!status_checked_ && status_line_length_ != std::string_view::npos) {
    status_checked_ = true;
    std::string_view line(header_.data(), status_line_length_);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::optional<std::int32_t> code = http_status_code(line);
    if (!code) {
      not_http_ = true;
      return false;
    }
    status_ = *code;
    answered_ = status_ >= 200;
  }
  if (!header_done_) return true;
  if (status_ < 200) {
    // An interim reply ("100 Continue"): the real one follows.
    header_.clear();
    header_done_ = status_checked_ = line_end_ = false;
    status_line_length_ = std::string_view::npos;
    return true;
  }
  chunked_ = is_chunked(header_);
  if (!chunked_) remaining_ = content_length(header_);
  sink_.header(header_, status_, remaining_);
  phase_ = chunked_ ? Phase::kChunkSize : Phase::kBody;
  return true;
}

bool ReplyReader::take_body(std::string_view piece) {
  body_size_ += piece.size();
  if (body_size_ > kMaxBody) {
    too_large_ = true;
    return false;
  }
  if (!piece.empty()) sink_.body(piece);
  return true;
}

bool ReplyReader::feed_body(std::string_view& bytes) {
  std::string_view piece = bytes;
  if (remaining_) {
    // Bytes beyond the announced length are no part of the reply.
    piece = piece.substr(0, *remaining_);
    *remaining_ -= piece.size();
  }
  bytes = {};
  if (!take_body(piece)) return false;
  if (remaining_ && *remaining_ == 0) {
    phase_ = Phase::kDone;
    return false;
  }
  // A rejected reply is judged by what is kept; the rest is not read.
  return sink_.wants_body();
}

// Takes bytes into line_ up to and including an LF; true once a line is
// complete (line_ then holds it without its line end).
bool ReplyReader::take_line(std::string_view& bytes) {
  std::size_t lf = bytes.find('\n');
  std::size_t taken = lf == std::string_view::npos ? bytes.size() : lf;
  if (line_.size() + taken > kMaxLine) {
    broken_ = true;
    return false;
  }
  line_.append(bytes.substr(0, taken));
  bytes.remove_prefix(lf == std::string_view::npos ? taken : taken + 1);
  if (lf == std::string_view::npos) return false;
  while (!line_.empty() && line_.back() == '\r') line_.pop_back();
  return true;
}

// The chunk size of line_: hexadecimal digits, then perhaps blanks and an
// extension after ';'.
std::optional<std::uint64_t> ReplyReader::chunk_size() const {
  std::string_view line(line_);
  std::uint64_t size = 0;
  std::size_t digits = 0;
  for (; digits < line.size() && hex_digit(line[digits]) >= 0; ++digits) {
    size = size * 16 + static_cast<std::uint64_t>(hex_digit(line[digits]));
  }
  if (digits == 0 || digits > kMaxSizeDigits) return std::nullopt;
  std::string_view rest = trim(line.substr(digits));
  if (!rest.empty() && rest.front() != ';') return std::nullopt;
  return size;
}

bool ReplyReader::feed_chunked(std::string_view& bytes) {
  if (phase_ == Phase::kChunkData) {
    std::string_view piece = bytes.substr(0, *remaining_);
    *remaining_ -= piece.size();
    bytes.remove_prefix(piece.size());
    if (!take_body(piece)) return false;
    if (*remaining_ == 0) phase_ = Phase::kChunkEnd;
    return sink_.wants_body();
  }
  if (!take_line(bytes)) return !broken_;
  std::string_view line(line_);
  if (phase_ == Phase::kChunkSize) {
    std::optional<std::uint64_t> size = chunk_size();
    if (!size) {
      broken_ = true;
      return false;
    }
    remaining_ = *size;
    phase_ = *size == 0 ? Phase::kTrailer : Phase::kChunkData;
  } else if (phase_ == Phase::kChunkEnd) {
    if (!line.empty()) {
      broken_ = true;
      return false;
    }
    phase_ = Phase::kChunkSize;
  } else {
    // Trailer lines, up to the empty line that ends the reply.
    trailer_size_ += line.size();
    if (trailer_size_ > kMaxHeader) {
      too_large_ = true;
      return false;
    }
    if (line.empty()) phase_ = Phase::kDone;
  }
  line_.clear();
  return phase_ != Phase::kDone;
}

void ReplyReader::finish(bool closed) {
  if (!answered_) return;
  if (!header_done_) sink_.header(header_, status_, std::nullopt);
  bool complete = chunked_ || remaining_ ? phase_ == Phase::kDone : closed;
  bool whole = !too_large_ && !broken_ && header_done_ && complete;
  sink_.end(whole ? std::string_view() : too_large_ ? kReplyTooLarge : kReplyCut);
}

}  // namespace zv
