#include <gtest/gtest.h>

#include <string>

#include "errors/database_exception.h"
#include "errors/string_format.h"

TEST(StringFormat, FormatsTextsAndNumbersWithoutCuttingLongArguments) {
  const unsigned short position = 65535;
  EXPECT_STREQ(DatabaseException("Unexpected token identified at pos %d: %s", position, "from").what(),
               "Unexpected token identified at pos 65535: from");
  const std::string token(10000, 'x');
  EXPECT_EQ(string_format("[%s]", token.c_str()), "[" + token + "]");
}
