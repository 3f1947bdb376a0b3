#include "ui/dui/automation/protocol.h"

#include <json/json.h>

#include <exception>
#include <memory>

namespace orlin::automation {
namespace {

std::string Write(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

std::optional<Json::Value> Parse(const std::string& line, std::string* error) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  bool parsed = false;
  try {
    parsed = reader->parse(line.data(), line.data() + line.size(), &value, &errors);
  } catch (const std::exception& e) {
    // The reader throws instead of failing when arrays or objects nest
    // deeper than its stack limit; the line is refused like any other.
    errors = e.what();
  }
  if (!parsed) {
    if (error) *error = "not JSON: " + errors;
    return std::nullopt;
  }
  if (!value.isObject()) {
    if (error) *error = "not a JSON object";
    return std::nullopt;
  }
  return value;
}

std::string Text(const Json::Value& object, const char* key) {
  const Json::Value& v = object[key];
  return v.isString() ? v.asString() : std::string();
}

}  // namespace

std::string EncodeRequest(const Request& request) {
  Json::Value v(Json::objectValue);
  v["op"] = request.op;
  if (!request.windowClass.empty()) v["class"] = request.windowClass;
  if (!request.control.empty()) v["control"] = request.control;
  if (!request.attr.empty()) v["attr"] = request.attr;
  if (!request.text.empty()) v["text"] = request.text;
  if (request.index) v["index"] = *request.index;
  if (!request.on) v["on"] = false;
  if (!request.file.empty()) v["file"] = request.file;
  return Write(v);
}

std::string EncodeAnswer(const Answer& answer) {
  Json::Value v(Json::objectValue);
  v["ok"] = answer.ok;
  if (answer.ok) {
    Json::Value lines(Json::arrayValue);
    for (const auto& line : answer.lines) lines.append(line);
    v["lines"] = lines;
  } else {
    v["error"] = answer.error;
  }
  return Write(v);
}

std::optional<Request> DecodeRequest(const std::string& line, std::string* error) {
  auto v = Parse(line, error);
  if (!v) return std::nullopt;
  Request r;
  r.op = Text(*v, "op");
  if (r.op.empty()) {
    if (error) *error = "the request names no operation";
    return std::nullopt;
  }
  r.windowClass = Text(*v, "class");
  r.control = Text(*v, "control");
  r.attr = Text(*v, "attr");
  r.text = Text(*v, "text");
  if ((*v)["index"].isInt()) r.index = (*v)["index"].asInt();
  if ((*v)["on"].isBool()) r.on = (*v)["on"].asBool();
  r.file = Text(*v, "file");
  return r;
}

std::optional<Answer> DecodeAnswer(const std::string& line, std::string* error) {
  auto v = Parse(line, error);
  if (!v) return std::nullopt;
  if (!(*v)["ok"].isBool()) {
    if (error) *error = "the answer says neither success nor failure";
    return std::nullopt;
  }
  Answer a;
  a.ok = (*v)["ok"].asBool();
  if (a.ok) {
    for (const auto& line : (*v)["lines"]) a.lines.push_back(line.isString() ? line.asString() : std::string());
  } else {
    a.error = Text(*v, "error");
    if (a.error.empty()) a.error = "failed without a reason";
  }
  return a;
}

}  // namespace orlin::automation
