#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "storage/buffer.h"

// A run of whole records of a CSV file on its way from the thread that cuts
// the file, through a thread that converts the records, to the thread that
// loads the rows: first the records' text, then the rows converted from it
// in the stored row layout. A batch belongs to one thread at a time;
// BatchWindow hands it on.
struct RowBatch {
  // Empties the batch for reuse, keeping its memory.
  void clear() {
    textBytes = 0;
    linesBefore = 0;
    rows.clear();
    rowEnds.clear();
    rowLines.clear();
    textSizes.clear();
    failure = nullptr;
  }

  Buffer text;                     // the records' text
  size_t textBytes = 0;            // bytes of text in `text`
  uint64_t linesBefore = 0;        // lines of the file before the records
  std::vector<char> rows;          // the converted rows, one after another
  std::vector<size_t> rowEnds;     // row -> offset in `rows` just past it
  std::vector<uint64_t> rowLines;  // row -> line its record starts on
  // The bytes of each row's texts, their NULs included: a row's texts
  // in column order, one row after another.
  std::vector<uint32_t> textSizes;
  std::exception_ptr failure;      // raised once the rows before it are loaded
};
