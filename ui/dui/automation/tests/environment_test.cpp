// Only ORLIN_AUTOMATION=1 asks for the automation.

#include <stdlib.h>

#include <gtest/gtest.h>

#include "ui/dui/automation/automation_server.h"

namespace orlin::automation {
namespace {

TEST(AutomationEnvironmentTest, OnlyTheValueOneAsksForIt) {
  ::unsetenv("ORLIN_AUTOMATION");
  EXPECT_FALSE(AutomationRequested());
  for (const char* no : {"", "0", "yes", "true", "1 "}) {
    ::setenv("ORLIN_AUTOMATION", no, 1);
    EXPECT_FALSE(AutomationRequested()) << '"' << no << '"';
  }
  ::setenv("ORLIN_AUTOMATION", "1", 1);
  EXPECT_TRUE(AutomationRequested());
  ::unsetenv("ORLIN_AUTOMATION");
}

}  // namespace
}  // namespace orlin::automation
