#pragma once
// Reading the engine's JSON answers with jsoncpp without ever calling an
// accessor on a value of the wrong type (jsoncpp throws there): a member
// that is missing or of another type reads as empty, false or 0.

#include <json/json.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "monitor/format.h"

namespace orlin::json {

// False for an empty, truncated or otherwise invalid text.
inline bool Parse(std::string_view text, Json::Value& out) {
  if (text.empty()) return false;
  // One reader per thread, made once: its settings never change, and making
  // one (a settings document, the reader's own state) costs about as much as
  // parsing a small answer.
  thread_local const std::unique_ptr<Json::CharReader> reader = [] {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
  }();
  std::string errors;
  try {
    // The reader throws when nesting exceeds its stack limit.
    return reader->parse(text.data(), text.data() + text.size(), &out, &errors);
  } catch (const std::exception&) {
    return false;
  }
}

inline const Json::Value& Member(const Json::Value& object, const char* key) {
  static const Json::Value kNull;
  if (!object.isObject()) return kNull;
  return object[key];
}

inline std::string Text(const Json::Value& value) { return value.isString() ? value.asString() : std::string(); }

inline bool Bool(const Json::Value& value) { return value.isBool() && value.asBool(); }

// A JSON number as an unsigned 64-bit count: negatives, fractions' parts
// and non-numbers give what the decimal text would (0 for non-numbers).
inline std::uint64_t U64(const Json::Value& value) {
  if (value.isUInt64()) return value.asUInt64();
  if (value.isInt64()) return 0;  // negative
  if (value.isDouble()) return DoubleToU64(value.asDouble());
  return 0;
}

}  // namespace orlin::json
