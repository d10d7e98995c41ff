#include "base/error.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"

namespace zv {
namespace {

// Reads an error document back as an XML reader would: the names of its
// elements in order, and the character data of each (entities and CDATA
// sections resolved).  Fails the test on anything not well formed.
std::vector<std::pair<std::string, std::string>> read_back(std::string_view doc) {
  std::vector<std::pair<std::string, std::string>> elements;
  std::vector<std::string> open;
  std::size_t at = doc.find("?>") + 2;
  while (at < doc.size() && doc[at] != '\n') {
    if (doc.compare(at, 9, "<![CDATA[") == 0) {
      std::size_t end = doc.find("]]>", at + 9);
      EXPECT_NE(end, std::string_view::npos);
      elements.back().second.append(doc.substr(at + 9, end - at - 9));
      at = end + 3;
    } else if (doc[at] == '<') {
      std::size_t end = doc.find('>', at);
      std::string tag(doc.substr(at + 1, end - at - 1));
      if (tag[0] == '/') {
        EXPECT_EQ(tag.substr(1), open.back()) << doc;
        open.pop_back();
      } else {
        open.push_back(tag.substr(0, tag.find(' ')));
        elements.push_back({open.back(), ""});
      }
      at = end + 1;
    } else if (doc[at] == '&') {
      std::size_t end = doc.find(';', at);
      std::string_view name = doc.substr(at, end - at + 1);
      EXPECT_TRUE(name == "&amp;" || name == "&lt;" || name == "&gt;") << name;
      elements.back().second += name == "&amp;" ? '&' : name == "&lt;" ? '<' : '>';
      at = end + 1;
    } else {
      EXPECT_NE(doc[at], '>') << doc;
      elements.back().second += doc[at++];
    }
  }
  EXPECT_TRUE(open.empty()) << doc;
  return elements;
}

TEST(Error, HostileTextsCannotChangeTheDocument) {
  const char* hostile[] = {
      "plain", "</errordetail></data><data><x>", "a & b <c> ]]> d", "]]>]]]]>", "]", ""};
  for (const char* text : hostile) {
    const char* words[] = {"id", text, "]]><fake/>"};
    const Words shown(words);
    std::FILE* out = std::tmpfile();
    print_error(out, "CODE", "text", text, &shown);
    std::string doc(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    ASSERT_EQ(std::fread(doc.data(), 1, doc.size(), out), doc.size());
    std::fclose(out);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"transaction", ""},
        {"header", ""},
        {"method", "Agent"},
        {"subclass", "ERROR"},
        {"data", ""},
        {"errorcode", "CODE"},
        {"errortext", "text"},
        {"errordetail", text},
        {"incoming_message", std::string("id ") + text + " ]]><fake/>"}};
    EXPECT_EQ(read_back(doc), expected) << doc;
  }
}

}  // namespace
}  // namespace zv
