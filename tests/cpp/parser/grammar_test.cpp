#include <gtest/gtest.h>

#include <string>

#include "errors/database_exception.h"
#include "parser/create_parser.h"
#include "parser/drop_parser.h"
#include "parser/grammar_elements.h"
#include "parser/load_parser.h"
#include "parser/select_parser.h"

namespace {

std::string failure(ParserStruct& grammar, const TokenList& tokens) {
  try {
    grammar.run(tokens);
  } catch (const DatabaseException& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Grammar, DropAndLoad) {
  DropParser drop;
  EXPECT_EQ(drop.run({"DROP", "Table", "Sales"}), 3);
  EXPECT_EQ(drop.tableName->value, "Sales");
  EXPECT_EQ(failure(drop, {"drop", "t"}), "Unexpected token identified at pos 1: t");
  EXPECT_EQ(drop.run({"drop", "table"}), 2);
  EXPECT_EQ(drop.tableName->value, "");  // never the name of the earlier statement

  LoadParser load;
  EXPECT_EQ(load.run({"load", "t", "from", "data.csv", "extra"}), 4);
  EXPECT_EQ(load.tableName->value, "t");
  EXPECT_EQ(load.fileName->value, "data.csv");
  EXPECT_EQ(failure(load, {"load", "t", "into", "data.csv"}),
            "Unexpected token identified at pos 2: into");
}

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

TEST(Grammar, CreateCatWithoutNumber) {
  CreateParser create;
  // ")" is taken as the category number; the command then ends.
  EXPECT_EQ(create.run({"create", "table", "t", "(", "a", "int", "cat", ")"}), 8);
  EXPECT_EQ(elementText(*create.columnList->elements[0], CREATE_COL_CAT_NUMBER), ")");
  EXPECT_FALSE(create.closeBracket->matched);
  EXPECT_EQ(failure(create, {"create", "table", "t", "(", "a", "int", "cat", ")", "config"}),
            "Unexpected token identified at pos 8: config");
  EXPECT_EQ(failure(create, {"create", "table", "t", "(", "a", "int", ")", "config", "into"}),
            "Unexpected token identified at pos 8: into");
  EXPECT_EQ(create.run({"create", "table", "t", "(", "a", "int", ")", "config"}), 8);
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

TEST(Grammar, SelectResetBetweenRuns) {
  SelectParser select;
  select.run({"select", "a", "from", "t", "join", "b", "on", "x", "=", "y", "where", "a", "=", "1",
              "order", "by", "a"});
  EXPECT_EQ(select.run({"select", "a", "from", "t"}), 4);
  EXPECT_TRUE(select.joinList->elements.empty());
  EXPECT_TRUE(select.conditionList->elements.empty());
  EXPECT_TRUE(select.conditionList->separatorsFound.empty());
  EXPECT_TRUE(select.sortList->elements.empty());
  EXPECT_FALSE(select.where->matched);
  EXPECT_FALSE(select.order->matched);

  // The run stops as soon as the tokens are used up: the table name is empty.
  EXPECT_EQ(select.run({"select", "a", "from"}), 3);
  EXPECT_EQ(select.tableName->value, "");
}

TEST(Grammar, SelectEndsWhereTheGrammarEnds) {
  SelectParser select;
  // Capitalised connectors end the condition list.
  EXPECT_EQ(select.run({"select", "a", "from", "t", "where", "a", "=", "1", "AND", "b", "=", "2"}), 8);
  // A word after a sort column that is neither "desc" nor "," ends the list.
  EXPECT_EQ(select.run({"select", "a", "from", "t", "order", "by", "a", "asc"}), 7);
  // Two joins parse; refusing them is left to the executor.
  EXPECT_EQ(select.run({"select", "a", "from", "t", "join", "b", "on", "x", "=", "y", "join", "c",
                        "on", "x", "=", "z"}),
            16);
  EXPECT_EQ(select.joinList->elements.size(), 2u);
  EXPECT_EQ(failure(select, {"select", "a", "from", "t", "order", "a"}),
            "Unexpected token identified at pos 5: a");
  EXPECT_EQ(failure(select, {"select", "from", "t"}), "Unexpected token identified at pos 2: t");
}
