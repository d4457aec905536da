// Reading .tbconfig into the process-wide settings: no file keeps the defaults;
// a bad line stops there, the lines before it applied.

#include "catalogue/config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "errors/database_exception.h"

uint16_t CONFIG_CATEGORY_THRESHOLD = 40000;
uint32_t CONFIG_LINES_THRESHOLD = 10000;

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// Applies one line of the file, already cut at its newline.
void applyLine(char* line) {
  char* const equals = std::strchr(line, '=');
  if (equals == nullptr) {
    throw DatabaseException("Invalid .tbconfig file format on line %s. Expected format 'parameter=value'",
                            line);
  }
  *equals = '\0';
  const std::string name(line);
  const char* const value = equals + 1;
  if (*value == '\0') throw DatabaseException("Parameter %s value is empty", name.c_str());
  if (name == "category.threshold") {
    CONFIG_CATEGORY_THRESHOLD = static_cast<uint16_t>(std::strtol(value, nullptr, 10));
  } else if (name == "lines.threshold") {
    CONFIG_LINES_THRESHOLD = static_cast<uint32_t>(std::strtol(value, nullptr, 10));
  }
}

}  // namespace

void readConfiguration(const std::string& fileName) {
  const std::unique_ptr<FILE, FileCloser> file(std::fopen(fileName.c_str(), "r"));
  if (file == nullptr) return;
  char line[256];
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    // The line end is a line feed or a carriage return and a line feed.
    line[std::strcspn(line, "\n")] = '\0';
    const size_t length = std::strlen(line);
    if (length != 0 && line[length - 1] == '\r') line[length - 1] = '\0';
    applyLine(line);
  }
}
