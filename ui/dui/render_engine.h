#pragma once
// Text measurement with a window's fonts, as list column sizing needs it.

#include <string>

#include "ui/dui/ui_types.h"

namespace orlin::dui {

class CPaintManagerUI;

class CRenderEngine {
 public:
  // Extent of `text` in the window's font `font` (scaled to its DPI) with the
  // label text style `style`. Zero size without an installed backend.
  static Size GetTextSize(CPaintManagerUI* manager, const std::wstring& text, int font, unsigned style);
};

}  // namespace orlin::dui
