#pragma once
// The main window as seen from core code: a target for window messages.
// Core code never includes a toolkit header; the window layer implements this
// and hops to the UI thread (posted messages are queued, sent messages block
// until the UI thread has handled them and return its result).

#include <cstdint>

#include "common/window_messages.h"

namespace orlin {

class OwnerWindow {
 public:
  virtual ~OwnerWindow() = default;
  // Queued; returns at once. Safe from any thread.
  virtual void Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // Blocks until handled on the UI thread; returns the handler's result.
  virtual std::intptr_t Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

}  // namespace orlin
