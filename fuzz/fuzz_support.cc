#include "fuzz_support.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace zv::fuzz {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string_view bytes_of(const std::uint8_t* data, std::size_t size) {
  return size == 0 ? std::string_view()
                   : std::string_view(reinterpret_cast<const char*>(data), size);
}

unsigned char take_settings(std::string_view& bytes) {
  if (bytes.empty()) return 0;
  auto settings = static_cast<unsigned char>(bytes.front());
  bytes.remove_prefix(1);
  return settings;
}

std::string_view up_to_nul(std::string_view text) { return text.substr(0, text.find('\0')); }

PieceSizes::PieceSizes(std::string_view text) : state_(14695981039346656037u) {
  for (unsigned char c : text) state_ = (state_ ^ c) * 1099511628211u;
}

std::size_t PieceSizes::next() {
  state_ = state_ * 6364136223846793005u + 1442695040888963407u;
  auto draw = static_cast<std::size_t>(state_ >> 33);
  switch (draw % 8) {
    case 0: return 0;
    case 1: return 64 + draw % 4096;
    default: return 1 + draw % 16;
  }
}

namespace {

ssize_t append_to_text(void* cookie, const char* bytes, std::size_t size) {
  static_cast<std::string*>(cookie)->append(bytes, size);
  return static_cast<ssize_t>(size);
}

}  // namespace

// A memory stream of the C library would allocate and clear a buffer of its
// own for every input, which costs the fuzzer most of its speed.
TextStream::TextStream()
    : stream_(fopencookie(&text_, "w",
                          cookie_io_functions_t{nullptr, append_to_text, nullptr, nullptr})) {
  check(stream_ != nullptr && std::setvbuf(stream_, nullptr, _IONBF, 0) == 0);
}

TextStream::~TextStream() { std::fclose(stream_); }

// The program names the stream `stderr` wherever it reports; glibc lets the
// stream pointer itself be replaced, which is the one way to catch those
// reports in-process without touching descriptor 2.
StderrCapture::StderrCapture() : saved_(stderr) { stderr = stream_.stream(); }

StderrCapture::~StderrCapture() { stderr = saved_; }

bool reference_is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::int32_t reference_parse_int(const char* text) {
  if (text == nullptr) return -1;
  if (std::strcmp(text, "0") == 0) return 0;
  const char* at = text;
  while (reference_is_space(*at)) ++at;
  bool negative = *at == '-';
  if (*at == '-' || *at == '+') ++at;
  // Accumulated as a magnitude that saturates well past 32 bits.
  long long magnitude = 0;
  bool digits = false;
  for (; *at >= '0' && *at <= '9'; ++at) {
    digits = true;
    if (magnitude <= (1LL << 40)) magnitude = magnitude * 10 + (*at - '0');
  }
  if (!digits || magnitude == 0) return -1;
  long long value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

std::string reference_xml_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&apos;";
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string_view> split_at(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    std::size_t end = text.find(separator);
    pieces.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return pieces;
    text.remove_prefix(end + 1);
  }
}

}  // namespace zv::fuzz
