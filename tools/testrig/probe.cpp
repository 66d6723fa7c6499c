// zqprobe.dll: the part of the GUI driver that runs inside the setup's own
// process, for what no window message tells another process: which font a
// control uses (WM_GETFONT does not cross processes under Wine, and a font
// handle means nothing outside its process) and which icon a message box
// shows.
//
// The driver installs ZqProbeHook as a WH_GETMESSAGE hook on the setup's
// thread and posts the registered message "ZQ_PROBE" (wParam: the driver's
// process ID) to a top-level window.  When the setup's message loop takes it,
// the hook describes that window and all its descendants into the file
// mapping "Local\ZQProbe-<pid>" as text lines
//   HWND FONT PARENTFONT "FACE" HEIGHT WEIGHT CHARSET ICON
// (handles in hex; FACE empty and numbers 0 when the control has no font;
// ICON hand, question, exclamation, asterisk, other or none for icon
// statics, - for other windows), then sets the event "Local\ZQProbeDone-<pid>".
// With lParam 1 the message is only a marker: the hook sets the event at
// once, which tells the driver that everything posted before the marker has
// been handled (or a modal loop has started taking messages).  The message
// itself is turned into WM_NULL.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const DWORD kMappingBytes = 256 * 1024;

struct Output {
  std::string text;
};

const char* IconName(HWND control) {
  char cls[32] = "";
  GetClassNameA(control, cls, sizeof cls);
  bool iconStatic = lstrcmpiA(cls, "Static") == 0 &&
                    (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
  if (!iconStatic) return "-";
  HICON icon = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
  if (!icon) return "none";
  // Shared system icons: the same handle for every LoadIcon in one process.
  if (icon == LoadIconA(nullptr, IDI_HAND)) return "hand";
  if (icon == LoadIconA(nullptr, IDI_QUESTION)) return "question";
  if (icon == LoadIconA(nullptr, IDI_EXCLAMATION)) return "exclamation";
  if (icon == LoadIconA(nullptr, IDI_ASTERISK)) return "asterisk";
  return "other";
}

void Describe(HWND window, Output* out) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  HWND parent = GetParent(window);
  HFONT parentFont =
      parent ? reinterpret_cast<HFONT>(SendMessageA(parent, WM_GETFONT, 0, 0)) : nullptr;
  LOGFONTA logFont = {};
  if (!font || !GetObjectA(font, sizeof logFont, &logFont)) logFont = LOGFONTA{};
  char line[512];
  std::snprintf(line, sizeof line, "%llX %llX %llX \"%s\" %ld %ld %d %s\n",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(font)),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(parentFont)),
                logFont.lfFaceName, static_cast<long>(logFont.lfHeight),
                static_cast<long>(logFont.lfWeight), logFont.lfCharSet, IconName(window));
  out->text += line;
}

BOOL CALLBACK DescribeChild(HWND window, LPARAM context) {
  Describe(window, reinterpret_cast<Output*>(context));
  return TRUE;
}

void Answer(HWND root, DWORD driverPid, bool markerOnly) {
  std::string suffix = std::to_string(driverPid);
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, ("Local\\ZQProbe-" + suffix).c_str());
  HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, ("Local\\ZQProbeDone-" + suffix).c_str());
  if (done && markerOnly) {
    SetEvent(done);
  } else if (mapping && done) {
    Output out;
    Describe(root, &out);
    EnumChildWindows(root, DescribeChild, reinterpret_cast<LPARAM>(&out));
    if (void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kMappingBytes)) {
      size_t length = out.text.size() < kMappingBytes - 1 ? out.text.size() : kMappingBytes - 1;
      memcpy(view, out.text.data(), length);
      static_cast<char*>(view)[length] = '\0';
      UnmapViewOfFile(view);
    }
    SetEvent(done);
  }
  if (mapping) CloseHandle(mapping);
  if (done) CloseHandle(done);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ZqProbeHook(int code, WPARAM wParam,
                                                              LPARAM lParam) {
  static const UINT probeMessage = RegisterWindowMessageA("ZQ_PROBE");
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (message->message == probeMessage) {
      Answer(message->hwnd, static_cast<DWORD>(message->wParam), message->lParam == 1);
      message->message = WM_NULL;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
