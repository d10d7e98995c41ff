#include "transport/form.h"

#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv {
namespace {

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
