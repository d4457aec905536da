#pragma once

#include <cstdint>
#include <string>

// Process-wide tuning settings, shared by every database in the process. They
// start at their defaults and are changed only by readConfiguration(), which
// every Database constructor runs on ".tbconfig". Unsynchronised: written and
// read on the calling Python thread only.

// The most distinct values a column may have and still become a tree level.
extern uint16_t CONFIG_CATEGORY_THRESHOLD;
// Rows sampled between two cleanings of the candidate category maps, and the
// row count past which an unconfigured table is rebuilt as a tree.
extern uint32_t CONFIG_LINES_THRESHOLD;
// Threads a load converts rows on, the calling thread included (1 to 64); 1
// loads on the calling thread alone. Defaults to the processors the process
// may run on, at most 8.
extern uint16_t CONFIG_THREADS;

// The configuration file every Database reads from the working directory.
inline constexpr const char* CONFIG_FILE_NAME = ".tbconfig";

// Reads `fileName`, one "name=value" a line: "category.threshold",
// "lines.threshold" and "threads", each a base-10 number (blanks around it
// allowed) from the smallest to the largest its setting holds (0, or 1 for
// threads, to the largest its width holds, or 64 for threads); blanks around the name are ignored, and
// so are empty lines and lines whose first non-blank is "#". A file that
// cannot be opened changes nothing. Throws DatabaseException for a line
// without "=", a name that is no setting, an empty value, or a value that
// is not a number or does not fit its setting; the settings then stay as
// they were.
void readConfiguration(const std::string& fileName);
