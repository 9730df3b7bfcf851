#include "results/user_data.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "results/user_entry.h"
#include "results/user_obj.h"
#include "tests/unit/support/user_records.h"

namespace wendrel {
namespace {

using testing::RecordOf;

// Construction trims the name and the tree; inner blanks stay, a
// non-breaking space is not white space here, and a multibyte UTF-8
// character at either end stays whole.
TEST(UserDataTest, ConstructionTrimsAndTheCursorWalksInInsertionOrder) {
  UserData trimmed(" \t jsmith\r\n", "\v ACME \f");
  EXPECT_EQ((testing::Collection{"ACME", "", {}}), testing::CollectionOf(trimmed));
  EXPECT_EQ((std::vector<std::string>{"jsmith", "", "a b", "\xA0x\xA0", "\xC3\xA9t\xC3\xA9"}),
            (std::vector<std::string>{trimmed.GetLoginName(), UserData("   ", "").GetLoginName(),
                                      TrimWhiteSpace(" a b "), TrimWhiteSpace("\xA0x\xA0"),
                                      TrimWhiteSpace("\t\xC3\xA9t\xC3\xA9 ")}));

  UserData data("x", "T");
  EXPECT_EQ(nullptr, data.GetNextUser());   // no iteration yet
  EXPECT_EQ(nullptr, data.GetFirstUser());  // empty
  EXPECT_EQ(nullptr, data.GetNextUser());

  UserObj& a = data.AddUser("a", "cn=a", "", "");
  UserObj& b = data.AddUser("b", "cn=b", "", "");
  EXPECT_EQ(nullptr, data.GetNextUser());  // adding does not start an iteration
  EXPECT_EQ(&a, data.GetFirstUser());
  UserObj& c = data.AddUser("c", "cn=c", "", "");  // adding does not move the cursor
  EXPECT_EQ(&b, data.GetNextUser());
  EXPECT_EQ(&c, data.GetNextUser());
  EXPECT_EQ(nullptr, data.GetNextUser());
  EXPECT_EQ(nullptr, data.GetNextUser());  // stays ended
  EXPECT_EQ(&a, data.GetFirstUser());      // starts again
  EXPECT_EQ(&b, data.GetNextUser());
}

TEST(UserEntryTest, DnPiecesBecomeTheFourNames) {
  UserData data("jsmith", "ACME");
  UserObj& user = AddEntryToUserData(&data, {"cn=jsmith", "ou=sales", "o=acme"},
                                     {"jsmith", "sales", "acme"},
                                     {{"mail", {"j@acme.example", "second@acme.example"}},
                                      {"fullName", {}},
                                      {"Surname", {"Smith"}}});
  // The first value only; an attribute that came without values is absent.
  EXPECT_EQ(testing::UserRecord("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme",
                                {{"mail", "j@acme.example"}, {"Surname", "Smith"}}),
            RecordOf(user));
  EXPECT_EQ(testing::UserRecord("acme", "o=acme", "", ""),
            RecordOf(AddEntryToUserData(&data, {"o=acme"}, {"acme"}, {})));
  EXPECT_EQ(testing::UserRecord("", "", "", ""), RecordOf(AddEntryToUserData(&data, {}, {}, {})));
  EXPECT_EQ(3, data.GetUserCount());
}

// Each piece and attribute is cut on its own (the conversion itself is the
// code page's, tested with it), so a context of long pieces is longer.
TEST(UserEntryTest, DirectoryTextIsCutPerPiece) {
  const std::string ou(300, 'o');
  UserData data("n", "T");
  UserObj& user =
      AddEntryToUserData(&data, {"cn=" + ou, "ou=" + ou, "o=x"}, {ou, ou, "x"},
                         {{"description", {std::string(400, 'd')}}});
  const std::string o257(257, 'o');
  EXPECT_EQ(testing::UserRecord(std::string(260, 'o'), "cn=" + o257, std::string(260, 'o') + ".x",
                                "ou=" + o257 + ".o=x", {{"description", std::string(260, 'd')}}),
            RecordOf(user));
}

}  // namespace
}  // namespace wendrel
