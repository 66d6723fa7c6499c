// Finding and reading the setup's windows from another process.  Everything
// here works across processes under Wine and Windows: window texts through
// WM_GETTEXT (marshalled by the system), styles, rectangles, owners, the
// focus (GetGUIThreadInfo), check states (BM_GETCHECK) and font handles
// (WM_GETFONT).  Font handles are only compared with each other: a GDI
// handle means nothing in the driver's own process.
#include <cstdio>

#include "driver.h"

namespace zqdriver {
namespace {

const DWORD kQueryTimeoutMs = 2000;  // for one message sent to the setup

struct WindowList {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context) {
  auto* list = reinterpret_cast<WindowList*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == list->processId) list->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
  WindowList list{processId, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&list));
  return list.windows;
}

std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool IsDialogWindow(HWND window) { return ClassOf(window) == "#32770"; }

std::vector<HWND> Children(HWND parent) {  // direct children in Z-order
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

int IdOf(HWND window) { return static_cast<int>(GetWindowLongPtrA(window, GWLP_ID)); }

LRESULT Query(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* ok) {
  DWORD_PTR result = 0;
  *ok = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kQueryTimeoutMs, &result) != 0;
  return static_cast<LRESULT>(result);
}

std::string TextOf(HWND window) {
  bool ok = false;
  LRESULT length = Query(window, WM_GETTEXTLENGTH, 0, 0, &ok);
  if (!ok) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
  }
  std::vector<char> buffer(static_cast<size_t>(length) + 2, '\0');
  LRESULT copied = Query(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &ok);
  if (!ok || copied < 0) return std::string();
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

std::string HandleText(const void* handle) {
  char text[32];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
  return text;
}

RECT RectIn(HWND window, HWND reference) {
  RECT rect;
  GetWindowRect(window, &rect);
  MapWindowPoints(HWND_DESKTOP, reference, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

const char* ButtonName(int id) {
  switch (id) {
    case IDOK:
      return "ok";
    case IDCANCEL:
      return "cancel";
    case IDABORT:
      return "abort";
    case IDRETRY:
      return "retry";
    case IDIGNORE:
      return "ignore";
    case IDYES:
      return "yes";
    case IDNO:
      return "no";
    case 8:
      return "close";
    case 9:
      return "help";
    case 10:
      return "tryagain";
    case 11:
      return "continue";
  }
  return nullptr;
}

bool IsBoxButton(HWND window) { return ButtonName(IdOf(window)) && ClassOf(window) == "Button"; }

// The name a test uses for a page of the wizard, by the controls it holds.
std::string PageName(HWND page) {
  if (GetDlgItem(page, 1006) || GetDlgItem(page, 1007) || GetDlgItem(page, 1012)) return "welcome";
  if (GetDlgItem(page, 1010) || GetDlgItem(page, 1011)) return "header";
  return "page";
}

std::string FocusText(HWND focus, HWND wizard) {
  if (!focus) return "none";
  if (focus == wizard) return "wizard";
  return std::to_string(IdOf(focus));
}

bool IsCheckable(HWND window) {
  if (ClassOf(window) != "Button") return false;
  LONG type = GetWindowLongA(window, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON ||
         type == BS_3STATE || type == BS_AUTO3STATE;
}

std::string FontText(const std::map<HWND, Inside>& facts, HWND window) {
  auto found = facts.find(window);
  if (found == facts.end()) return "font=?";
  const Inside& inside = found->second;
  if (inside.font == "none") return "font=none";
  return "font=" + inside.font + " face=" + Quote(inside.face) + " height=" + std::to_string(inside.height) +
         " weight=" + std::to_string(inside.weight) + " charset=" + std::to_string(inside.charset);
}

// One CTRL line of a STATE block.
std::string DescribeControl(HWND control, const std::string& parentName, const std::map<HWND, Inside>& facts,
                            HWND wizard, int zIndex) {
  LONG style = GetWindowLongA(control, GWL_STYLE);
  std::string line = "CTRL parent=" + parentName + " id=" + std::to_string(IdOf(control)) +
                     " class=" + Quote(ClassOf(control)) + " z=" + std::to_string(zIndex);
  if (IsDialogWindow(control)) line += " page=" + PageName(control);
  line += " text=" + Quote(TextOf(control));
  line += std::string(" shown=") + (IsWindowVisible(control) ? "1" : "0");
  line += std::string(" enabled=") + (IsWindowEnabled(control) ? "1" : "0");
  if (IsCheckable(control)) {
    bool ok = false;
    LRESULT check = Query(control, BM_GETCHECK, 0, 0, &ok);
    line += " checked=" + (ok ? std::to_string(check) : std::string("?"));
  }
  line += " rect=" + RectText(RectIn(control, wizard));
  line += " style=" + Hex8(static_cast<DWORD>(style));
  line += " " + FontText(facts, control);
  return line;
}

void DescribeChildren(HWND parent, const std::string& parentName, const std::map<HWND, Inside>& facts, HWND wizard,
                      std::vector<std::string>* lines) {
  int zIndex = 0;
  for (HWND child : Children(parent)) {
    lines->push_back(DescribeControl(child, parentName, facts, wizard, zIndex++));
    if (IsDialogWindow(child)) DescribeChildren(child, PageName(child), facts, wizard, lines);
  }
}

void DescribeTree(HWND window, std::vector<std::string>* lines) {
  lines->push_back("WINDOW class=" + Quote(ClassOf(window)) + " id=" + std::to_string(IdOf(window)) +
                   " text=" + Quote(TextOf(window)));
  for (HWND child : Children(window)) DescribeTree(child, lines);
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

HWND FindWizard(const Target& target) {
  for (HWND window : TopLevelWindows(target.processId))
    if (IsWindowVisible(window) && IsDialogWindow(window) && GetDlgItem(window, 1000)) return window;
  return nullptr;
}

HWND FindBox(const Target& target) {
  for (HWND window : TopLevelWindows(target.processId)) {
    if (!IsWindowVisible(window) || !IsDialogWindow(window) || GetDlgItem(window, 1000)) continue;
    for (HWND child : Children(window))
      if (IsBoxButton(child)) return window;
  }
  return nullptr;
}

bool ProcessEnded(const Target& target) { return WaitForSingleObject(target.process, 0) == WAIT_OBJECT_0; }

std::string DescribeBox(HWND box, HWND wizard) {
  std::map<HWND, Inside> facts = Probe(box);
  std::string text, buttons, iconState = "none";
  HWND defaultButton = nullptr;
  for (HWND child : Children(box)) {
    std::string cls = ClassOf(child);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (IsBoxButton(child) && IsWindowVisible(child)) {
      if (!buttons.empty()) buttons += ",";
      buttons += ButtonName(IdOf(child));
      if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) defaultButton = child;
    } else if (cls == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
      if (IsWindowVisible(child)) {
        auto found = facts.find(child);
        iconState = found == facts.end() ? "shown" : found->second.icon;
      }
    } else if (cls == "Static" && text.empty()) {
      text = TextOf(child);
    }
  }
  // The button styled BS_DEFPUSHBUTTON is the default; Wine's boxes answer
  // DM_GETDEFID with IDOK even when they have no OK button.
  std::string defaultName = "none";
  if (defaultButton) {
    defaultName = ButtonName(IdOf(defaultButton));
  } else {
    bool ok = false;
    LRESULT defId = Query(box, DM_GETDEFID, 0, 0, &ok);
    HWND named = ok && HIWORD(defId) == DC_HASDEFID ? GetDlgItem(box, LOWORD(defId)) : nullptr;
    if (named && IsBoxButton(named) && IsWindowVisible(named)) defaultName = ButtonName(IdOf(named));
  }

  HWND owner = GetWindow(box, GW_OWNER);
  std::string ownerText = !owner ? "none" : owner == wizard && wizard ? "wizard" : HandleText(owner);
  return "BOX caption=" + Quote(TextOf(box)) + " text=" + Quote(text) +
         " buttons=" + (buttons.empty() ? "none" : buttons) + " default=" + defaultName + " icon=" + iconState +
         " owner=" + ownerText;
}

std::vector<std::string> DescribeWizard(HWND wizard, DWORD threadId) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  HWND focus = GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : nullptr;
  RECT client;
  GetClientRect(wizard, &client);
  POINT units = DialogBaseUnits();
  std::map<HWND, Inside> facts = Probe(wizard);
  std::vector<std::string> lines;
  lines.push_back("STATE title=" + Quote(TextOf(wizard)) + " focus=" + FocusText(focus, wizard) +
                  " units=" + std::to_string(units.x) + "," + std::to_string(units.y) +
                  " client=" + std::to_string(client.right) + "," + std::to_string(client.bottom) +
                  " style=" + Hex8(static_cast<DWORD>(GetWindowLongA(wizard, GWL_STYLE))));
  DescribeChildren(wizard, "wizard", facts, wizard, &lines);
  lines.push_back("END");
  return lines;
}

std::vector<std::string> DescribeAllWindows(const Target& target) {
  std::vector<std::string> lines;
  for (HWND window : TopLevelWindows(target.processId)) DescribeTree(window, &lines);
  return lines;
}

std::string ClickBlocker(HWND control) {
  if (!control || !IsWindow(control)) return "no such control";
  if (!IsWindowVisible(control)) return "hidden";
  if (!IsWindowEnabled(control)) return "disabled";
  if (!IsWindowEnabled(GetAncestor(control, GA_ROOT))) return "its window is disabled (a modal box is open)";
  return std::string();
}

bool Settle(HWND window, HANDLE process, DWORD timeoutMs) {
  bool inTime = true;
  if (WaitUntilHandled(window, process, timeoutMs, &inTime)) return inTime;
  // Without the probe: a sent message is handled before anything posted, so
  // one ping can come back before the posted action is taken from the queue.
  // The second ping, sent a moment later, comes back only when the thread
  // pumps messages again: after handling the action, or inside a modal loop
  // the action opened.  A thread that is slow to take the action can still
  // answer the second ping first.
  for (int ping = 0; ping < 2; ++ping) {
    if (ping) Sleep(30);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result)) {
      if (!IsWindow(window)) return true;  // the window is gone: nothing to wait for
      return false;
    }
  }
  return true;
}

POINT DialogBaseUnits() {
  // A hidden dialog of our own with the setup's dialog font: MapDialogRect
  // needs the dialog's own font data, which only its process has.
  static POINT units = {0, 0};
  if (units.x) return units;
  alignas(4) WORD buffer[64] = {};
  auto* header = reinterpret_cast<DLGTEMPLATE*>(buffer);
  header->style = WS_POPUP | DS_SETFONT;
  header->cx = 100;
  header->cy = 100;
  WORD* p = reinterpret_cast<WORD*>(header + 1);
  *p++ = 0;  // no menu
  *p++ = 0;  // default class
  *p++ = 0;  // no title
  *p++ = 8;  // point size
  for (const char* face = "MS Sans Serif"; *face; ++face) *p++ = static_cast<WORD>(*face);
  *p++ = 0;
  HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), header, nullptr, QuietDialogProc, 0);
  if (!dialog) return units;
  RECT rect = {0, 0, 4, 8};
  MapDialogRect(dialog, &rect);
  DestroyWindow(dialog);
  units.x = rect.right;
  units.y = rect.bottom;
  return units;
}

}  // namespace zqdriver
