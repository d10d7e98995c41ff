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
  // Each text, and what the document says for it: every byte that is no
  // printable UTF-8 character becomes one '?'.
  const std::pair<std::string, std::string> hostile[] = {
      {"plain", "plain"},
      {"</errordetail></data><data><x>", "</errordetail></data><data><x>"},
      {"a & b <c> ]]> d", "a & b <c> ]]> d"},
      {"]]>]]]]>", "]]>]]]]>"},
      {"]", "]"},
      {"", ""},
      {"\x1b]0;owned\x07\x1b[2J", "?]0;owned??[2J"},
      {"tab\tline\ncr\rdel\x7f", "tab\tline?cr?del?"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"c1 \xc2\x9b csi, \xc2\xa0 nbsp", "c1 ?? csi, \xc2\xa0 nbsp"},
      {"bad \xff \xc3 \xe2\x82 \xc0\xaf \xed\xa0\x80 \xef\xbf\xbe", "bad ? ? ?? ?? ??? ???"},
  };
  for (const auto& [text, shown_text] : hostile) {
    const char* words[] = {"id", text.c_str(), "]]><fake/>"};
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
        {"errordetail", shown_text},
        {"incoming_message", "id " + shown_text + " ]]><fake/>"}};
    EXPECT_EQ(read_back(doc), expected) << doc;
  }
}

// The worst outcome of a run is its status, whatever came after it.
TEST(Error, WorstCodeWins) {
  const struct {
    std::vector<int> recorded;
    int status;
  } cases[] = {
      {{}, kExitOk},
      {{kExitFile, kExitCommunication}, kExitFile},
      {{kExitMemory, kExitCommunication, kExitReplyStatus}, kExitMemory},
      {{kExitCommunication, kExitReplyStatus}, kExitReplyStatus},
      {{kExitReplyStatus, kExitCommandLine, kExitCommunication}, kExitCommandLine},
      {{kExitMemory, kExitFile}, kExitFile},
  };
  for (const auto& c : cases) {
    reset_exit_code();
    for (int code : c.recorded) set_exit_code(code);
    EXPECT_EQ(get_exit_code(), c.status);
  }
  reset_exit_code();
}

}  // namespace
}  // namespace zv
