#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "storage/batch_window.h"
#include "storage/csv_reader.h"
#include "storage/data_iterator.h"
#include "storage/data_type.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"
#include "storage/record_cutter.h"

// Reads a CSV file as CSVReader does, with the reading, splitting and
// converting done ahead on other threads: one thread cuts the file into
// batches of whole records (RecordCutter), `converters` threads convert
// each batch's records with a CSVReader of their own into rows of the
// stored row layout, and the calling thread takes the rows in file order,
// converting a batch itself whenever its next one is not ready.
// Rows, their line numbers and every message are those CSVReader gives; a
// failure on any thread is raised on the calling thread when the rows
// before it have been taken, as a single reader would raise it. At most a
// few batches are in flight, whatever the file size.
//
// The threads touch nothing but the file and their batches. Waiting for
// the next batch checks for an interrupt on the calling thread every few
// milliseconds. The destructor stops and joins every thread, also after a
// failure; the object must not outlive the command that reads.
class ParallelCSVReader : public DataIterator {
 public:
  // Opens `fileName` as CSVReader::init does (and throws as it does for a
  // file that cannot be opened or a separator it refuses); `names` name the
  // columns in messages; `converters` is at least 1.
  ParallelCSVReader(const std::string& fileName, const std::vector<DATA_TYPE>& types, char separator,
                    const std::vector<unsigned char>& nullable, const std::vector<std::string>& names,
                    unsigned converters);
  ~ParallelCSVReader();
  ParallelCSVReader(const ParallelCSVReader&) = delete;
  ParallelCSVReader& operator=(const ParallelCSVReader&) = delete;

  // Moves to the next row; false after the last. Throws what CSVReader's
  // nextRow would throw for the same record, and what reading the file
  // throws; Interrupted when a wait is interrupted.
  bool nextRow() override;
  // The stored value of column `col` in the current row; null for a NULL.
  void* getPointer(unsigned short col) override { return rowView_.getPointer(col); }
  // The current row, every value converted.
  NodeIterator& getFixedView() { return rowView_; }
  // The texts of the current row, as CSVReader::getTexts hands them.
  void getTexts(const char** texts, size_t* bytes) const;
  // ", line N of FILE" for the first line of the current row.
  std::string where() const;

 private:
  // Thread bodies.
  void cutFile();
  void convert(CSVReader& reader);
  // A reader that converts batches' records of the file.
  std::unique_ptr<CSVReader> makeReader(const std::vector<DATA_TYPE>& types, char separator,
                                        const std::vector<unsigned char>& nullable,
                                        const std::vector<std::string>& names) const;
  // Converts the records of `batch` into its rows; a failure stops the
  // batch at its record and is kept in the batch.
  static void convertBatch(CSVReader& reader, RowBatch& batch);
  // Grows the fixed values and texts of `batch` to hold `rows` rows.
  static void makeRoom(RowBatch& batch, size_t rows, size_t fixedWidth, size_t textColumns);
  // Points the row view at row row_ of batch_.
  void viewRow();
  // Takes the next batch that holds rows; false after the last. Raises the
  // failure of the batch it leaves.
  bool nextBatch();
  // Takes the next batch in file order into batch_, converting the batches
  // the window hands over meanwhile; false after the last.
  bool takeBatch();
  // Stops the threads and waits for them to end.
  void stop();

  std::string fileName_;
  NodeConfig config_;                             // layout of the rows
  unsigned short textColumns_ = 0;
  RecordCutter cutter_;                           // used by the cutting thread only
  std::vector<std::unique_ptr<CSVReader>> readers_;  // one per converting thread
  std::unique_ptr<CSVReader> ownReader_;          // converts batches on the calling thread
  BatchWindow window_;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> threads_;
  std::unique_ptr<RowBatch> batch_;               // the batch of the current row
  size_t row_ = 0;                                // the current row in batch_
  NodeIterator rowView_;
};
