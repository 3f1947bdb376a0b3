#pragma once
// The one way windows look up a named control of a given type. In the
// product a missing control is skipped quietly (the window goes on without
// it); tests install a handler that fails loudly, so a skin that lacks a
// control the code relies on is caught.

#include <functional>
#include <string>

#include "ui/dui/paint_manager.h"

namespace orlin::dui {

// Called with the name of every control that was looked for and not found
// (or found with another type). Null: nothing happens.
void SetMissingControlHandler(std::function<void(const std::wstring& name)> handler);
void ReportMissingControl(const std::wstring& name);

template <class T>
T* FindControlAs(CPaintManagerUI& pm, const std::wstring& name) {
  T* c = dynamic_cast<T*>(pm.FindControl(name));
  if (!c) ReportMissingControl(name);
  return c;
}

}  // namespace orlin::dui
