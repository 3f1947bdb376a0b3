#include "ui/dui/automation/win32/win32_automation.h"

#include "ui/dui/win32/win32_backend.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::automation {

UiThreadPost Win32GuiThreadPost() {
  return [](std::function<void()> task) {
    // Hop: the backend's UI thread runs it from its message loop; without a
    // Win32 backend there is no UI thread and the task is dropped (the
    // server then answers that the UI did not respond).
    if (auto backend = std::dynamic_pointer_cast<dui::Win32Backend>(dui::UiBackend::Current())) {
      backend->PostToUiThread(std::move(task));
    }
  };
}

WindowPicture Win32WindowPicture() {
  return [](dui::WindowImplBase& window, const std::filesystem::path& file) {
    return dui::GrabWindow(window.GetHWND(), file);
  };
}

}  // namespace orlin::automation
