// Identifiers typed as words: registration numbers, and both forms of an ISBN meeting in one key.
#include "catalogue/identifier.h"

#include <gtest/gtest.h>

namespace shelfra {
namespace {

TEST(IdentifierTest, IsbnFormsOfOneBookShareTheirKey) {
  struct Case {
    std::string text;
    bool isbn;
    std::string key;
  } cases[] = {
      {"4-10-101001-3", true, "9784101010014"},  // a valid ISBN-10 becomes its ISBN-13
      {"4101010013", true, "9784101010014"},
      {"978-4-10-101001-4", true, "9784101010014"},
      {"4-87311-336-9", true, "9784873113364"},
      {"4-10-101001-4", true, "4101010014"},  // a wrong check digit keeps the digits
      {"0-8044-2957-x", true, "9780804429573"},  // "x" is "X", the check value 10
      {"X306406152", false, "X306406152"},
      {"978 4 06 123456 7", true, "9784061234567"},
      {"97840612345", false, "97840612345"},
      {"ねこ", false, "ねこ"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsIsbnWord(c.text), c.isbn) << c.text;
    EXPECT_EQ(IsbnKey(c.text), c.key) << c.text;
  }
  EXPECT_EQ(RegistrationNumberWord("000123"), 123);
  EXPECT_EQ(RegistrationNumberWord("999999999"), 999999999);
  EXPECT_EQ(RegistrationNumberWord("2000000001"), 2000000001);  // ten digits, as the field holds
  EXPECT_EQ(RegistrationNumberWord("2147483647"), 2147483647);
  for (const char* text : {"", "2147483648", "0000000000001", "12a", "-1", "１２"}) {
    EXPECT_EQ(RegistrationNumberWord(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace shelfra
