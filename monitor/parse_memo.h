#pragma once
// The parse of the last answer of an endpoint, kept while the engine answers
// the same text again. An idle engine does that for most of what the poll
// asks ten times a second (the event stream's last event, the folder
// completion events, the statistics, the version, the discovery), and
// parsing the same kilobyte again is most of what its handler would do.
// The handler still runs on every answer: only the parse is reused, so what
// it writes, counts and asks stays as for a fresh parse.
//
// Threads: the poller's worker thread only (the handlers' thread).

#include <cJSON.h>
#include <json/json.h>

#include <memory>
#include <string>
#include <string_view>

#include "monitor/json_read.h"
#include "monitor/monitor_context.h"

namespace orlin {

class JsonParseMemo {
 public:
  // The parse of `text`; null when it is not valid JSON. The value stays
  // valid until the next call.
  const Json::Value* Parse(std::string_view text) {
    return Parse(text, [](std::string_view t) { return t; });
  }
  // The same for the text `prepare(answer)` makes of an answer (a wrapped
  // one, say), which is only made when the answer is new.
  template <typename Prepare>
  const Json::Value* Parse(std::string_view answer, Prepare&& prepare) {
    if (!filled_ || answer != text_) {
      text_.assign(answer);
      filled_ = true;
      value_ = Json::Value();
      ok_ = json::Parse(prepare(answer), value_);
      ++parses_;
    }
    return ok_ ? &value_ : nullptr;
  }
  // How many texts were really parsed (tests).
  unsigned long long Parses() const { return parses_; }

 private:
  std::string text_;
  Json::Value value_;
  bool filled_ = false;
  bool ok_ = false;
  unsigned long long parses_ = 0;
};

class CJsonParseMemo {
 public:
  // The parse of `text`; null when it is empty or not valid JSON. The tree
  // stays valid until the next call.
  const cJSON* Parse(std::string_view text) {
    if (!filled_ || text != text_) {
      text_.assign(text);
      filled_ = true;
      root_.reset(text.empty() ? nullptr : cJSON_ParseWithLength(text.data(), text.size()));
      ++parses_;
    }
    return root_.get();
  }
  unsigned long long Parses() const { return parses_; }

 private:
  struct Deleter {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
  };
  std::string text_;
  std::unique_ptr<cJSON, Deleter> root_;
  bool filled_ = false;
  unsigned long long parses_ = 0;
};

// The kept parses of one poller, one per endpoint whose answers repeat.
struct ParseMemos {
  JsonParseMemo eventStream;
  JsonParseMemo folderStatistics;
  CJsonParseMemo folderCompletionEvents;
  CJsonParseMemo systemVersion;
  CJsonParseMemo discovery;
};

// The kept parses of the poller whose context `ctx` is.
inline ParseMemos& MemosOf(MonitorContext& ctx) {
  if (!ctx.parseMemos) ctx.parseMemos = std::make_shared<ParseMemos>();
  return *ctx.parseMemos;
}

}  // namespace orlin
