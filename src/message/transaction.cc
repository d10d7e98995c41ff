#include "message/transaction.h"

#include <cstdlib>

#include "base/text.h"
#include "message/xml_encode.h"

namespace zv {

namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
constexpr std::string_view kHeadOpen = "<transaction><header><method>";
constexpr std::string_view kMethodClose = "</method><subclass>";
constexpr std::string_view kSubclassClose = "</subclass></header><data>";
constexpr std::string_view kTail = "</data></transaction>";
constexpr std::string_view kDefaultMethod = "Add";
constexpr std::string_view kDefaultSubclass = "Action";

constexpr std::string_view kMethodName = "zvagent_method";
constexpr std::string_view kSubclassName = "zvagent_subclass";

// A reference made only of '%' names no variable; it reads like a reference
// to a variable that is not set.
std::optional<Text> environment_value(std::string_view value) {
  std::optional<Text> name = string_trim(value, '%');
  if (!name) return Text(kInvalidVariable);
  // The mapping file names the variable: this is the program's one reading
  // of the environment.
  const char* contents = std::getenv(name->c_str());
  if (contents == nullptr) return Text(kInvalidVariable);
  return string_trim(contents, '"');
}

// A reference made only of '#' holds no number and so is invalid too.
std::optional<Text> argument_value(std::string_view value, Words words) {
  std::optional<Text> number = string_trim(value, '#');
  std::int32_t index = parse_int(number ? number->c_str() : nullptr);
  if (index < 0 || static_cast<std::size_t>(index) >= words.size() || words[index] == nullptr) {
    return Text(kInvalidArgument);
  }
  return string_trim(words[index], '"');
}

}  // namespace

SubmitData submit_data_initialize() { return SubmitData{}; }

void submit_data_add_method_tag(SubmitData& record, std::string_view value) {
  record.method = Text(value);
}

void submit_data_add_subclass_tag(SubmitData& record, std::string_view value) {
  record.subclass = Text(value);
}

void submit_data_add_tag(SubmitData& record, std::string_view name, std::string_view value) {
  std::size_t name_size = xml_encoded_size(name);
  Text element;
  element.reserve(2 * name_size + xml_encoded_size(value) + 5);
  element.push_back('<');
  xml_encode_append(name, element);
  element.push_back('>');
  xml_encode_append(value, element);
  element.append("</");
  // The name's escaped form is already in place; copy it rather than
  // escaping the name a second time.
  element.append(element, 1, name_size);
  element.push_back('>');
  record.elements.push_back(std::move(element));
}

std::optional<Text> submit_data_get_value(std::string_view value, Words words) {
  if (value.empty()) return Text();
  switch (value.front()) {
    case '%': return environment_value(value);
    case '#': return argument_value(value, words);
    case '"': return string_trim(value, '"');
    default: return Text(value);
  }
}

void submit_data_process_config_line(SubmitData& record, Words words, std::string_view line) {
  std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  std::string_view name = line.substr(0, equals);
  std::optional<Text> value = submit_data_get_value(line.substr(equals + 1), words);
  if (!value) return;
  if (name == kMethodName) {
    submit_data_add_method_tag(record, *value);
  } else if (name == kSubclassName) {
    submit_data_add_subclass_tag(record, *value);
  } else {
    submit_data_add_tag(record, name, *value);
  }
}

Text submit_data_generate_message(const SubmitData& record) {
  std::string_view method = record.method ? std::string_view(*record.method) : kDefaultMethod;
  std::string_view subclass =
      record.subclass ? std::string_view(*record.subclass) : kDefaultSubclass;
  std::size_t size = kDeclaration.size() + kHeadOpen.size() + method.size() + kMethodClose.size() +
                     subclass.size() + kSubclassClose.size() + kTail.size();
  for (const Text& element : record.elements) size += element.size();

  Text document;
  document.reserve(size);
  document.append(kDeclaration).append(kHeadOpen).append(method).append(kMethodClose);
  document.append(subclass).append(kSubclassClose);
  for (const Text& element : record.elements) document.append(element);
  document.append(kTail);
  return document;
}

}  // namespace zv
