// The inflater of a module built without zlib: every gzip file is refused
// when its reading starts.

#include "storage/gzip_inflater.h"

#include <string>
#include <utility>

#include "errors/database_exception.h"

struct GzipInflater::Stream {};

GzipInflater::GzipInflater(std::string fileName) : fileName_(std::move(fileName)) {
  throw DatabaseException("File %s is gzip-compressed, but this tabulon module was built without gzip support",
                          fileName_.c_str());
}

GzipInflater::~GzipInflater() = default;

size_t GzipInflater::inflate(const char*&, size_t&, char*, size_t) { return 0; }

void GzipInflater::finish() const {}
