#include "document.h"

namespace zvagent {

std::string xml_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += "&#10;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string xml_unescape(std::string_view text) {
  static constexpr std::string_view kEntities[][2] = {
      {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& entity : kEntities) {
        if (text.substr(i, entity[0].size()) == entity[0]) {
          out += entity[1];
          i += entity[0].size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

std::string transaction_document(std::string_view method, std::string_view subclass,
                                 std::string_view data) {
  std::string out(kDeclaration);
  out += "<transaction><header><method>";
  out += method;
  out += "</method><subclass>";
  out += subclass;
  out += "</subclass></header><data>";
  out += data;
  out += "</data></transaction>";
  return out;
}

std::string element(std::string_view name, std::string_view text) {
  std::string out = "<";
  out += name;
  out += '>';
  out += xml_escape(text);
  out += "</";
  out += name;
  out += '>';
  return out;
}

std::string agent_status(std::string_view text, std::string_view more) {
  return transaction_document("Agent", "Status", element("status", text) + std::string(more));
}

std::string agent_error(std::string_view code, std::string_view text) {
  return transaction_document("Agent", "ERROR",
                              element("errorcode", code) + element("errortext", text));
}

}  // namespace zvagent
