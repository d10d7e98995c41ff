#include "xml/config.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <optional>
#include <string_view>

#include "cli/text.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace zv {
namespace {

constexpr std::string_view kConfigName = "etc/.runtime.xml";

// The directory part of a path up to and including its last '/', or nullopt
// when there is none.  Mirrors get_path of the file module (files/file.h),
// which is not linked into this module yet; switch over once it is.
std::optional<Text> directory_part(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  return Text(path.substr(0, slash + 1));
}

// The configuration is read through a private line reader that mirrors
// file_read_line of the file module (files/file.h) until that module is
// linked here: blank lines and leading white space are skipped, LF, CR LF
// and a lone CR end a line, a last line without a line end is kept, and a
// zero byte ends the line's text.
class ConfigLines {
 public:
  explicit ConfigLines(std::FILE* stream) : stream_(stream) {}
  ConfigLines(const ConfigLines&) = delete;
  ConfigLines& operator=(const ConfigLines&) = delete;
  ~ConfigLines() { std::fclose(stream_); }

  /// Reads the next line; returns the last character taken from the stream,
  /// or -1 at the end of the input.  Throws memory_exhausted.
  int read_line() {
    Vec<char>().swap(buffer_);  // the previous line is wiped as it goes
    int c = get();
    while (c != EOF && is_space(c)) c = get();
    if (c == EOF) return -1;
    for (;;) {
      if (c == '\n') return '\n';
      if (c == '\r') {
        int after = get();
        if (after == '\n') return '\n';
        if (after != EOF) std::ungetc(after, stream_);
        return after == EOF ? -1 : after;
      }
      buffer_.push_back(static_cast<char>(c));
      c = get();
      if (c == EOF) return -1;
    }
  }

  /// The line read last, up to its first zero byte; empty when none.
  std::string_view line() const {
    std::string_view all(buffer_.data(), buffer_.size());
    return all.substr(0, all.find('\0'));
  }

 private:
  static bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

  int get() {
    for (;;) {
      int c = std::fgetc(stream_);
      if (c != EOF || !std::ferror(stream_) || errno != EINTR) return c;
      std::clearerr(stream_);
    }
  }

  std::FILE* stream_;
  Vec<char> buffer_;
};

// Each line goes to the parser on its own, line end removed, so the parser
// sees the lines joined without anything between them.
void parse_config(ConfigLines& lines, Parser& parser) {
  for (;;) {
    int last = lines.read_line();
    if (!lines.line().empty()) parse(parser, lines.line());
    if (last == -1) return;
  }
}

}  // namespace

Text get_config_path(const char* program_path) {
  std::optional<Text> directory = directory_part(program_path ? program_path : "");
  if (!directory) return Text(kConfigName);
  directory->append(kConfigName);
  return std::move(*directory);
}

std::int32_t read_config(const char* program_path) noexcept {
  Parser parser;
  try {
    Text path = get_config_path(program_path);
    std::FILE* stream;
    do {
      stream = std::fopen(path.c_str(), "r");
    } while (stream == nullptr && errno == EINTR);
    if (stream == nullptr) return -1;
    ConfigLines lines(stream);
    parse_config(lines, parser);
  } catch (const std::bad_alloc&) {
    // The shortage has been reported; whatever was read is still searched.
  }
  const Tag* http = parser_get_tag(parser, "http");
  if (http == nullptr) return -1;
  const Attribute* port = tag_get_attribute(parser, *http, "port");
  if (port == nullptr) return -1;
  try {
    // parse_int reads a zero-terminated text; the value is a view.
    return parse_int(Text(attribute_value(parser, *port)).c_str());
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

}  // namespace zv
