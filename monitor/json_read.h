#pragma once
// Reading the engine's JSON answers with jsoncpp without ever calling an
// accessor on a value of the wrong type (jsoncpp throws there): a member
// that is missing or of another type reads as empty, false or 0.

#include <json/json.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/format.h"

namespace orlin::json {

// Readers made once and lent out one parse at a time: a reader's settings
// never change, and making one (a settings document, the reader's own state)
// costs about as much as parsing a small answer. There are never more
// readers than parses running at once. Not thread_local: the Windows
// runtime runs thread_local destructors of a thread that ends while the
// program ends after their storage is gone, and the program crashed there.
class ReaderPool {
 public:
  static ReaderPool& Instance() {
    // Lives as long as the process: a thread may still parse while it ends.
    static ReaderPool* pool = new ReaderPool;
    return *pool;
  }
  std::unique_ptr<Json::CharReader> Take() {
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        auto reader = std::move(idle_.back());
        idle_.pop_back();
        return reader;
      }
    }
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
  }
  void Give(std::unique_ptr<Json::CharReader> reader) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(reader));
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<Json::CharReader>> idle_;
};

// False for an empty, truncated or otherwise invalid text.
inline bool Parse(std::string_view text, Json::Value& out) {
  if (text.empty()) return false;
  ReaderPool& pool = ReaderPool::Instance();
  std::unique_ptr<Json::CharReader> reader = pool.Take();
  std::string errors;
  bool parsed = false;
  try {
    // The reader throws when nesting exceeds its stack limit.
    parsed = reader->parse(text.data(), text.data() + text.size(), &out, &errors);
  } catch (const std::exception&) {
    parsed = false;
  }
  pool.Give(std::move(reader));
  return parsed;
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
