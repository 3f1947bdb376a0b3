#include "ui/dui/backend.h"

#include <mutex>

namespace orlin::dui {

namespace {
std::mutex g_backendMutex;
std::shared_ptr<UiBackend> g_backend;
}  // namespace

void UiBackend::Install(std::shared_ptr<UiBackend> backend) {
  std::lock_guard lock(g_backendMutex);
  g_backend = std::move(backend);
}

std::shared_ptr<UiBackend> UiBackend::Current() {
  std::lock_guard lock(g_backendMutex);
  return g_backend;
}

}  // namespace orlin::dui
