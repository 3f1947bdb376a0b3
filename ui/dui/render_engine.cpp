#include "ui/dui/render_engine.h"

#include "ui/dui/paint_manager.h"

namespace orlin::dui {

Size CRenderEngine::GetTextSize(CPaintManagerUI* manager, const std::wstring& text, int font, unsigned style) {
  if (!manager) return Size{};
  return manager->MeasureText(text, font, style);
}

}  // namespace orlin::dui
