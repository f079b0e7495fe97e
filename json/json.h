// JSON: a variable holding one reference-counted JSON value over json-c.
//
// A variable holds nothing or one reference to a value (object, array or
// scalar). Holding a value in a variable, an object member or an array
// element counts one reference; the last release frees it. Besides json-c's
// kinds, values may be long integers (int64), dates and byte blocks; they
// travel through the application Value of text/value.h.
//
// Thread safety: none of its own, and json-c's reference counts are not
// atomic. A value reachable from several threads (the shared task list) is
// safe only when the callers serialise, under one lock of theirs, every call
// that touches it: Parse, SetMember, GetMember, GetLength, GetItem, Append,
// copying, assigning and destroying a variable that holds it or one of its
// elements. Distinct values may be used on different threads freely.
#pragma once

#include <cstdint>
#include <string_view>

#include "text/value.h"

struct json_object;

namespace kelvarn {

class JSON {
 public:
  JSON() = default;  // holds nothing
  ~JSON();
  // Copies hold one more reference to the same value, not a copy of it.
  JSON(const JSON& other);
  JSON& operator=(const JSON& other);
  JSON(JSON&& other) noexcept;
  JSON& operator=(JSON&& other) noexcept;

  // Releases the held value and parses `text` (up to a zero byte) with
  // json-c's tokener: non-strict (single quotes, comments), nesting at most
  // 32 levels, the first value taken and anything after it ignored. Integer
  // literals 0..2147483646 become integers, every other integer literal a
  // long integer. Outside strings, #HTTP-date# is a date and <Base64> a byte
  // block, as values only: a member name is a string. Returns false, holding
  // nothing, when the text is not JSON; "null" returns true and holds
  // nothing.
  bool Parse(std::string_view text);

  // Makes the variable an object if it is not one, then stores the member
  // last in member order (an existing member of that key is removed first).
  // A variable holding this very object stores a one-level copy; any other
  // variable stores its value (one more reference), or null when it holds
  // nothing. Values convert as: boolean, byte, short and integer to JSON
  // booleans and integers; long integer to a long integer; float and double
  // to double; text to string (up to a zero byte); byte array to bytes; date
  // to date; other kinds to null. Always returns true.
  bool SetMember(std::string_view key, const Value& value);
  bool SetMember(std::string_view key, const JSON& value);

  // The member's value: boolean, integer, long integer, double, text (up to
  // its first zero byte), byte array or date (a fresh copy each time).
  // Objects, arrays, null, missing members and a variable that is not an
  // object give the integer 0.
  Value GetMember(std::string_view key) const;

  // Number of elements when holding an array, else 0.
  std::int32_t GetLength() const;
  // Whether it holds an array, even an empty one.
  bool HoldsArray() const;

  // A variable holding element `index` (one more reference), or nothing when
  // out of range, null, or not an array.
  JSON GetItem(std::int32_t index) const;

  // Makes the variable an array if it is not one (even with no values), then
  // appends each value in order, converted as SetMember does; appending the
  // variable's own array appends a one-level copy.
  template <class... Values>
  void Append(const Values&... values) {
    MakeArray();
    (AppendOne(values), ...);
  }

  // Member names in member order when holding an object, else none.
  TextArray MemberNames() const;

  bool HoldsNothing() const { return value_ == nullptr; }

 private:
  void Reset(json_object* value);
  void MakeArray();
  void AppendOne(const JSON& value);
  void AppendOne(const Value& value);
  template <class T>
  requires(!std::is_same_v<T, JSON> && !std::is_same_v<T, Value>) void AppendOne(const T& value) {
    AppendOne(Value(value));
  }

  json_object* value_ = nullptr;
};

}  // namespace kelvarn
