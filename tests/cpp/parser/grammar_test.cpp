#include <gtest/gtest.h>

#include <string>

#include "parser/create_parser.h"
#include "parser/drop_parser.h"
#include "parser/grammar_elements.h"
#include "parser/load_parser.h"
#include "parser/select_parser.h"

TEST(Grammar, CreateWithAndWithoutConfig) {
  CreateParser create;
  const TokenList full{"create", "table", "t", "(", "a", "INT", ",", "b", "string", "cat",
                       "40", ")", "CONFIG", "FROM", "data.csv"};
  EXPECT_EQ(create.run(full), full.size());
  EXPECT_EQ(create.tableName->value, "t");
  ASSERT_EQ(create.columnList->elements.size(), 2u);
  Parser& b = *create.columnList->elements[1];
  EXPECT_EQ(elementText(b, CREATE_COL_NAME), "b");
  EXPECT_EQ(elementText(b, CREATE_COL_TYPE), "string");
  EXPECT_TRUE(elementMatched(b, CREATE_COL_CAT));
  EXPECT_EQ(elementText(b, CREATE_COL_CAT_NUMBER), "40");
  EXPECT_FALSE(elementMatched(*create.columnList->elements[0], CREATE_COL_CAT));
  EXPECT_TRUE(create.config->matched && create.from->matched);
  EXPECT_EQ(create.fileName->value, "data.csv");

  // "from" without "config" is skipped with the file name: the run stops at it.
  EXPECT_EQ(create.run({"create", "table", "t", "(", "a", "int", ")", "from", "data.csv"}), 7);
  EXPECT_FALSE(create.config->matched);
  EXPECT_FALSE(create.from->matched);
  EXPECT_EQ(create.fileName->value, "");
  EXPECT_EQ(create.columnList->elements.size(), 1u);
}

TEST(Grammar, SelectWithEveryClause) {
  SelectParser select;
  const TokenList tokens{"SELECT", "region", ",", "amount", "FROM", "sales", "join", "c", "on",
                         "x", "=", "y", "WHERE", "(", "amount", ">", "100", "or", "region",
                         "=", "North West", ")", "and", "id", "!=", "7", "order", "BY",
                         "amount", "desc", ",", "id"};
  EXPECT_EQ(select.run(tokens), tokens.size());
  EXPECT_EQ(select.columnList->elements.size(), 2u);
  EXPECT_EQ(select.tableName->value, "sales");
  ASSERT_EQ(select.joinList->elements.size(), 1u);
  EXPECT_EQ(elementText(*select.joinList->elements[0], JOIN_FIRST_COLUMN), "x");
  ASSERT_EQ(select.conditionList->elements.size(), 3u);
  EXPECT_EQ(select.conditionList->separatorsFound, (std::vector<std::string>{"or", "and"}));
  EXPECT_EQ(elementText(*select.conditionList->elements[1], COND_VALUE), "North West");
  ASSERT_EQ(select.sortList->elements.size(), 2u);
  EXPECT_TRUE(elementMatched(*select.sortList->elements[0], SORT_DESC));
  EXPECT_FALSE(elementMatched(*select.sortList->elements[1], SORT_DESC));
}

