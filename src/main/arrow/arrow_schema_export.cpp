#include "main/arrow/arrow_schema_export.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "errors/database_exception.h"
#include "main/arrow/arrow_export.h"
#include "main/arrow/utf8.h"

namespace arrow_export {

namespace {

std::string repaired(const std::string& text) {
  if (utf8::valid(text.data(), text.size())) return text;
  std::string out(utf8::repairedSize(text.data(), text.size()), '\0');
  utf8::repair(text.data(), text.size(), out.data());
  return out;
}

// Makes the names unique, as data frame libraries need them: every repeat
// of a name after its first gets the first suffix "_1", "_2", ... that
// gives a name no other column has or gets.
void makeUnique(std::vector<Column>& columns) {
  std::unordered_set<std::string> taken;
  for (const Column& column : columns) taken.insert(column.name);
  std::unordered_set<std::string> seen;
  std::unordered_map<std::string, size_t> nextSuffix;
  for (Column& column : columns) {
    if (seen.insert(column.name).second) continue;
    size_t& suffix = nextSuffix[column.name];
    std::string unique;
    do {
      unique = column.name + "_" + std::to_string(++suffix);
    } while (!taken.insert(unique).second);
    column.name = std::move(unique);
  }
}

const char* formatOf(DATA_TYPE type) {
  switch (type) {
    case LONG:
      return "l";
    case INT:
      return "i";
    case SHORT:
      return "s";
    case DOUBLE:
      return "g";
    case FLOAT:
      return "f";
    case STRING:
      return "u";
    case BOOL:
      return "b";
    case DATE:
      return "tdD";
  }
  throw DatabaseException("Unknown data type provided");
}

// What a field's schema owns: its name.
struct FieldData {
  std::string name;
};

void releaseField(ArrowSchema* schema) {
  delete static_cast<FieldData*>(schema->private_data);
  schema->release = nullptr;
}

// What the struct's schema owns: its fields, each released on its own
// unless a consumer moved it out (and so cleared its release).
struct StructSchemaData {
  std::vector<ArrowSchema> fields;
  std::vector<ArrowSchema*> pointers;
};

void releaseStructSchema(ArrowSchema* schema) {
  auto* data = static_cast<StructSchemaData*>(schema->private_data);
  for (ArrowSchema& field : data->fields) {
    if (field.release != nullptr) field.release(&field);
  }
  delete data;
  schema->release = nullptr;
}

}  // namespace

std::vector<Column> columnsOf(const QuerySet& cursor) {
  std::vector<Column> columns;
  if (cursor.empty()) return columns;
  const unsigned short count = cursor.getNumberOfCols();
  // The header joins the names with NUL, which no name can hold.
  const std::string header = cursor.getHeader(std::string(1, '\0'));
  size_t start = 0;
  for (unsigned short col = 0; col < count; ++col) {
    size_t end = header.find('\0', std::min(start, header.size()));
    if (end == std::string::npos) end = header.size();
    const std::string name = start < end ? header.substr(start, end - start) : std::string();
    columns.push_back(Column{repaired(name), cursor.getColumnType(col), cursor.mayBeNull(col)});
    start = end + 1;
  }
  makeUnique(columns);
  return columns;
}

void fillSchema(const std::vector<Column>& columns, ArrowSchema* out) {
  auto data = std::make_unique<StructSchemaData>();
  data->fields.resize(columns.size());
  data->pointers.resize(columns.size());
  std::vector<std::unique_ptr<FieldData>> names;
  names.reserve(columns.size());
  for (const Column& column : columns) {
    formatOf(column.type);  // refuses an unknown type before anything is handed out
    names.push_back(std::make_unique<FieldData>(FieldData{column.name}));
  }
  // Nothing below throws.
  for (size_t k = 0; k < columns.size(); ++k) {
    ArrowSchema& field = data->fields[k];
    field.format = formatOf(columns[k].type);
    field.name = names[k]->name.c_str();
    field.metadata = nullptr;
    field.flags = ARROW_FLAG_NULLABLE;
    field.n_children = 0;
    field.children = nullptr;
    field.dictionary = nullptr;
    field.release = &releaseField;
    field.private_data = names[k].release();
    data->pointers[k] = &field;
  }
  out->format = "+s";
  out->name = "";
  out->metadata = nullptr;
  out->flags = 0;
  out->n_children = static_cast<int64_t>(columns.size());
  out->children = data->pointers.data();
  out->dictionary = nullptr;
  out->release = &releaseStructSchema;
  out->private_data = data.release();
}

void exportSchema(const QuerySet& cursor, ArrowSchema* out) { fillSchema(columnsOf(cursor), out); }

}  // namespace arrow_export
