#include "transport/form.h"

#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv {
namespace {

std::string encoded(std::string_view text) {
  Text out;
  http_encode(text, out);
  return std::string(out.data(), out.size());
}

// Every byte value against the rule, so nothing slips through whatever the
// locale says about bytes above 0x7F; then bytes in sequence.
TEST(Form, Encode) {
  for (int byte = 1; byte < 256; ++byte) {
    const std::string c(1, static_cast<char>(byte));
    EXPECT_EQ(encoded(c), test::url_encode(c)) << byte;
  }
  EXPECT_EQ(encoded(""), "");
  EXPECT_EQ(encoded("\xC3\xA9t\xC3\xA9"), "%C3%A9t%C3%A9");
  EXPECT_EQ(encoded("<a x=\"1\"/>? b+c"), "%3Ca+x%3D%221%22%2F%3E%3F+b%2Bc");
}

// The streamed form must equal the form built whole, whatever room each
// piece gets: a code is never split, names longer than the room are, and
// an empty value still gives its name and '='.
TEST(Form, PiecesGiveTheWholeFormInAnyRoom) {
  const std::string escaped(40, '<');
  const ParamList list{{"transactionid", "7"},
                       {"mapdata", "a b"},
                       {"empty", ""},
                       {"message", escaped},
                       {"mapdata", "\xC3\xA9-x"}};
  const std::string expected =
      "transactionid=7&mapdata=a+b&empty=&message=" + test::url_encode(escaped) +
      "&mapdata=%C3%A9-x";
  ASSERT_EQ(http_form_length(list), expected.size());
  Text whole;
  http_append_form(list, http_form_length(list), whole);
  EXPECT_EQ(std::string(whole.data(), whole.size()), expected);
  for (std::size_t room : {3, 4, 5, 7, 13, 64, 4096}) {
    FormPieces form(list);
    std::string streamed;
    std::string piece(room, '\0');
    while (std::size_t n = form.write(piece.data(), room)) {
      ASSERT_LE(n, room);
      streamed.append(piece, 0, n);
    }
    EXPECT_TRUE(form.done());
    EXPECT_EQ(streamed, expected) << "room " << room;
  }
}

}  // namespace
}  // namespace zv
