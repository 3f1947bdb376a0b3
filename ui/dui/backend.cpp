#include "ui/dui/backend.h"

#include <future>
#include <mutex>

namespace orlin::dui {

namespace {
std::mutex g_backendMutex;
std::shared_ptr<UiBackend> g_backend;
}  // namespace

bool NativeWindow::Send(std::function<void()> task) {
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  // Hop: the task runs on the window's message thread while this thread
  // waits; a task dropped unrun (window gone) breaks the promise.
  Dispatch([task = std::move(task), done] {
    task();
    done->set_value();
  });
  try {
    future.get();
    return true;
  } catch (const std::future_error&) {
    return false;
  }
}

void UiBackend::Install(std::shared_ptr<UiBackend> backend) {
  std::lock_guard lock(g_backendMutex);
  g_backend = std::move(backend);
}

std::shared_ptr<UiBackend> UiBackend::Current() {
  std::lock_guard lock(g_backendMutex);
  return g_backend;
}

}  // namespace orlin::dui
