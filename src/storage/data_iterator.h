#pragma once

// A row source: a cursor that moves to the next row and hands out a pointer
// to any column's value in its stored form, nullptr for a NULL.
// Implementations decide whether the first row is current on creation; the
// pointer is valid until the next call of nextRow().
class DataIterator {
 public:
  virtual bool nextRow() = 0;
  virtual void* getPointer(unsigned short column) = 0;

 protected:
  ~DataIterator() = default;
};
