#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../test_support.h"
#include "catalogue/database_schema.h"
#include "errors/database_exception.h"

namespace {

using test_support::messageOf;

std::vector<ColumnConfig> columns(std::initializer_list<const char*> names) {
  std::vector<ColumnConfig> result;
  for (const char* name : names) result.push_back({name, NO_CATEGORY, INT});
  return result;
}

}  // namespace

TEST(DatabaseSchema, RefusesWhatWouldCorruptTheCatalogue) {
  DatabaseSchema schema;
  schema.addTable("t", columns({"a"}));
  EXPECT_EQ(messageOf([&] { schema.addTable("t", columns({"b"})); }), "Table t already exists");
  EXPECT_EQ(schema.getNumberOfColumns("t"), 1);
  EXPECT_FALSE(schema.containsColumn("b"));

  EXPECT_EQ(messageOf([&] { schema.getTableName(1); }), "Table number 1 is not defined");
  EXPECT_EQ(messageOf([&] { schema.getColName(0, 1); }), "Column number 1 is not defined for table t");

  const std::vector<ColumnConfig> tooWide(65536, ColumnConfig{"c", NO_CATEGORY, INT});
  EXPECT_EQ(messageOf([&] { schema.addTable("wide", tooWide); }),
            "Unable to add table wide: a table has at most 65535 columns");
  EXPECT_EQ(schema.getNumberOfTables(), 1);
}

TEST(DatabaseSchema, ManyColumnsStayFindable) {
  DatabaseSchema schema;
  std::vector<ColumnConfig> many;
  for (int i = 999; i >= 0; --i) many.push_back({"c" + std::to_string(i), NO_CATEGORY, INT});
  schema.addTable("t", many);
  schema.addTable("u", columns({"c500"}));
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(schema.findColumn("t", "c" + std::to_string(i)),
              (std::vector<TableCol>{{0, static_cast<unsigned short>(999 - i)}}));
  }
  EXPECT_EQ(schema.findAllByColumnName("c500"), (std::vector<TableCol>{{0, 499}, {1, 0}}));
}

TEST(DatabaseSchema, RemovingATableRenumbersTheLaterOnes) {
  DatabaseSchema schema;
  for (const char* name : {"t0", "t1", "t2", "t3"}) schema.addTable(name, columns({"id", name}));
  schema.removeTable("t1");
  schema.removeTable("unknown");
  EXPECT_EQ(schema.getNumberOfTables(), 3);
  EXPECT_EQ(schema.getTableNumber("t3"), 2);
  EXPECT_EQ(schema.findAllByColumnName("id"), (std::vector<TableCol>{{0, 0}, {1, 0}, {2, 0}}));
  EXPECT_FALSE(schema.containsColumn("t1"));
  EXPECT_EQ(schema.findColumn("t3", "t3"), (std::vector<TableCol>{{2, 1}}));
  schema.addTable("t1", columns({"t1", "id"}));
  EXPECT_EQ(schema.findAllByColumnName("id").back(), (TableCol{3, 1}));
}
