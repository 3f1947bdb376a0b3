// The lines of the automation channel: what one side writes the other reads
// back, and a line that is no request or answer is refused with a reason.

#include "ui/dui/automation/protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace orlin::automation {
namespace {

TEST(ProtocolTest, RequestsAndAnswersReadBackAsTheyWereWritten) {
  Request request;
  request.op = "select";
  request.windowClass = "UISetWnd";
  request.control = "ORDER";
  request.text = "\xe7\x94\xa8\xe6\x88\xb7 \"quoted\"\n";
  request.index = 3;
  request.on = false;
  request.file = "/tmp/shot.png";
  std::string error;
  const std::optional<Request> read = DecodeRequest(EncodeRequest(request), &error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->op, request.op);
  EXPECT_EQ(read->windowClass, request.windowClass);
  EXPECT_EQ(read->control, request.control);
  EXPECT_EQ(read->text, request.text);
  EXPECT_EQ(read->index, request.index);
  EXPECT_EQ(read->on, request.on);
  EXPECT_EQ(read->file, request.file);
  EXPECT_EQ(EncodeRequest(request).find('\n'), std::string::npos);

  const std::optional<Answer> answer = DecodeAnswer(EncodeAnswer(Answer::Lines({"a", "b"})), &error);
  ASSERT_TRUE(answer) << error;
  EXPECT_TRUE(answer->ok);
  EXPECT_EQ(answer->lines, (std::vector<std::string>{"a", "b"}));
}

TEST(ProtocolTest, LinesThatAreNoObjectOrNestTooDeepAreRefusedWithAReason) {
  std::string error;
  EXPECT_FALSE(DecodeRequest("[1]", &error));
  EXPECT_EQ(error, "not a JSON object");
  EXPECT_FALSE(DecodeRequest("{\"class\":\"X\"}", &error));
  EXPECT_EQ(error, "the request names no operation");
  // Deeper than the JSON reader's limit, where it throws instead of failing
  // (fuzz/corpus/automation_protocol/deep-nesting.json): a refusal, not the
  // end of the program the automation runs in.
  const std::string deep = "{\"op\":" + std::string(1005, '[') + std::string(1005, ']') + "}";
  error.clear();
  EXPECT_FALSE(DecodeRequest(deep, &error));
  EXPECT_EQ(error.rfind("not JSON: ", 0), 0u) << error;
  error.clear();
  EXPECT_FALSE(DecodeAnswer(deep, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace orlin::automation
