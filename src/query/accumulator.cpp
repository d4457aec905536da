// The accumulators of count, sum, avg, min and max, one class template per
// kind over the storage type of the values.

#include "query/accumulator.h"

#include <cmath>
#include <type_traits>
#include <utility>
#include <vector>

#include "errors/database_exception.h"

namespace {

template <typename T>
T load(const void* value) {
  T x;
  std::memcpy(&x, value, sizeof x);
  return x;
}

class Counter : public Accumulator {
 public:
  void addGroup() override { counts_.push_back(0); }
  void add(uint32_t group, const void*) override { ++counts_[group]; }
  void addPacked(uint32_t group, const char*, size_t, size_t count) override {
    counts_[group] += static_cast<int64_t>(count);
  }
  void write(uint32_t group, ValueColumn& out) const override { out.append(&counts_[group]); }

 private:
  std::vector<int64_t> counts_;
};

// The sum of integers of type T, refused beyond the range of a LONG.
template <typename T>
class IntegerSum : public Accumulator {
 public:
  explicit IntegerSum(std::string text) : text_(std::move(text)) {}

  void addGroup() override {
    sums_.push_back(0);
    seen_.push_back(false);
  }
  void add(uint32_t group, const void* value) override {
    if (__builtin_add_overflow(sums_[group], static_cast<int64_t>(load<T>(value)), &sums_[group])) {
      throw DatabaseException("The sum %s is beyond the range of a long", text_.c_str());
    }
    seen_[group] = true;
  }
  void addPacked(uint32_t group, const char* values, size_t width, size_t count) override {
    int64_t sum = sums_[group];
    for (size_t i = 0; i < count; ++i) {
      if (__builtin_add_overflow(sum, static_cast<int64_t>(load<T>(values + i * width)), &sum)) {
        throw DatabaseException("The sum %s is beyond the range of a long", text_.c_str());
      }
    }
    sums_[group] = sum;
    seen_[group] = seen_[group] || count != 0;
  }
  void write(uint32_t group, ValueColumn& out) const override {
    out.append(seen_[group] ? &sums_[group] : nullptr);
  }

 private:
  const std::string text_;
  std::vector<int64_t> sums_;
  std::vector<bool> seen_;
};

// A sum of floating-point numbers, compensated so that the rounding of
// each addition is carried to the next rather than lost (Neumaier).
class CompensatedSum {
 public:
  void add(double x) {
    const double t = sum_ + x;
    compensation_ += std::abs(sum_) >= std::abs(x) ? (sum_ - t) + x : (x - t) + sum_;
    sum_ = t;
  }
  double value() const {
    // An infinite or NaN sum has no rounding left to carry.
    return std::isfinite(sum_) ? sum_ + compensation_ : sum_;
  }

 private:
  double sum_ = 0;
  double compensation_ = 0;
};

// sum and avg of floating-point values of type T.
template <typename T>
class FloatingSum : public Accumulator {
 public:
  explicit FloatingSum(bool average) : average_(average) {}

  void addGroup() override {
    sums_.emplace_back();
    counts_.push_back(0);
  }
  void add(uint32_t group, const void* value) override {
    sums_[group].add(static_cast<double>(load<T>(value)));
    ++counts_[group];
  }
  void addPacked(uint32_t group, const char* values, size_t width, size_t count) override {
    CompensatedSum sum = sums_[group];
    for (size_t i = 0; i < count; ++i) sum.add(static_cast<double>(load<T>(values + i * width)));
    sums_[group] = sum;
    counts_[group] += static_cast<int64_t>(count);
  }
  void write(uint32_t group, ValueColumn& out) const override {
    if (counts_[group] == 0) return out.append(nullptr);
    const double sum = sums_[group].value();
    const double answer = average_ ? sum / static_cast<double>(counts_[group]) : sum;
    out.append(&answer);
  }

 private:
  const bool average_;
  std::vector<CompensatedSum> sums_;
  std::vector<int64_t> counts_;
};

// avg of integers of type T: their sum is kept exact in 128 bits.
template <typename T>
class IntegerAverage : public Accumulator {
 public:
  void addGroup() override {
    sums_.push_back(0);
    counts_.push_back(0);
  }
  void add(uint32_t group, const void* value) override {
    sums_[group] += load<T>(value);
    ++counts_[group];
  }
  void addPacked(uint32_t group, const char* values, size_t width, size_t count) override {
    __int128 sum = sums_[group];
    for (size_t i = 0; i < count; ++i) sum += load<T>(values + i * width);
    sums_[group] = sum;
    counts_[group] += static_cast<int64_t>(count);
  }
  void write(uint32_t group, ValueColumn& out) const override {
    if (counts_[group] == 0) return out.append(nullptr);
    const auto answer =
        static_cast<double>(static_cast<long double>(sums_[group]) / static_cast<long double>(counts_[group]));
    out.append(&answer);
  }

 private:
  std::vector<__int128> sums_;
  std::vector<int64_t> counts_;
};

// min (or max when `kMax`) of values of type T in the order of ValueLess.
template <typename T, bool kMax>
class Extreme : public Accumulator {
 public:
  void addGroup() override {
    values_.push_back(T{});
    seen_.push_back(false);
  }
  void add(uint32_t group, const void* value) override {
    const T x = load<T>(value);
    const ValueLess<T> less;
    if (!seen_[group] || (kMax ? less(values_[group], x) : less(x, values_[group]))) values_[group] = x;
    seen_[group] = true;
  }
  void write(uint32_t group, ValueColumn& out) const override {
    if (!seen_[group]) return out.append(nullptr);
    const T value = values_[group];
    out.append(&value);
  }

 private:
  std::vector<T> values_;
  std::vector<bool> seen_;
};

template <bool kMax>
class TextExtreme : public Accumulator {
 public:
  void addGroup() override {
    values_.emplace_back();
    seen_.push_back(false);
  }
  void add(uint32_t group, const void* value) override {
    const char* const text = static_cast<const char*>(value);
    const int order = seen_[group] ? values_[group].compare(text) : 0;
    if (!seen_[group] || (kMax ? order < 0 : order > 0)) values_[group] = text;
    seen_[group] = true;
  }
  void write(uint32_t group, ValueColumn& out) const override {
    out.append(seen_[group] ? values_[group].c_str() : nullptr);
  }

 private:
  std::vector<std::string> values_;
  std::vector<bool> seen_;
};

template <typename T>
std::unique_ptr<Accumulator> typed(AggregateFunction function, std::string text) {
  if (function == AggregateFunction::MIN) return std::make_unique<Extreme<T, false>>();
  if (function == AggregateFunction::MAX) return std::make_unique<Extreme<T, true>>();
  const bool average = function == AggregateFunction::AVG;
  if constexpr (std::is_floating_point_v<T>) {
    return std::make_unique<FloatingSum<T>>(average);
  } else if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, int32_t> || std::is_same_v<T, int16_t>) {
    if (average) return std::make_unique<IntegerAverage<T>>();
    return std::make_unique<IntegerSum<T>>(std::move(text));
  }
  throw DatabaseException("The function of %s needs numbers", text.c_str());
}

}  // namespace

void Accumulator::addPacked(uint32_t group, const char* values, size_t width, size_t count) {
  for (size_t i = 0; i < count; ++i) add(group, values + i * width);
}

std::unique_ptr<Accumulator> Accumulator::create(AggregateFunction function, DATA_TYPE type, std::string text) {
  if (function == AggregateFunction::COUNT_ROWS || function == AggregateFunction::COUNT) {
    return std::make_unique<Counter>();
  }
  switch (type) {
    case LONG: return typed<int64_t>(function, std::move(text));
    case INT: return typed<int32_t>(function, std::move(text));
    case SHORT: return typed<int16_t>(function, std::move(text));
    case DOUBLE: return typed<double>(function, std::move(text));
    case FLOAT: return typed<float>(function, std::move(text));
    case BOOL: return typed<bool>(function, std::move(text));
    case DATE: return typed<uint16_t>(function, std::move(text));
    case STRING: break;
  }
  if (function == AggregateFunction::MIN) return std::make_unique<TextExtreme<false>>();
  if (function == AggregateFunction::MAX) return std::make_unique<TextExtreme<true>>();
  throw DatabaseException("The function of %s needs numbers", text.c_str());
}
