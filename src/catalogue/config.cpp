// Reading .tbconfig into the process-wide settings: no file keeps the
// defaults; a file with a bad line changes nothing.

#include "catalogue/config.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <sched.h>

#include "errors/database_exception.h"

uint16_t CONFIG_CATEGORY_THRESHOLD = 40000;
uint32_t CONFIG_LINES_THRESHOLD = 10000;

namespace {

// Most threads a load uses by default, however many processors there are.
constexpr int kDefaultThreadsMax = 8;

// The processors this process may run on, at most kDefaultThreadsMax; 1
// when the system does not say.
uint16_t defaultThreads() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0) return 1;
  return static_cast<uint16_t>(std::clamp(CPU_COUNT(&allowed), 1, kDefaultThreadsMax));
}

}  // namespace

uint16_t CONFIG_THREADS = defaultThreads();

namespace {

// One setting the file can hold: its name and its smallest and largest
// values.
struct Setting {
  const char* name;
  uint64_t min;
  uint64_t max;
};

constexpr Setting kSettings[] = {
    {"category.threshold", 0, std::numeric_limits<uint16_t>::max()},
    {"lines.threshold", 0, std::numeric_limits<uint32_t>::max()},
    {"threads", 1, 64},
};

const char* const kSettingNames = "category.threshold, lines.threshold, threads";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& text) {
  size_t first = 0;
  size_t end = text.size();
  while (first < end && isBlank(text[first])) ++first;
  while (end > first && isBlank(text[end - 1])) --end;
  return text.substr(first, end - first);
}

const Setting& settingNamed(const std::string& name) {
  for (const Setting& setting : kSettings) {
    if (name == setting.name) return setting;
  }
  throw DatabaseException("Unknown .tbconfig parameter %s. The parameters are %s", name.c_str(), kSettingNames);
}

// The value of `setting` written as `text`: blanks around a base-10 number
// are skipped; anything else, or a number outside the setting's range, is
// refused.
uint64_t settingValue(const Setting& setting, const std::string& text) {
  const std::string value = trimmed(text);
  const char* const end = value.data() + value.size();
  int64_t number = 0;
  const auto [stop, failure] = std::from_chars(value.data(), end, number);
  const bool tooLarge = failure == std::errc::result_out_of_range;
  if ((failure != std::errc() && !tooLarge) || stop != end) {
    throw DatabaseException("Parameter %s value %s is not a number", setting.name, value.c_str());
  }
  if (tooLarge || number < 0 || static_cast<uint64_t>(number) < setting.min ||
      static_cast<uint64_t>(number) > setting.max) {
    throw DatabaseException("Parameter %s value %s is outside the range %llu to %llu", setting.name, value.c_str(),
                            static_cast<unsigned long long>(setting.min), static_cast<unsigned long long>(setting.max));
  }
  return static_cast<uint64_t>(number);
}

// Reads one line of the file into `values` (indexed like kSettings); blank
// lines and comments change nothing.
void readLine(const std::string& line, uint64_t* values) {
  const std::string content = trimmed(line);
  if (content.empty() || content[0] == '#') return;
  const size_t equals = line.find('=');
  if (equals == std::string::npos || trimmed(line.substr(0, equals)).empty()) {
    throw DatabaseException("Invalid .tbconfig file format on line %s. Expected format 'parameter=value'",
                            line.c_str());
  }
  const std::string name = trimmed(line.substr(0, equals));
  const std::string value = line.substr(equals + 1);
  if (trimmed(value).empty()) throw DatabaseException("Parameter %s value is empty", name.c_str());
  const Setting& setting = settingNamed(name);
  values[&setting - kSettings] = settingValue(setting, value);
}

}  // namespace

void readConfiguration(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file.is_open()) return;
  uint64_t values[] = {CONFIG_CATEGORY_THRESHOLD, CONFIG_LINES_THRESHOLD, CONFIG_THREADS};
  std::string line;
  while (std::getline(file, line)) {
    // The line end is a line feed or a carriage return and a line feed.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    readLine(line, values);
  }
  CONFIG_CATEGORY_THRESHOLD = static_cast<uint16_t>(values[0]);
  CONFIG_LINES_THRESHOLD = static_cast<uint32_t>(values[1]);
  CONFIG_THREADS = static_cast<uint16_t>(values[2]);
}
