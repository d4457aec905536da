#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "storage/buffer.h"

// A run of whole records of a CSV file on its way from the thread that cuts
// the file, through a thread that converts the records, to the thread that
// loads the rows: first the records' text, then the rows converted from it,
// as a RowBlock reads them. The rows' texts stay where the records hold
// them, in `text`. A batch belongs to one thread at a time; BatchWindow
// hands it on.
struct RowBatch {
  // A text of a row: where it lies in `text`, NUL-ended, and its length + 1.
  struct Text {
    const char* text;
    size_t bytes;
  };

  // Empties the batch for reuse, keeping its memory and the room of its
  // row vectors.
  void clear() {
    textBytes = 0;
    linesBefore = 0;
    rowLines.clear();
    failure = nullptr;
  }

  // Rows converted.
  size_t rows() const { return rowLines.size(); }

  Buffer text;                     // the records' text
  size_t textBytes = 0;            // bytes of text in `text`
  uint64_t linesBefore = 0;        // lines of the file before the records
  // The rows' fixed-width values, one row after another in the layout of
  // the converting reader (every column plain). This and `texts` below
  // hold `room` rows, of which the first rows() are converted.
  std::vector<char> fixed;
  // Each row's texts in column order, one row after another.
  std::vector<Text> texts;
  std::vector<uint64_t> rowLines;  // row -> line its record starts on
  size_t room = 0;                 // rows that `fixed` and `texts` have room for
  std::exception_ptr failure;      // raised once the rows before it are loaded
};
