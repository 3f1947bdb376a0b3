#pragma once
// Builds control trees from skin files: a window skin (<Window> with its
// size, caption, fonts, default attributes and styles, then one root control)
// or an item template (a single control element, such as one list row).
//
// Skin syntax: elements are control classes (VerticalLayout, Button, ...),
// attributes are the controls' attributes. <Include source="style.xml"/> reads
// fonts, <Default name="Button" value="attr list"/> and <Style name="x"
// value="attr list"/> from a shared file.

#include <filesystem>
#include <string>

#include "ui/dui/controls.h"

namespace orlin::dui {

class CPaintManagerUI;

class IDialogBuilderCallback {
 public:
  virtual ~IDialogBuilderCallback() = default;
  // A control for an element the layer does not know; null to skip it.
  virtual CControlUI* CreateControl(const std::wstring& className) = 0;
};

class CDialogBuilder {
 public:
  // `skin` is a file name below the resource folder (or an absolute path).
  // Window attributes (size, caption, ...) and fonts go to `manager`; the
  // returned tree is not attached to it. Null when the file cannot be read.
  CControlUI* Create(const std::wstring& skin, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                     CControlUI* parent = nullptr);
  CControlUI* CreateFromString(const std::string& xml, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                               CControlUI* parent = nullptr);

  // Builds once from a template and keeps the parsed file: later calls with
  // an empty skin reuse it, as list refills do for every new row.
  CControlUI* CreateCached(const std::wstring& skin, IDialogBuilderCallback* callback, CPaintManagerUI* manager);

  const std::string& GetLastError() const { return error_; }

 private:
  struct Parsed;
  std::string error_;
  std::shared_ptr<Parsed> cache_;
  std::wstring cachedSkin_;
};

// A new control of a skin class, or null.
CControlUI* CreateControlByClass(const std::wstring& className);

}  // namespace orlin::dui
