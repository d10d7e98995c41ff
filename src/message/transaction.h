// The transaction message builder: turns the name=value lines of a mapping
// file into one ZVXML transaction document.
//
// Mapping-file syntax.  A line is split at its first '='; neither side is
// trimmed, so blanks around the '=' belong to the name or the value.  The
// value is resolved by its first character:
//   '%'  environment reference: the name between the '%' runs, read with
//        getenv; its contents less leading/trailing double quotes, or
//        kInvalidVariable when it is not set (or no name is left);
//   '#'  argument reference: word N (0 = the program as invoked, up to
//        mapping_last_index) of mapping_words less leading/trailing double
//        quotes, or kInvalidArgument;
//   '"'  quoted text: the value less leading/trailing double quotes;
//   else plain text, unchanged (an empty value is an empty text).
// A value that resolves to nothing (empty quotes, an empty variable or
// word) leaves the line without effect.  The name "zvagent_method" sets the
// method, "zvagent_subclass" the subclass (the last line wins); any other
// name, the empty one included, appends an element.
//
// The document, on one line:
//   <?xml version="1.0" encoding="UTF-8"?><transaction><header>
//   <method>M</method><subclass>S</subclass></header><data>ELEMENTS</data>
//   </transaction>
// with M "Add" and S "Action" unless set.  Method and subclass go in as
// resolved; element names and values are XML-escaped.
#pragma once

#include <optional>
#include <string_view>

#include "base/error.h"
#include "base/memory.h"

namespace zv {

/// The value of an environment reference whose variable is not set.
inline constexpr std::string_view kInvalidVariable = "Environment Variable specified is INVALID.";
/// The value of an argument reference beyond the command line.
inline constexpr std::string_view kInvalidArgument = "Argument specified is INVALID.";

/// One transaction under construction.  A value: its initial state (no
/// method, no subclass, no element) is what submit_data_initialize gives,
/// and releasing it is leaving its scope.  Every text
/// is owned, so it is wiped when released.
struct SubmitData {
  std::optional<Text> method;
  std::optional<Text> subclass;
  /// Finished element texts, "<name>value</name>" escaped, in line order.
  /// Every element line is kept, however many there are.
  Vec<Text> elements;
};

/// A record with nothing set.  Never allocates.
SubmitData submit_data_initialize();

/// Stores a copy of `value` as the method (or subclass), replacing any
/// earlier one.  Throws memory_exhausted; the record is then unchanged.
void submit_data_add_method_tag(SubmitData& record, std::string_view value);
void submit_data_add_subclass_tag(SubmitData& record, std::string_view value);

/// Appends the element with the escaped `name` and `value`.  Throws
/// memory_exhausted; the record is then unchanged.
void submit_data_add_tag(SubmitData& record, std::string_view name, std::string_view value);

/// The resolved form of a raw value (see above), owned by the caller, or
/// nullopt when it resolves to nothing.  Reads the environment only for a
/// '%' value.  Throws memory_exhausted.
/// `words` are what a '#N' reference may name: the command line, from the
/// program (#0) to its last word.
std::optional<Text> submit_data_get_value(std::string_view value, Words words);

/// Applies one mapping line to the record.  A line without '=' is ignored.
/// Throws memory_exhausted; the record is then as it was before the line.
void submit_data_process_config_line(SubmitData& record, Words words, std::string_view line);

/// The whole document, owned by the caller; the record is unchanged.  Cost
/// and one allocation are linear in the document's length.  Throws
/// memory_exhausted.
Text submit_data_generate_message(const SubmitData& record);

}  // namespace zv
