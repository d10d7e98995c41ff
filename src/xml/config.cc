#include "xml/config.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <optional>
#include <string_view>

#include "base/error.h"
#include "base/text.h"
#include "files/file.h"
#include "files/safe_file.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace zv {
namespace {

constexpr std::string_view kConfigName = "etc/.runtime.xml";
// A runtime configuration is a few lines; anything larger is not one.
constexpr off_t kMaxConfigSize = off_t{64} << 10;

// Each line goes to the parser on its own, line end and leading white space
// removed, so the parser sees the lines joined without anything between
// them.  A last line without a line end is read all the same.
void parse_config(File& file, Parser& parser) {
  for (;;) {
    int last = file_read_line(file);
    std::string_view line = file.line();
    if (!line.empty()) parse(parser, line);
    if (last == EOF) return;
  }
}

// The configuration file, by the rule of safe_file.h (root may own it: the
// package installs it); a file that fails the rule is reported and not used.
std::optional<File> open_config(const char* path) {
  struct stat info {};
  if (::lstat(path, &info) != 0 && errno == ENOENT) return std::nullopt;  // none: the default
  Descriptor fd = safe_open(path, O_RDONLY, nullptr, nullptr, Owners::kUserOrRoot);
  if (!fd || ::fstat(fd.get(), &info) != 0 || info.st_size > kMaxConfigSize) {
    show_error_text(string_concat("The runtime configuration ", path,
                                  " was not used: it must be a regular file of root or this user "
                                  "that nobody else can write, of at most 64 KiB."));
    return std::nullopt;
  }
  return file_open_descriptor(fd.release(), true);
}

}  // namespace

Text get_config_path(const char* program_path) {
  std::optional<Text> directory = executable_directory(program_path);
  if (!directory) return Text(kConfigName);
  directory->append(kConfigName);
  return std::move(*directory);
}

std::int32_t read_config(const char* program_path) noexcept {
  try {
    return read_config_file(get_config_path(program_path).c_str());
  } catch (const std::bad_alloc&) {
    return -1;  // the gate has reported it
  }
}

std::int32_t read_config_file(const char* path) noexcept {
  Parser parser;
  try {
    std::optional<File> file = open_config(path);
    if (!file) return -1;
    parse_config(*file, parser);
  } catch (const std::bad_alloc&) {
    // The gate has reported the shortage; whatever was read is still
    // searched, and without a path there is nothing to search: -1.
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
