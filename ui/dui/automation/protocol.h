#pragma once
// What orlin-ctl and the automation of the windows say to each other over
// the install directory's local channel: one JSON object per line each way.
// A request names its operation and what it is about; an answer is either
// the lines to print or an error message.
//
//   {"op":"get","class":"UILoginWnd","control":"USERNAME","attr":"text"}
//   {"ok":true,"lines":["admin"]}
//   {"ok":false,"error":"UILoginWnd has no control named USERNAM"}

#include <optional>
#include <string>
#include <vector>

namespace orlin::automation {

// Texts are UTF-8 throughout.
struct Request {
  std::string op;           // windows, get, set, select, click, key, rows, check, tray, menu, shot
  std::string windowClass;  // the window's class name ("UIOrlinFrameWnd")
  std::string control;      // a control's name; the list of "rows", the tree of "check"
  std::string attr;         // get: text (default), visible, enabled, selected, tooltip, value
  std::string text;         // set: the text; check: the tree path; key: the keys; tray: left or right; menu: the item
  std::optional<int> index; // select: the item, or 0 / 1 for a check box off / on
  bool on = true;           // check: tick or clear
  std::string file;         // shot: where the picture goes (absolute)
};

struct Answer {
  bool ok = false;
  std::vector<std::string> lines;  // on success, what the client prints
  std::string error;               // on failure, why

  static Answer Lines(std::vector<std::string> lines) { return Answer{true, std::move(lines), {}}; }
  static Answer Fail(std::string error) { return Answer{false, {}, std::move(error)}; }
};

// One line of JSON, without the line end.
std::string EncodeRequest(const Request& request);
std::string EncodeAnswer(const Answer& answer);
// nullopt (with the reason in `error`) for a line that is not such an object.
std::optional<Request> DecodeRequest(const std::string& line, std::string* error);
std::optional<Answer> DecodeAnswer(const std::string& line, std::string* error);

}  // namespace orlin::automation
