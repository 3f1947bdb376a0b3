#include "tools/orlin-ctl/ctl.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <thread>

#include "common/text.h"
#include "platform/local_socket.h"
#include "ui/dui/automation/protocol.h"

namespace orlin::ctl {
namespace {

using namespace std::chrono_literals;
using automation::Answer;
using automation::Request;

constexpr auto kDefaultWait = 30s;
constexpr auto kPollEvery = 200ms;
// Longer than the program's own limit for the UI thread, so its explanation
// arrives rather than a bare time-out.
constexpr auto kAnswerLimit = 90s;

void Usage(std::ostream& out) {
  out << "usage: orlin-ctl [--install-dir DIR] COMMAND\n"
         "Drives the windows of the Orlin running in DIR (default: this program's\n"
         "folder), started with ORLIN_AUTOMATION=1. CLASS is a window class name\n"
         "(UIOrlinFrameWnd, UILoginWnd, UISyncPathWnd, ...), CONTROL a control's name.\n"
         "commands:\n"
         "  windows                         one line per open window: class, title, visible|hidden\n"
         "  get CLASS CONTROL [--attr visible|enabled|selected|tooltip|value]\n"
         "  set CLASS CONTROL TEXT          type TEXT into an edit\n"
         "  select CLASS CONTROL [INDEX]    select an option or check box (0 clears it),\n"
         "                                  or the item INDEX of a combo box or list\n"
         "  click CLASS CONTROL             click as the mouse does\n"
         "  key CLASS KEYS                  press keys, e.g. ctrl+shift+l\n"
         "  rows CLASS LIST                 one JSON object per row, control name to text\n"
         "  check CLASS TREE PATH on|off    tick or clear the entry PATH of a tree\n"
         "  tray left|right                 click the tray icon\n"
         "  menu ITEM                       click an item of the open menu\n"
         "  shot CLASS FILE.png             a picture of the window\n"
         "  wait CLASS CONTROL TEXT [--timeout S]   until the control reads TEXT\n"
         "  wait-window CLASS [--timeout S]         until a window of CLASS is shown\n"
         "Exit code 0 on success, 1 with a message otherwise.\n";
}

// The words of a command: its positional words, and the values of the
// options it knows (anything else, "--" words included, is positional, so
// texts may start with dashes).
struct Words {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  std::string error;
};

Words Split(const std::vector<std::string>& args, std::size_t from, const std::vector<std::string>& knownOptions) {
  Words w;
  for (std::size_t i = from; i < args.size(); ++i) {
    bool known = false;
    for (const auto& o : knownOptions) known = known || args[i] == o;
    if (!known) {
      w.positional.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size()) {
      w.error = args[i] + " needs a value";
      return w;
    }
    w.options[args[i]] = args[i + 1];
    ++i;
  }
  return w;
}

std::optional<int> ParseIndex(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::optional<std::chrono::milliseconds> ParseSeconds(const std::string& text) {
  char* end = nullptr;
  const double s = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !(s > 0) || s > 86400) return std::nullopt;
  return std::chrono::milliseconds(std::llround(s * 1000));
}

class Session {
 public:
  explicit Session(std::unique_ptr<platform::LocalConnection> connection) : connection_(std::move(connection)) {}

  // The program's answer, or a failure saying why there is none.
  Answer Ask(const Request& request) {
    if (connection_->Write(automation::EncodeRequest(request) + "\n", 30s) != platform::LocalIo::kOk) {
      return Answer::Fail("the program closed the connection");
    }
    auto read = connection_->ReadLine(kAnswerLimit);
    if (read.status == platform::LocalIo::kTimedOut) {
      return Answer::Fail("no answer within " + std::to_string(kAnswerLimit.count()) + " s");
    }
    if (read.status != platform::LocalIo::kOk) return Answer::Fail("the program closed the connection");
    std::string error;
    auto answer = automation::DecodeAnswer(read.line, &error);
    if (!answer) return Answer::Fail("unreadable answer (" + error + ")");
    return *answer;
  }

 private:
  std::unique_ptr<platform::LocalConnection> connection_;
};

// Asks until `satisfied` says the answer is the one waited for, or the time
// is up. Returns the last answer and whether it satisfied.
std::pair<bool, Answer> Poll(Session& session, const Request& request, std::chrono::milliseconds timeout,
                             const std::function<bool(const Answer&)>& satisfied) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    Answer answer = session.Ask(request);
    if (satisfied(answer)) return {true, answer};
    if (std::chrono::steady_clock::now() >= deadline) return {false, answer};
    std::this_thread::sleep_for(kPollEvery);
  }
}

std::string Seconds(std::chrono::milliseconds ms) {
  const auto s = ms.count() / 1000;
  const auto rest = ms.count() % 1000;
  return std::to_string(s) + (rest ? "." + std::to_string(rest / 100) : "") + " s";
}

}  // namespace

int Run(const std::vector<std::string>& args, const std::filesystem::path& defaultInstallDir, std::ostream& out,
        std::ostream& err) {
  auto fail = [&err](const std::string& message) {
    err << "orlin-ctl: " << message << "\n";
    return kExitFailed;
  };
  auto usageError = [&](const std::string& message) {
    err << "orlin-ctl: " << message << "\n";
    Usage(err);
    return kExitFailed;
  };

  std::filesystem::path installDir = defaultInstallDir;
  std::size_t at = 0;
  while (at < args.size() && args[at].rfind("--", 0) == 0) {
    if (args[at] == "--help" || args[at] == "-h") {
      Usage(out);
      return kExitOk;
    }
    if (args[at] != "--install-dir") return usageError("unknown option " + args[at]);
    if (at + 1 >= args.size()) return usageError("--install-dir needs a directory");
    installDir = PathFromWide(Utf8ToWide(args[at + 1]));
    at += 2;
  }
  if (at >= args.size()) return usageError("no command");
  const std::string command = args[at];
  Words words = Split(args, at + 1, {"--attr", "--timeout"});
  if (!words.error.empty()) return usageError(words.error);
  const auto& p = words.positional;
  auto needs = [&](std::size_t least, std::size_t most) { return p.size() >= least && p.size() <= most; };
  auto option = [&](const std::string& name) -> std::optional<std::string> {
    auto it = words.options.find(name);
    return it == words.options.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  for (const auto& [name, value] : words.options) {
    const bool allowed = (name == "--attr" && command == "get") ||
                         (name == "--timeout" && (command == "wait" || command == "wait-window"));
    if (!allowed) return usageError(command + " takes no " + name);
  }

  Request request;
  request.op = command;
  std::chrono::milliseconds timeout = kDefaultWait;
  if (auto t = option("--timeout")) {
    auto parsed = ParseSeconds(*t);
    if (!parsed) return usageError("--timeout takes a number of seconds, not " + *t);
    timeout = *parsed;
  }
  if (command == "windows") {
    if (!needs(0, 0)) return usageError("windows takes no words");
  } else if (command == "get" || command == "click" || command == "rows") {
    if (!needs(2, 2)) return usageError(command + " takes CLASS and " + (command == "rows" ? "LIST" : "CONTROL"));
    request.windowClass = p[0];
    request.control = p[1];
    request.attr = option("--attr").value_or("");
  } else if (command == "set") {
    if (!needs(3, 3)) return usageError("set takes CLASS, CONTROL and TEXT");
    request.windowClass = p[0];
    request.control = p[1];
    request.text = p[2];
  } else if (command == "select") {
    if (!needs(2, 3)) return usageError("select takes CLASS, CONTROL and maybe INDEX");
    request.windowClass = p[0];
    request.control = p[1];
    if (p.size() == 3) {
      request.index = ParseIndex(p[2]);
      if (!request.index) return usageError("INDEX is a number from 0, not " + p[2]);
    }
  } else if (command == "key") {
    if (!needs(2, 2)) return usageError("key takes CLASS and KEYS");
    request.windowClass = p[0];
    request.text = p[1];
  } else if (command == "check") {
    if (!needs(4, 4) || (p[3] != "on" && p[3] != "off")) return usageError("check takes CLASS, TREE, PATH and on or off");
    request.windowClass = p[0];
    request.control = p[1];
    request.text = p[2];
    request.on = p[3] == "on";
  } else if (command == "tray") {
    if (!needs(1, 1) || (p[0] != "left" && p[0] != "right")) return usageError("tray takes left or right");
    request.text = p[0];
  } else if (command == "menu") {
    if (!needs(1, 1)) return usageError("menu takes the ITEM's name");
    request.text = p[0];
  } else if (command == "shot") {
    if (!needs(2, 2)) return usageError("shot takes CLASS and FILE.png");
    request.windowClass = p[0];
    // The program may run in another directory: the file is named whole.
    std::error_code ec;
    auto file = std::filesystem::absolute(PathFromWide(Utf8ToWide(p[1])), ec);
    if (ec) return fail("cannot make a full path of " + p[1]);
    request.file = WideToUtf8(WideFromPath(file));
  } else if (command == "wait") {
    if (!needs(3, 3)) return usageError("wait takes CLASS, CONTROL and TEXT");
    request.op = "get";
    request.windowClass = p[0];
    request.control = p[1];
  } else if (command == "wait-window") {
    if (!needs(1, 1)) return usageError("wait-window takes CLASS");
    request.op = "windows";
  } else {
    return usageError("unknown command " + command);
  }

  auto connect = platform::ConnectLocal(installDir);
  if (!connect.connection) {
    if (connect.nobodyListens) {
      return fail(connect.error + "; is orlin running from " + WideToUtf8(WideFromPath(installDir)) +
                  " with ORLIN_AUTOMATION=1 in its environment?");
    }
    return fail(connect.error);
  }
  Session session(std::move(connect.connection));

  if (command == "wait") {
    const std::string& want = p[2];
    auto [met, last] = Poll(session, request, timeout, [&](const Answer& a) {
      return a.ok && !a.lines.empty() && a.lines[0] == want;
    });
    if (met) return kExitOk;
    std::string seen = last.ok ? "it reads \"" + (last.lines.empty() ? std::string() : last.lines[0]) + "\""
                               : last.error;
    return fail("timed out after " + Seconds(timeout) + " waiting for " + p[1] + " of " + p[0] + " to read \"" + want +
                "\" (" + seen + ")");
  }
  if (command == "wait-window") {
    const std::string prefix = p[0] + "\t";
    auto [met, last] = Poll(session, request, timeout, [&](const Answer& a) {
      if (!a.ok) return false;
      for (const auto& line : a.lines) {
        if (line.rfind(prefix, 0) == 0 && line.size() > 8 && line.compare(line.size() - 8, 8, "\tvisible") == 0) return true;
      }
      return false;
    });
    if (met) return kExitOk;
    return fail("timed out after " + Seconds(timeout) + " waiting for a window of class " + p[0] + " to be shown" +
                (last.ok ? "" : " (" + last.error + ")"));
  }

  Answer answer = session.Ask(request);
  if (!answer.ok) return fail(answer.error);
  for (const auto& line : answer.lines) out << line << "\n";
  return kExitOk;
}

}  // namespace orlin::ctl
