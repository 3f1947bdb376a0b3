#include "ui/dui/find_control.h"

#include <mutex>

namespace orlin::dui {

namespace {
std::mutex g_mutex;
std::function<void(const std::wstring&)> g_handler;
}  // namespace

void SetMissingControlHandler(std::function<void(const std::wstring& name)> handler) {
  std::lock_guard lock(g_mutex);
  g_handler = std::move(handler);
}

void ReportMissingControl(const std::wstring& name) {
  std::function<void(const std::wstring&)> handler;
  {
    std::lock_guard lock(g_mutex);
    handler = g_handler;
  }
  if (handler) handler(name);
}

}  // namespace orlin::dui
