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

// The configuration file every Database reads from the working directory.
inline constexpr const char* CONFIG_FILE_NAME = ".tbconfig";

// Reads `fileName` line by line (lines longer than 255 bytes arrive in
// pieces), each line "name=value": "category.threshold" and
// "lines.threshold" set the settings from the value parsed like strtol base
// 10 and truncated to the setting's width; other names are ignored. A file
// that cannot be opened changes nothing. Throws DatabaseException for a line
// without "=" or with an empty value; lines before it keep their effect.
void readConfiguration(const std::string& fileName);
