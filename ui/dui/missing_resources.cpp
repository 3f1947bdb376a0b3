#include "ui/dui/missing_resources.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace orlin::dui {
namespace {
std::mutex g_mutex;
std::set<std::string> g_reported;
std::function<void(const std::string&)> g_handler;
}  // namespace

void SetMissingResourceHandler(std::function<void(const std::string& line)> handler) {
  std::lock_guard lock(g_mutex);
  g_handler = std::move(handler);
}

void ReportMissingResource(const std::string& line) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(g_mutex);
    if (!g_reported.insert(line).second) return;
    handler = g_handler;
  }
  std::fprintf(stderr, "orlin: %s\n", line.c_str());
  if (handler) handler(line);
}

}  // namespace orlin::dui
