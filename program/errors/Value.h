// Value: the tagged value that parameter values reach the error library as.
// A small value type of our own; the Win32 side converts to and from VARIANT
// only at the COM boundary.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace velmora {

class Value;
using ValueArray = std::vector<Value>;

struct EmptyValue {};    // never assigned
struct NullValue {};     // explicitly no data
struct MissingValue {};  // an optional argument that was not passed
struct ErrorValue { int32_t code = 0; };
struct Currency { int64_t scaled = 0; };  // value times 10000
struct DecimalValue { std::string text; };
struct DateValue { double serial = 0; };  // days since 30 Dec 1899, fraction = time of day
struct ObjectRef { std::string typeName; };  // "Nothing" for a null reference

class Value {
 public:
  using Storage = std::variant<EmptyValue, NullValue, int16_t, int32_t, float, double, Currency,
                               DecimalValue, uint8_t, bool, DateValue, std::string, ObjectRef,
                               ValueArray, MissingValue, ErrorValue>;

  Value() : v_(MissingValue{}) {}
  template <typename T>
    requires std::is_constructible_v<Storage, T&&> && (!std::is_same_v<std::decay_t<T>, Value>) &&
             (!std::is_same_v<std::decay_t<T>, const char*>) && (!std::is_same_v<std::decay_t<T>, char*>)
  Value(T&& v) : v_(std::forward<T>(v)) {}
  Value(const char* s) : v_(std::string(s)) {}

  const Storage& storage() const { return v_; }
  bool IsArray() const { return std::holds_alternative<ValueArray>(v_); }
  bool IsMissing() const { return std::holds_alternative<MissingValue>(v_); }
  template <typename T> bool Is() const { return std::holds_alternative<T>(v_); }
  template <typename T> const T& As() const { return std::get<T>(v_); }

 private:
  Storage v_;
};

// The parameter values of a procedure with several parameters, in order.
template <typename... Ts>
Value Params(Ts&&... values) {
  return Value(ValueArray{Value(std::forward<Ts>(values))...});
}

}  // namespace velmora
