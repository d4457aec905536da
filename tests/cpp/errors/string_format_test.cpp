#include <gtest/gtest.h>

#include <string>

#include "errors/database_exception.h"
#include "errors/string_format.h"

TEST(StringFormat, FormatsTextsAndNumbers) {
  EXPECT_EQ(string_format("Table %s does not contain column %s", "t", "c"),
            "Table t does not contain column c");
  EXPECT_EQ(string_format("Invalid token identified: %s", ""), "Invalid token identified: ");
  const unsigned short position = 65535;
  EXPECT_EQ(string_format("pos %d", position), "pos 65535");
}

TEST(StringFormat, LongArgumentsAreNotCut) {
  const std::string token(10000, 'x');
  EXPECT_EQ(string_format("[%s]", token.c_str()).size(), token.size() + 2);
}

TEST(DatabaseException, CarriesFormattedMessage) {
  try {
    throw DatabaseException("Unexpected token identified at pos %d: %s", 3, "from");
  } catch (const DatabaseException& e) {
    EXPECT_STREQ(e.what(), "Unexpected token identified at pos 3: from");
  }
  EXPECT_STREQ(DatabaseException("Empty SELECT statement").what(), "Empty SELECT statement");
}
