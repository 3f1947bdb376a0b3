#pragma once
// The message window's view of the controller: the DPI of its settings
// record, and where a DPI the user's screen changed to is remembered.

#include "app/controller/controller.h"
#include "ui/dialogs/msg_wnd.h"

namespace orlin {

class ControllerMsgWndHost final : public MsgWndHost {
 public:
  // `controller` must outlive the host.
  explicit ControllerMsgWndHost(Controller& controller) : controller_(controller) {}

  int GetDpi() const override {
    const int dpi = controller_.Settings().dpi;
    return dpi > 0 ? dpi : 96;
  }
  void SetDpi(int dpi, int notify) override { controller_.SetDpi(dpi, notify != 0); }

 private:
  Controller& controller_;
};

}  // namespace orlin
