// The ZVXML documents the agent answers with.
//
// Every document is one line: the declaration, then
// <transaction><header><method>M</method><subclass>S</subclass></header>
// <data>...</data></transaction>.  The client tells a status message (method
// "Agent", subclass "Status") and an error message (subclass "ERROR") from a
// response by those two elements alone.
#pragma once

#include <string>
#include <string_view>

namespace zvagent {

/// The XML declaration every document starts with.
inline constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

/// `text` escaped for element content: & < > " ' as entities, and CR and LF
/// as character references, so that a document stays on one line.
std::string xml_escape(std::string_view text);

/// `text` with the five predefined entities replaced by their characters;
/// anything else stays as it is.
std::string xml_unescape(std::string_view text);

/// A whole transaction document; `data` is inserted as it is (already XML).
std::string transaction_document(std::string_view method, std::string_view subclass,
                                 std::string_view data);

/// An agent Status message whose data is <status>text</status> followed by
/// `more` (already XML).
std::string agent_status(std::string_view text, std::string_view more = {});

/// An agent ERROR message whose data is <errorcode>code</errorcode>
/// <errortext>text</errortext>.
std::string agent_error(std::string_view code, std::string_view text);

/// "<name>" + escaped text + "</name>".
std::string element(std::string_view name, std::string_view text);

}  // namespace zvagent
