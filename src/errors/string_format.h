#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

// Formats printf-style into a new string of exactly the needed length.
// Throws std::runtime_error("Error during formatting.") when the C library
// reports a formatting error. There is no length cap on the result.
template <typename... Args>
std::string string_format(const std::string& format, Args... args) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int size = std::snprintf(nullptr, 0, format.c_str(), args...) + 1;
  if (size <= 0) {
    throw std::runtime_error("Error during formatting.");
  }
  auto buffer = std::make_unique<char[]>(static_cast<size_t>(size));
  std::snprintf(buffer.get(), static_cast<size_t>(size), format.c_str(), args...);
#pragma GCC diagnostic pop
  return std::string(buffer.get(), buffer.get() + size - 1);
}
