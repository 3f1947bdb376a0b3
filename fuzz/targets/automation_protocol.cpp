// The automation channel's lines (orlin-ctl and the windows of an orlin
// started with ORLIN_AUTOMATION=1): requests and answers, each one JSON
// object per line.
#include "fuzz/fuzz_support.h"
#include "ui/dui/automation/protocol.h"

namespace orlin::fuzz {
namespace {

bool Same(const automation::Request& a, const automation::Request& b) {
  return a.op == b.op && a.windowClass == b.windowClass && a.control == b.control && a.attr == b.attr &&
         a.text == b.text && a.index == b.index && a.on == b.on && a.file == b.file;
}

void Run(const std::string& line) {
  std::string error;
  if (const std::optional<automation::Request> request = automation::DecodeRequest(line, &error)) {
    FUZZ_CHECK(!request->op.empty(), "a request names its operation");
    const std::string again = automation::EncodeRequest(*request);
    FUZZ_CHECK(again.find('\n') == std::string::npos, "a request is one line");
    const std::optional<automation::Request> back = automation::DecodeRequest(again, &error);
    FUZZ_CHECK(back && Same(*back, *request), "a request read is sent again unchanged");
  } else {
    FUZZ_CHECK(!error.empty(), "a refused request says why");
  }
  error.clear();
  if (const std::optional<automation::Answer> answer = automation::DecodeAnswer(line, &error)) {
    const std::string again = automation::EncodeAnswer(*answer);
    FUZZ_CHECK(again.find('\n') == std::string::npos, "an answer is one line");
    const std::optional<automation::Answer> back = automation::DecodeAnswer(again, &error);
    FUZZ_CHECK(back && back->ok == answer->ok && back->lines == answer->lines && back->error == answer->error,
               "an answer read is sent again unchanged");
  } else {
    FUZZ_CHECK(!error.empty(), "a refused answer says why");
  }
}

}  // namespace
}  // namespace orlin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orlin::fuzz::Run(std::string(orlin::fuzz::Bytes(data, size)));
  return 0;
}
