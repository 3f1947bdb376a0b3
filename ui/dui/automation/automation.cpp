#include "ui/dui/automation/automation.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "common/text.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/tray_icon.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::automation {
namespace {

using namespace orlin::dui;

std::string U8(const std::wstring& wide) { return WideToUtf8(wide); }

// A control as messages name it: its name, or its kind when it has none.
std::string Describe(const CControlUI* control) {
  if (!control) return "nothing";
  if (!control->GetName().empty()) return U8(control->GetName());
  return "a " + U8(control->GetClass()) + " without a name";
}

std::string DescribeWindow(WindowImplBase& window) { return U8(window.GetWindowClassName()); }

bool IsOpen(WindowImplBase* window) {
  auto open = WindowImplBase::OpenWindows();
  return std::find(open.begin(), open.end(), window) != open.end() && window->IsWindow();
}

// The window of a class the user would be looking at: the last one made
// that is shown, else the last one made.
WindowImplBase* FindWindowOfClass(const std::wstring& windowClass) {
  WindowImplBase* any = nullptr;
  WindowImplBase* shown = nullptr;
  for (WindowImplBase* w : WindowImplBase::OpenWindows()) {
    if (!w->IsWindow() || w->GetWindowClassName() != windowClass) continue;
    any = w;
    if (w->GetHWND()->IsShown()) shown = w;
  }
  return shown ? shown : any;
}

WindowImplBase* FindOpenMenu() {
  WindowImplBase* menu = nullptr;
  for (WindowImplBase* w : WindowImplBase::OpenWindows()) {
    if (w->IsWindow() && dynamic_cast<CMenuWnd*>(w) && w->GetHWND()->IsShown()) menu = w;
  }
  return menu;
}

// What a control shows as its text: a combo its current item.
std::wstring TextOf(CControlUI* control) {
  if (auto* combo = dynamic_cast<CComboUI*>(control)) return combo->GetCurText();
  return control->GetText();
}

std::string Bool(bool b) { return b ? "true" : "false"; }

// JSON string literal, UTF-8 kept as it is.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          static const char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

// Why a user could not reach `control` of `window` now, or nullopt when they
// could.
std::optional<std::string> Unreachable(WindowImplBase& window, CControlUI* control) {
  if (!window.GetHWND() || !window.GetHWND()->IsShown()) return DescribeWindow(window) + " is hidden";
  if (window.IsIconic()) return DescribeWindow(window) + " is minimised";
  if (!window.IsWindowEnabled()) return DescribeWindow(window) + " takes no input now";
  if (!control->IsVisibleInTree()) return Describe(control) + " is hidden";
  if (!control->IsEnabled()) return Describe(control) + " is disabled";
  return std::nullopt;
}

bool IsInside(const CControlUI* inner, const CControlUI* outer) {
  for (const CControlUI* c = inner; c; c = c->GetParent()) {
    if (c == outer) return true;
  }
  return false;
}

// A left click at the centre of `control`, through the window's message
// handling as the mouse delivers it. Refused, as the mouse would miss, when
// the control cannot be reached or something else lies on top of it there.
std::optional<std::string> MouseClick(WindowImplBase& window, CControlUI* control) {
  auto& pm = window.GetPaintManager();
  std::intptr_t where = 0;
  {
    auto lock = pm.ModelLock();
    pm.LayoutIfNeeded();
    if (auto why = Unreachable(window, control)) return why;
    if (!control->IsMouseEnabled()) return Describe(control) + " takes no mouse input";
    const Rect r = control->GetPos();
    if (r.IsEmpty()) return Describe(control) + " has no room on " + DescribeWindow(window);
    const Point p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    const Size client = pm.GetClientSize();
    if ((client.cx > 0 || client.cy > 0) && !Rect{0, 0, client.cx, client.cy}.Contains(p)) {
      return Describe(control) + " lies outside the visible part of " + DescribeWindow(window);
    }
    CControlUI* hit = pm.FindControl(p);
    if (!IsInside(hit, control)) {
      return Describe(control) + " is covered by " + Describe(hit) + " at " + std::to_string(p.x) + "," +
             std::to_string(p.y);
    }
    where = MakePointLParam(p);
  }
  window.HandleMessage(kWmMouseMove, 0, where);
  window.HandleMessage(kWmLButtonDown, 0, where);
  window.HandleMessage(kWmLButtonUp, 0, where);
  return std::nullopt;
}

struct Found {
  CControlUI* control = nullptr;
  std::string error;
};

Found FindNamed(WindowImplBase& window, const std::string& name) {
  if (name.empty()) return {nullptr, "no control named"};
  CControlUI* c = window.GetPaintManager().FindControl(Utf8ToWide(name));
  if (!c) return {nullptr, DescribeWindow(window) + " has no control named " + name};
  return {c, {}};
}

Answer Done() { return Answer::Lines({}); }

Answer Get(WindowImplBase& window, const Request& r) {
  auto found = FindNamed(window, r.control);
  if (!found.control) return Answer::Fail(found.error);
  CControlUI* c = found.control;
  auto lock = window.GetPaintManager().ModelLock();
  const std::string attr = r.attr.empty() ? "text" : r.attr;
  if (attr == "text") return Answer::Lines({U8(TextOf(c))});
  if (attr == "visible") return Answer::Lines({Bool(c->IsVisibleInTree())});
  if (attr == "enabled") return Answer::Lines({Bool(c->IsEnabled())});
  if (attr == "tooltip") return Answer::Lines({U8(c->GetToolTip())});
  if (attr == "selected") {
    if (auto* o = dynamic_cast<COptionUI*>(c)) return Answer::Lines({Bool(o->IsSelected())});
    if (auto* n = dynamic_cast<CTreeNodeUI*>(c)) return Answer::Lines({Bool(n->GetCheck())});
    if (auto* row = dynamic_cast<CListContainerElementUI*>(c)) return Answer::Lines({Bool(row->IsSelected())});
    if (auto* item = dynamic_cast<CMenuElementUI*>(c)) return Answer::Lines({Bool(item->GetChecked())});
    return Answer::Fail(Describe(c) + " (" + U8(c->GetClass()) + ") cannot be selected");
  }
  if (attr == "value") {
    if (auto* p = dynamic_cast<CProgressUI*>(c)) return Answer::Lines({std::to_string(p->GetValue())});
    if (auto* combo = dynamic_cast<CComboUI*>(c)) return Answer::Lines({std::to_string(combo->GetCurSel())});
    if (auto* list = dynamic_cast<CListUI*>(c)) return Answer::Lines({std::to_string(list->GetCurSel())});
    if (auto* tab = dynamic_cast<CTabLayoutUI*>(c)) return Answer::Lines({std::to_string(tab->GetCurSel())});
    return Answer::Fail(Describe(c) + " (" + U8(c->GetClass()) + ") has no value");
  }
  return Answer::Fail("unknown attribute " + attr + " (text, visible, enabled, selected, tooltip, value)");
}

Answer Set(WindowImplBase& window, const Request& r) {
  auto found = FindNamed(window, r.control);
  if (!found.control) return Answer::Fail(found.error);
  auto* edit = dynamic_cast<CEditUI*>(found.control);
  if (!edit) return Answer::Fail(Describe(found.control) + " (" + U8(found.control->GetClass()) + ") is not an edit");
  if (auto why = Unreachable(window, edit)) return Answer::Fail(*why);
  if (edit->IsReadOnly()) return Answer::Fail(Describe(edit) + " is read-only");
  // Typing starts with the edit taking the focus, which the control that
  // had it notices.
  window.GetPaintManager().SetFocus(edit);
  edit->UserSetText(Utf8ToWide(r.text));
  return Done();
}

Answer Click(WindowImplBase& window, const Request& r) {
  auto found = FindNamed(window, r.control);
  if (!found.control) return Answer::Fail(found.error);
  CControlUI* c = found.control;
  if (!c->IsClickable() && !dynamic_cast<CListContainerElementUI*>(c)) {
    return Answer::Fail(Describe(c) + " (" + U8(c->GetClass()) + ") does not take clicks");
  }
  if (auto why = MouseClick(window, c)) return Answer::Fail(*why);
  return Done();
}

// Sets an option or check box to `want` the way a user does: by clicking it
// when it is not so already.
Answer SetOption(WindowImplBase& window, COptionUI* option, bool want) {
  if (option->IsSelected() == want) return Done();
  if (!want && !option->GetGroup().empty()) {
    return Answer::Fail(Describe(option) + " belongs to a group; it is cleared by selecting another option");
  }
  if (auto why = MouseClick(window, option)) return Answer::Fail(*why);
  if (option->IsSelected() != want) {
    return Answer::Fail(Describe(option) + " stayed " + (want ? "cleared" : "selected") + " after the click");
  }
  return Done();
}

Answer Select(WindowImplBase& window, const Request& r) {
  auto found = FindNamed(window, r.control);
  if (!found.control) return Answer::Fail(found.error);
  CControlUI* c = found.control;
  if (auto* option = dynamic_cast<COptionUI*>(c)) {
    if (r.index && *r.index != 0 && *r.index != 1) return Answer::Fail("an option takes 0 (clear) or 1 (select)");
    return SetOption(window, option, !r.index || *r.index == 1);
  }
  auto pick = [&](int count, const std::function<void(int)>& select) {
    if (!r.index) return Answer::Fail(Describe(c) + " needs the index of the item to select");
    if (*r.index < 0 || *r.index >= count) {
      return Answer::Fail(Describe(c) + " has " + std::to_string(count) + " items; there is no item " +
                          std::to_string(*r.index));
    }
    if (auto why = Unreachable(window, c)) return Answer::Fail(*why);
    // The item the user picks from the drop-down or clicks in the list.
    select(*r.index);
    return Done();
  };
  if (auto* combo = dynamic_cast<CComboUI*>(c)) {
    return pick(combo->GetCount(), [combo](int i) { combo->SelectItem(i, true); });
  }
  if (auto* list = dynamic_cast<CListUI*>(c)) {
    return pick(list->GetCount(), [list](int i) { list->SelectItem(i, true); });
  }
  return Answer::Fail(Describe(c) + " (" + U8(c->GetClass()) + ") has nothing to select");
}

Answer Key(WindowImplBase& window, const Request& r) {
  std::string error;
  auto chord = ParseKeys(r.text, &error);
  if (!chord) return Answer::Fail(error);
  if (!window.GetHWND()->IsShown()) return Answer::Fail(DescribeWindow(window) + " is hidden");
  if (!window.IsWindowEnabled()) return Answer::Fail(DescribeWindow(window) + " takes no input now");
  auto& pm = window.GetPaintManager();
  // Enter in an edit is the edit's own: it reports "return" and the window
  // does not see the key.
  if (chord->vk == 0x0D && chord->modifiers == 0 && dynamic_cast<CEditUI*>(pm.GetFocus())) {
    pm.SendNotify(pm.GetFocus(), kEventReturn);
    return Done();
  }
  window.HandleMessage(kWmKeyDown, chord->vk, static_cast<std::intptr_t>(chord->modifiers));
  return Done();
}

Answer Rows(WindowImplBase& window, const Request& r) {
  auto found = FindNamed(window, r.control);
  if (!found.control) return Answer::Fail(found.error);
  auto* list = dynamic_cast<CListUI*>(found.control);
  if (!list) return Answer::Fail(Describe(found.control) + " (" + U8(found.control->GetClass()) + ") is not a list");
  auto lock = window.GetPaintManager().ModelLock();
  std::vector<std::string> lines;
  for (int i = 0; i < list->GetCount(); ++i) {
    CControlUI* row = list->GetItemAt(i);
    if (!row->IsVisible()) continue;
    std::string line;
    std::vector<std::wstring> seen;
    row->Visit([&](CControlUI& c) {
      if (&c == row || c.GetName().empty()) return true;
      if (c.AsContainer() && !dynamic_cast<CComboUI*>(&c)) return true;
      if (std::find(seen.begin(), seen.end(), c.GetName()) != seen.end()) return true;
      seen.push_back(c.GetName());
      line += (line.empty() ? "{" : ",") + Quoted(U8(c.GetName())) + ":" + Quoted(U8(TextOf(&c)));
      return true;
    });
    lines.push_back(line.empty() ? "{}" : line + "}");
  }
  return Answer::Lines(std::move(lines));
}

Answer Check(WindowImplBase& window, const Request& r) {
  auto found = FindNamed(window, r.control);
  if (!found.control) return Answer::Fail(found.error);
  auto* tree = dynamic_cast<CTreeViewUI*>(found.control);
  if (!tree) return Answer::Fail(Describe(found.control) + " (" + U8(found.control->GetClass()) + ") is not a tree");
  CTreeNodeUI* node = nullptr;
  {
    auto lock = window.GetPaintManager().ModelLock();
    node = tree->GetRoot(0);
    if (!node) return Answer::Fail(Describe(tree) + " is empty");
    std::wstring path = Utf8ToWide(r.text);
    std::replace(path.begin(), path.end(), L'\\', L'/');
    std::size_t begin = 0;
    while (begin <= path.size()) {
      std::size_t end = path.find(L'/', begin);
      if (end == std::wstring::npos) end = path.size();
      const std::wstring part = path.substr(begin, end - begin);
      begin = end + 1;
      if (part.empty() || part == L".") continue;
      CTreeNodeUI* child = nullptr;
      for (int i = 0; i < node->GetChildNodeCount() && !child; ++i) {
        if (node->GetChildNode(i)->GetText() == part) child = node->GetChildNode(i);
      }
      if (!child) return Answer::Fail(Describe(tree) + " has no entry " + U8(part) + " under " + U8(node->GetText()));
      node = child;
    }
    // The user opens the folders above the entry to see it.
    std::vector<CTreeNodeUI*> above;
    for (CTreeNodeUI* p = node->GetParentNode(); p; p = p->GetParentNode()) above.push_back(p);
    for (auto it = above.rbegin(); it != above.rend(); ++it) (*it)->SetExpanded(true);
    // ... and scrolls the tree until it shows.
    window.GetPaintManager().LayoutIfNeeded();
    tree->EnsureVisible(node);
  }
  if (!node->IsCheckBoxVisible()) return Answer::Fail(U8(node->GetText()) + " has no check box");
  return SetOption(window, node->GetCheckBox(), r.on);
}

Answer Shot(WindowImplBase& window, const Request& r, const WindowPicture& picture) {
  if (!picture) return Answer::Fail("this window toolkit cannot take pictures of windows");
  if (r.file.empty()) return Answer::Fail("no file named for the picture");
  window.GetPaintManager().LayoutIfNeeded();
  if (!picture(window, PathFromWide(Utf8ToWide(r.file)))) return Answer::Fail("could not write the picture to " + r.file);
  return Done();
}

Answer ListWindows() {
  std::vector<std::string> lines;
  for (WindowImplBase* w : WindowImplBase::OpenWindows()) {
    if (!w->IsWindow()) continue;
    lines.push_back(U8(w->GetWindowClassName()) + "\t" + U8(w->GetWindowName()) + "\t" +
                    (w->GetHWND()->IsShown() ? "visible" : "hidden"));
  }
  return Answer::Lines(std::move(lines));
}

Answer Tray(const Request& r) {
  unsigned mouse = 0;
  if (r.text == "left") mouse = kWmLButtonDown;
  else if (r.text == "right") mouse = kWmRButtonUp;
  else return Answer::Fail("tray takes left or right, not " + r.text);
  if (!CTrayIcon::DeliverMouse(mouse)) return Answer::Fail("no tray icon is shown");
  return Done();
}

Answer MenuItem(WindowImplBase& menu, const Request& r) {
  CControlUI* item = menu.GetPaintManager().FindControl(Utf8ToWide(r.text));
  if (!item) {
    std::string names;
    auto* menuWindow = dynamic_cast<CMenuWnd*>(&menu);
    if (auto* container = menuWindow ? menuWindow->GetMenuUI() : nullptr) {
      for (int i = 0; i < container->GetCount(); ++i) {
        CControlUI* c = container->GetItemAt(i);
        if (c->IsVisible() && !c->GetName().empty()) names += (names.empty() ? "" : ", ") + U8(c->GetName());
      }
    }
    return Answer::Fail("the open menu has no item " + r.text + (names.empty() ? "" : " (it has " + names + ")"));
  }
  if (auto why = MouseClick(menu, item)) return Answer::Fail(*why);
  return Done();
}

// 1 to 12 for "f1" to "f12", else 0.
int FunctionKeyNumber(const std::string& part) {
  if (part.size() < 2 || part.size() > 3 || part[0] != 'f') return 0;
  int n = 0;
  for (std::size_t i = 1; i < part.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(part[i]))) return 0;
    n = n * 10 + (part[i] - '0');
  }
  return n >= 1 && n <= 12 ? n : 0;
}

using WindowOperation = Answer (*)(WindowImplBase&, const Request&);

const std::map<std::string, WindowOperation>& WindowOperations() {
  static const std::map<std::string, WindowOperation> table{
      {"get", Get},   {"set", Set},     {"select", Select}, {"click", Click},
      {"key", Key},   {"rows", Rows},   {"check", Check},   {"menu", MenuItem},
  };
  return table;
}

}  // namespace

std::optional<KeyChord> ParseKeys(const std::string& keys, std::string* error) {
  static const std::map<std::string, unsigned> kNamed{
      {"enter", 0x0D},  {"return", 0x0D},   {"esc", 0x1B},    {"escape", 0x1B}, {"tab", 0x09},
      {"space", 0x20},  {"backspace", 0x08}, {"back", 0x08},  {"delete", 0x2E}, {"del", 0x2E},
      {"insert", 0x2D}, {"home", 0x24},     {"end", 0x23},    {"pageup", 0x21}, {"pagedown", 0x22},
      {"left", 0x25},   {"up", 0x26},       {"right", 0x27},  {"down", 0x28},
  };
  auto fail = [error](const std::string& why) -> std::optional<KeyChord> {
    if (error) *error = why;
    return std::nullopt;
  };
  KeyChord chord;
  std::size_t begin = 0;
  const std::string lower = AsciiLower(keys);
  while (begin <= lower.size()) {
    std::size_t end = lower.find('+', begin);
    if (end == std::string::npos) end = lower.size();
    const std::string part = lower.substr(begin, end - begin);
    begin = end + 1;
    if (part.empty()) return fail("no key in \"" + keys + "\"");
    if (part == "ctrl" || part == "control") {
      chord.modifiers |= static_cast<unsigned>(kKeyModControl);
      continue;
    }
    if (part == "shift") {
      chord.modifiers |= static_cast<unsigned>(kKeyModShift);
      continue;
    }
    if (part == "alt") {
      chord.modifiers |= static_cast<unsigned>(kKeyModAlt);
      continue;
    }
    if (chord.vk != 0) return fail("more than one key in \"" + keys + "\"");
    if (part.size() == 1 && std::isalnum(static_cast<unsigned char>(part[0]))) {
      chord.vk = static_cast<unsigned>(std::toupper(static_cast<unsigned char>(part[0])));
    } else if (int f = FunctionKeyNumber(part); f > 0) {
      chord.vk = 0x70 + static_cast<unsigned>(f) - 1;
    } else if (auto it = kNamed.find(part); it != kNamed.end()) {
      chord.vk = it->second;
    } else {
      return fail("unknown key " + part + " in \"" + keys + "\"");
    }
  }
  if (chord.vk == 0) return fail("\"" + keys + "\" holds only modifier keys");
  return chord;
}

Automation::Automation(WindowPicture picture) : picture_(std::move(picture)) {}

void Automation::Handle(const Request& r, const std::function<void(Answer)>& done) {
  if (r.op == "windows") return done(ListWindows());
  if (r.op == "tray") return done(Tray(r));

  std::function<Answer(WindowImplBase&)> work;
  WindowImplBase* window = nullptr;
  if (r.op == "shot") {
    WindowPicture picture = picture_;
    work = [r, picture](WindowImplBase& w) { return Shot(w, r, picture); };
  } else if (auto it = WindowOperations().find(r.op); it != WindowOperations().end()) {
    WindowOperation operation = it->second;
    work = [r, operation](WindowImplBase& w) { return operation(w, r); };
  } else {
    return done(Answer::Fail("unknown operation " + r.op));
  }
  if (r.op == "menu") {
    window = FindOpenMenu();
    if (!window) return done(Answer::Fail("no menu is open"));
  } else {
    if (r.windowClass.empty()) return done(Answer::Fail("no window class named"));
    window = FindWindowOfClass(Utf8ToWide(r.windowClass));
    if (!window) return done(Answer::Fail("no window of class " + r.windowClass + " is open"));
  }
  NativeWindow* native = window->GetHWND();
  if (native->IsOwnThread()) return done(work(*window));
  // Hop: this window's messages are handled on another thread; the request
  // is answered there, and `done` called there. The window is looked for
  // again there, as it may have gone meanwhile.
  native->Dispatch([window, work, done, cls = r.windowClass] {
    if (!IsOpen(window)) return done(Answer::Fail("the window " + cls + " closed"));
    done(work(*window));
  });
}

}  // namespace orlin::automation
