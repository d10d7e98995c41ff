#include "xml/config.h"

#include <cstdio>
#include <new>
#include <optional>
#include <string_view>

#include "base/text.h"
#include "files/file.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace zv {
namespace {

constexpr std::string_view kConfigName = "etc/.runtime.xml";

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

}  // namespace

Text get_config_path(const char* program_path) {
  std::optional<Text> directory = get_path(program_path ? program_path : "");
  if (!directory) return Text(kConfigName);
  directory->append(kConfigName);
  return std::move(*directory);
}

std::int32_t read_config(const char* program_path) noexcept {
  Parser parser;
  try {
    Text path = get_config_path(program_path);
    std::optional<File> file = file_open_read(path.c_str(), nullptr);
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
