#include "json/json.h"

#include <json-c/json.h>

#include <charconv>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace kelvarn {
namespace {

// json-c has one integer kind and no dates or byte blocks. The added kinds
// are ordinary json-c values marked through their userdata slot with the
// address of one of these tags (no allocation, nothing to free):
// - a long integer is a json-c int marked kLongTag;
// - a date is a json-c string of 16 bytes (eight little-endian 16-bit
//   calendar fields) marked kDateTag;
// - a byte block is a json-c string of its bytes marked kBytesTag.
char kLongTag, kDateTag, kBytesTag;

void* TagOf(json_object* v) { return v ? json_object_get_userdata(v) : nullptr; }

json_object* Tagged(json_object* v, char& tag) {
  if (v) json_object_set_userdata(v, &tag, nullptr);
  return v;
}

json_object* NewString(std::string_view bytes, char* tag = nullptr) {
  json_object* v = json_object_new_string_len(bytes.data(), static_cast<int>(bytes.size()));
  return tag ? Tagged(v, *tag) : v;
}

// json-c starts every object with a 16-slot hash table (640 bytes) and
// doubles it as members arrive. Most objects built here hold a few members (a
// task record holds two), so new empty objects start at 4 slots.
json_object* NewObject() {
  json_object* object = json_object_new_object();
  if (object) lh_table_resize(json_object_get_object(object), 4);  // on failure the 16 slots stay
  return object;
}

std::string_view StringOf(json_object* v) {
  return {json_object_get_string(v), static_cast<std::size_t>(json_object_get_string_len(v))};
}

std::string DateBytes(const CalendarFields& f) {
  const int fields[] = {f.year, f.month, f.dayOfWeek, f.day, f.hour, f.minute, f.second, f.millisecond};
  std::string bytes;
  for (int field : fields) {
    bytes += static_cast<char>(field & 0xFF);
    bytes += static_cast<char>((field >> 8) & 0xFF);
  }
  return bytes;
}

CalendarFields DateFields(std::string_view bytes) {
  int fields[8] = {};
  for (std::size_t i = 0; i < 8 && 2 * i + 1 < bytes.size(); ++i) {
    fields[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                          (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7]};
}

json_object* NewDate(const CalendarFields& fields) { return NewString(DateBytes(fields), &kDateTag); }

// The bytes before the first zero byte: texts hold none.
std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

json_object* ToJson(const Value& value) {
  return std::visit(
      [](const auto& v) -> json_object* {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          return json_object_new_boolean(v);
        } else if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
                             std::is_same_v<T, std::int32_t>) {
          return json_object_new_int(v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return Tagged(json_object_new_int64(v), kLongTag);
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          return json_object_new_double(static_cast<double>(v));
        } else if constexpr (std::is_same_v<T, Text>) {
          return NewString(UpToZero(v));
        } else if constexpr (std::is_same_v<T, ByteArray>) {
          return NewString({reinterpret_cast<const char*>(v.data()), v.size()}, &kBytesTag);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return NewDate(ToCalendar(v));
        } else {
          return nullptr;  // nothing and numeric arrays have no JSON form
        }
      },
      value);
}

Value FromJson(json_object* v) {
  switch (v ? json_object_get_type(v) : json_type_null) {
    case json_type_boolean:
      return static_cast<bool>(json_object_get_boolean(v));
    case json_type_int:
      if (TagOf(v) == &kLongTag) return static_cast<std::int64_t>(json_object_get_int64(v));
      return static_cast<std::int32_t>(json_object_get_int(v));
    case json_type_double:
      return json_object_get_double(v);
    case json_type_string: {
      const std::string_view bytes = StringOf(v);
      if (TagOf(v) == &kDateTag) return FromCalendar(DateFields(bytes));
      if (TagOf(v) == &kBytesTag) return ByteArray(bytes.begin(), bytes.end());
      // A text has no zero byte and ends where one stands, as a stored text
      // does: a string parsed from "x\u0000y" reads as "x", never as three
      // bytes that no text operation expects.
      return Text(UpToZero(bytes));
    }
    default:
      return std::int32_t{0};
  }
}

// Member names set by the program come from a small fixed set (the task
// record has two), yet json-c copies the name into every object. Short names
// are kept once for the process and handed to json-c as constants: on a
// million task records that saves 64 bytes each. The pool is capped, so
// names made up at run time fall back to json-c's own copy.
const char* InternedName(const std::string& name) {
  static std::mutex mutex;
  static std::set<std::string, std::less<>>* names = new std::set<std::string, std::less<>>;  // kept for the process
  if (name.size() > 64) return nullptr;
  std::lock_guard lock(mutex);
  if (const auto it = names->find(name); it != names->end()) return it->c_str();
  if (names->size() >= 4096) return nullptr;
  return names->insert(name).first->c_str();
}

// Stores a member whose name is not in the object (any old one was deleted).
void AddNewMember(json_object* object, const std::string& name, json_object* value) {
  if (const char* constant = InternedName(name)) {
    json_object_object_add_ex(object, constant, value, JSON_C_OBJECT_ADD_KEY_IS_NEW | JSON_C_OBJECT_ADD_CONSTANT_KEY);
  } else {
    json_object_object_add_ex(object, name.c_str(), value, JSON_C_OBJECT_ADD_KEY_IS_NEW);
  }
}

// One-level copies for storing a container into itself.
json_object* ShallowCopyObject(json_object* object) {
  json_object* copy = NewObject();
  if (!copy) return nullptr;
  json_object_object_foreach(object, key, member) json_object_object_add(copy, key, json_object_get(member));
  return copy;
}

json_object* ShallowCopyArray(json_object* array) {
  const std::size_t n = json_object_array_length(array);
  json_object* copy = json_object_new_array_ext(static_cast<int>(n));
  if (!copy) return nullptr;
  for (std::size_t i = 0; i < n; ++i) json_object_array_add(copy, json_object_get(json_object_array_get_idx(array, i)));
  return copy;
}

// ---- The added literal forms, #HTTP-date# and <Base64> ----

constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Reads the HTTP date forms: "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994". The fields
// are kept as written (the zone is not applied).
std::optional<CalendarFields> ParseHttpDate(std::string_view text) {
  int month = 0, day = -1, year = -1, hour = 0, minute = 0, second = 0;
  bool sawTime = false;
  for (std::size_t i = 0; i < text.size();) {
    if (IsAlpha(text[i])) {
      std::size_t j = i;
      while (j < text.size() && IsAlpha(text[j])) ++j;
      if (j - i >= 3 && month == 0) {
        char lower[3];
        for (int k = 0; k < 3; ++k) lower[k] = static_cast<char>(text[i + k] | 0x20);
        for (int m = 0; m < 12; ++m) {
          if (std::memcmp(lower, kMonths[m], 3) == 0) month = m + 1;
        }
      }
      i = j;
    } else if (IsDigit(text[i])) {
      std::size_t j = i;
      long number = 0;
      while (j < text.size() && IsDigit(text[j]) && j - i < 6) number = number * 10 + (text[j++] - '0');
      if (j < text.size() && text[j] == ':' && !sawTime) {
        int parts[3] = {static_cast<int>(number), 0, 0};
        for (int k = 1; k < 3 && j < text.size() && text[j] == ':'; ++k) {
          ++j;
          int part = 0;
          while (j < text.size() && IsDigit(text[j]) && part < 100) part = part * 10 + (text[j++] - '0');
          parts[k] = part;
        }
        hour = parts[0], minute = parts[1], second = parts[2];
        sawTime = true;
      } else if (day < 0 && j - i <= 2 && number >= 1 && number <= 31) {
        day = static_cast<int>(number);
      } else if (year < 0) {
        year = static_cast<int>(j - i <= 2 ? (number < 50 ? 2000 + number : 1900 + number) : number);
      }
      i = j;
    } else {
      ++i;
    }
  }
  if (month == 0 || day < 0 || year < 100 || year > 9999 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  CalendarFields fields = ToCalendar(FromCalendar({year, month, 0, day, 0, 0, 0, 0}));
  if (fields.day != day) return std::nullopt;  // 31 Feb and the like
  fields.hour = hour, fields.minute = minute, fields.second = second;
  return fields;
}

// Standard alphabet; characters outside it (padding included) are skipped.
std::string DecodeBase64(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else
      continue;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

struct Literal {
  bool isDate;
  std::string bytes;  // date fields or the decoded block
};

// Replaces each #date# and <Base64> outside strings and comments with a
// string literal naming it, so that json-c's tokener can parse the rest. The
// names carry a random nonce absent from the text, so no string of the input
// can pass for one. Returns false for a literal that does not close or a date
// that does not read.
bool ExtractLiterals(std::string_view text, std::string& out, std::vector<Literal>& literals, std::string& prefix) {
  if (text.find_first_of("#<") == std::string_view::npos) return true;
  std::mt19937_64 rng(std::random_device{}());
  do {
    prefix = "\x01kelvarn-literal-" + std::to_string(rng()) + "-";
  } while (text.find(prefix.substr(1)) != std::string_view::npos);
  out.reserve(text.size() + 64);
  enum { kPlain, kDouble, kSingle, kLineComment, kBlockComment } state = kPlain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (state) {
      case kDouble:
      case kSingle:
        out += c;
        if (c == '\\' && i + 1 < text.size()) {
          out += text[++i];
        } else if (c == (state == kDouble ? '"' : '\'')) {
          state = kPlain;
        }
        continue;
      case kLineComment:
        out += c;
        if (c == '\n') state = kPlain;
        continue;
      case kBlockComment:
        out += c;
        if (c == '*' && i + 1 < text.size() && text[i + 1] == '/') out += text[++i], state = kPlain;
        continue;
      case kPlain:
        break;
    }
    if (c == '#' || c == '<') {
      const std::size_t close = text.find(c == '#' ? '#' : '>', i + 1);
      if (close == std::string_view::npos) return false;
      const std::string_view body = text.substr(i + 1, close - i - 1);
      if (c == '#') {
        const auto fields = ParseHttpDate(body);
        if (!fields) return false;
        literals.push_back({true, DateBytes(*fields)});
      } else {
        literals.push_back({false, DecodeBase64(body)});
      }
      out += "\"\\u0001" + prefix.substr(1) + std::to_string(literals.size() - 1) + "\"";
      i = close;
      continue;
    }
    out += c;
    if (c == '"')
      state = kDouble;
    else if (c == '\'')
      state = kSingle;
    else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/')
      out += text[++i], state = kLineComment;
    else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*')
      out += text[++i], state = kBlockComment;
  }
  return true;
}

// After parsing: marks integers outside 0..2147483646 as long integers and
// turns literal names back into dates and byte blocks. Returns false when a
// literal stood where a member name goes: a name is a string, and a date or
// byte block has no text form to name a member by.
bool FinishParsed(json_object* v, const std::vector<Literal>& literals, std::string_view prefix) {
  switch (json_object_get_type(v)) {
    case json_type_int: {
      const std::int64_t n = json_object_get_int64(v);
      const bool unsignedBig = n == INT64_MAX && json_object_get_uint64(v) > static_cast<std::uint64_t>(INT64_MAX);
      if (n < 0 || n > 2147483646 || unsignedBig) Tagged(v, kLongTag);
      break;
    }
    case json_type_string: {
      const std::string_view s = StringOf(v);
      if (literals.empty() || s.substr(0, prefix.size()) != prefix) break;
      const std::string_view digits = s.substr(prefix.size());
      std::size_t index = 0;
      const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
      if (error != std::errc() || end != digits.data() + digits.size() || index >= literals.size()) break;
      const Literal& literal = literals[index];
      json_object_set_string_len(v, literal.bytes.data(), static_cast<int>(literal.bytes.size()));
      Tagged(v, literal.isDate ? kDateTag : kBytesTag);
      break;
    }
    case json_type_object: {
      json_object_object_foreach(v, key, member) {
        if (!literals.empty() && std::string_view(key).starts_with(prefix)) return false;
        if (member && !FinishParsed(member, literals, prefix)) return false;
      }
      break;
    }
    case json_type_array:
      for (std::size_t i = 0, n = json_object_array_length(v); i < n; ++i) {
        json_object* element = json_object_array_get_idx(v, i);
        if (element && !FinishParsed(element, literals, prefix)) return false;
      }
      break;
    default:
      break;
  }
  return true;
}

}  // namespace

JSON::~JSON() { json_object_put(value_); }

JSON::JSON(const JSON& other) : value_(json_object_get(other.value_)) {}

JSON& JSON::operator=(const JSON& other) {
  if (this != &other) Reset(json_object_get(other.value_));
  return *this;
}

JSON::JSON(JSON&& other) noexcept : value_(other.value_) { other.value_ = nullptr; }

JSON& JSON::operator=(JSON&& other) noexcept {
  if (this != &other) {
    json_object_put(value_);
    value_ = other.value_;
    other.value_ = nullptr;
  }
  return *this;
}

void JSON::Reset(json_object* value) {
  json_object_put(value_);
  value_ = value;
}

bool JSON::Parse(std::string_view text) {
  Reset(nullptr);
  text = UpToZero(text);
  // The harvest parses these two for every record and run: skip the tokener.
  if (text == "{}") return (value_ = NewObject()) != nullptr;
  if (text == "[]") return (value_ = json_object_new_array()) != nullptr;
  std::string rewritten, prefix;
  std::vector<Literal> literals;
  if (!ExtractLiterals(text, rewritten, literals, prefix)) return false;
  const std::string source = literals.empty() ? std::string(text) : std::move(rewritten);
  json_tokener_error error = json_tokener_success;
  json_object* parsed = json_tokener_parse_verbose(source.c_str(), &error);
  if (error != json_tokener_success) {
    json_object_put(parsed);
    return false;
  }
  if (parsed && !FinishParsed(parsed, literals, prefix)) {
    json_object_put(parsed);
    return false;
  }
  value_ = parsed;
  return true;
}

bool JSON::SetMember(std::string_view key, const Value& value) {
  if (json_object_get_type(value_) != json_type_object) Reset(NewObject());
  if (!value_) return true;  // out of memory: nothing to store into
  const std::string name(UpToZero(key));
  json_object_object_del(value_, name.c_str());
  AddNewMember(value_, name, ToJson(value));
  return true;
}

bool JSON::SetMember(std::string_view key, const JSON& value) {
  if (json_object_get_type(value_) != json_type_object) Reset(NewObject());
  if (!value_) return true;
  json_object* stored = value.value_ == value_ ? ShallowCopyObject(value_) : json_object_get(value.value_);
  const std::string name(UpToZero(key));
  json_object_object_del(value_, name.c_str());
  AddNewMember(value_, name, stored);
  return true;
}

Value JSON::GetMember(std::string_view key) const {
  json_object* member = nullptr;
  if (json_object_get_type(value_) != json_type_object ||
      !json_object_object_get_ex(value_, std::string(UpToZero(key)).c_str(), &member)) {
    return std::int32_t{0};
  }
  return FromJson(member);
}

TextArray JSON::MemberNames() const {
  TextArray names;
  if (json_object_get_type(value_) != json_type_object) return names;
  json_object_object_foreach(value_, key, member) {
    static_cast<void>(member);
    names.emplace_back(key);
  }
  return names;
}

std::int32_t JSON::GetLength() const {
  if (json_object_get_type(value_) != json_type_array) return 0;
  return static_cast<std::int32_t>(json_object_array_length(value_));
}

bool JSON::HoldsArray() const { return json_object_get_type(value_) == json_type_array; }

JSON JSON::GetItem(std::int32_t index) const {
  JSON item;
  if (index >= 0 && index < GetLength()) {
    item.value_ = json_object_get(json_object_array_get_idx(value_, static_cast<std::size_t>(index)));
  }
  return item;
}

void JSON::MakeArray() {
  if (json_object_get_type(value_) != json_type_array) Reset(json_object_new_array());
}

void JSON::AppendOne(const JSON& value) {
  if (!value_) return;
  json_object_array_add(value_, value.value_ == value_ ? ShallowCopyArray(value_) : json_object_get(value.value_));
}

void JSON::AppendOne(const Value& value) {
  if (value_) json_object_array_add(value_, ToJson(value));
}

}  // namespace kelvarn
