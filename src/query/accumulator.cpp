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
  if constexpr (std::is_same_v<T, const char*>) {
    return static_cast<const char*>(value);
  } else {
    T x;
    std::memcpy(&x, value, sizeof x);
    return x;
  }
}

// The ways in of every accumulator over values of type T, each a loop over
// Derived::take(group, value), which the loops inline.
template <typename Derived, typename T>
class Taking : public Accumulator {
 public:
  void add(uint32_t group, const void* value) override { self().take(group, load<T>(value)); }
  void addPacked(uint32_t group, const char* values, size_t width, size_t count) override {
    for (size_t i = 0; i < count; ++i) self().take(group, load<T>(values + i * width));
  }
  void addRun(const uint32_t* groups, const ValueRun* run, uint32_t count) override {
    run->forEachValue(count, [&](size_t i, const void* value) {
      if (value != nullptr) self().take(groups[i], load<T>(value));
    });
  }

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
};

class Counter : public Accumulator {
 public:
  void addGroup() override { counts_.push_back(0); }
  void add(uint32_t group, const void*) override { ++counts_[group]; }
  void addPacked(uint32_t group, const char*, size_t, size_t count) override {
    counts_[group] += static_cast<int64_t>(count);
  }
  void addRun(const uint32_t* groups, const ValueRun* run, uint32_t count) override {
    if (run == nullptr) {
      for (uint32_t i = 0; i < count; ++i) ++counts_[groups[i]];
      return;
    }
    run->forEachValue(count, [&](size_t i, const void* value) { counts_[groups[i]] += value != nullptr; });
  }
  void write(uint32_t group, ValueColumn& out) const override { out.append(&counts_[group]); }

 private:
  std::vector<int64_t> counts_;
};

// The sum of integers of type T, refused beyond the range of a LONG.
template <typename T>
class IntegerSum : public Taking<IntegerSum<T>, T> {
 public:
  explicit IntegerSum(std::string text) : text_(std::move(text)) {}

  void addGroup() override {
    sums_.push_back(0);
    seen_.push_back(0);
  }
  void take(uint32_t group, T x) {
    if (__builtin_add_overflow(sums_[group], static_cast<int64_t>(x), &sums_[group])) {
      throw DatabaseException("The sum %s is beyond the range of a long", text_.c_str());
    }
    seen_[group] = 1;
  }
  void write(uint32_t group, ValueColumn& out) const override {
    out.append(seen_[group] != 0 ? &sums_[group] : nullptr);
  }

 private:
  const std::string text_;
  std::vector<int64_t> sums_;
  std::vector<uint8_t> seen_;
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
class FloatingSum : public Taking<FloatingSum<T>, T> {
 public:
  explicit FloatingSum(bool average) : average_(average) {}

  void addGroup() override { groups_.emplace_back(); }
  void take(uint32_t group, T x) {
    Group& taken = groups_[group];
    taken.sum.add(static_cast<double>(x));
    ++taken.count;
  }
  void write(uint32_t group, ValueColumn& out) const override {
    const Group& taken = groups_[group];
    if (taken.count == 0) return out.append(nullptr);
    const double sum = taken.sum.value();
    const double answer = average_ ? sum / static_cast<double>(taken.count) : sum;
    out.append(&answer);
  }

 private:
  // A group's sum beside its count, so that a value touches one line.
  struct Group {
    CompensatedSum sum;
    int64_t count = 0;
  };

  const bool average_;
  std::vector<Group> groups_;
};

// avg of integers of type T: their sum is kept exact in 128 bits.
template <typename T>
class IntegerAverage : public Taking<IntegerAverage<T>, T> {
 public:
  void addGroup() override {
    sums_.push_back(0);
    counts_.push_back(0);
  }
  void take(uint32_t group, T x) {
    sums_[group] += x;
    ++counts_[group];
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
class Extreme : public Taking<Extreme<T, kMax>, T> {
 public:
  void addGroup() override {
    values_.push_back(T{});
    seen_.push_back(0);
  }
  void take(uint32_t group, T x) {
    const ValueLess<T> less;
    if (seen_[group] == 0 || (kMax ? less(values_[group], x) : less(x, values_[group]))) values_[group] = x;
    seen_[group] = 1;
  }
  void write(uint32_t group, ValueColumn& out) const override {
    if (seen_[group] == 0) return out.append(nullptr);
    const T value = values_[group];
    out.append(&value);
  }

 private:
  std::vector<T> values_;
  std::vector<uint8_t> seen_;
};

template <bool kMax>
class TextExtreme : public Taking<TextExtreme<kMax>, const char*> {
 public:
  void addGroup() override {
    values_.emplace_back();
    seen_.push_back(0);
  }
  void take(uint32_t group, const char* text) {
    const int order = seen_[group] != 0 ? values_[group].compare(text) : 0;
    if (seen_[group] == 0 || (kMax ? order < 0 : order > 0)) values_[group] = text;
    seen_[group] = 1;
  }
  void write(uint32_t group, ValueColumn& out) const override {
    out.append(seen_[group] != 0 ? values_[group].c_str() : nullptr);
  }

 private:
  std::vector<std::string> values_;
  std::vector<uint8_t> seen_;
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
