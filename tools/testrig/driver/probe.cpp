// The driver's side of zqprobe.dll (see ../probe.cpp): hooks the setup's
// thread for one message and reads what the hook wrote.
#include <cstdio>
#include <cstdlib>

#include "driver.h"

namespace zqdriver {
namespace {

const DWORD kMappingBytes = 256 * 1024;
const DWORD kProbeTimeoutMs = 3000;

struct Channel {
  HOOKPROC hook = nullptr;
  HMODULE module = nullptr;
  HANDLE mapping = nullptr;
  HANDLE done = nullptr;
  char* view = nullptr;
};

// The DLL beside the driver, and the mapping and event it answers through.
Channel* OpenChannel() {
  static Channel channel;
  static bool tried = false;
  if (tried) return channel.view ? &channel : nullptr;
  tried = true;
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (!length || length >= MAX_PATH) return nullptr;
  char* slash = strrchr(path, '\\');
  if (!slash || slash - path + 12 >= MAX_PATH) return nullptr;
  strcpy(slash + 1, "zqprobe.dll");
  channel.module = LoadLibraryA(path);
  if (!channel.module) return nullptr;
  channel.hook = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(GetProcAddress(channel.module, "ZqProbeHook")));
  std::string suffix = std::to_string(GetCurrentProcessId());
  channel.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       kMappingBytes, ("Local\\ZQProbe-" + suffix).c_str());
  channel.done = CreateEventA(nullptr, FALSE, FALSE, ("Local\\ZQProbeDone-" + suffix).c_str());
  if (!channel.hook || !channel.mapping || !channel.done) return nullptr;
  channel.view = static_cast<char*>(MapViewOfFile(channel.mapping, FILE_MAP_WRITE, 0, 0, 0));
  return channel.view ? &channel : nullptr;
}

UINT ProbeMessage() {
  static const UINT message = RegisterWindowMessageA("ZQ_PROBE");
  return message;
}

// The probe hooked into the thread of `window`, with its channel's event
// reset; null when the channel or the hook cannot be had.
HHOOK HookProbe(HWND window, Channel** channel) {
  *channel = OpenChannel();
  if (!*channel) return nullptr;
  HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, (*channel)->hook, (*channel)->module,
                                 GetWindowThreadProcessId(window, nullptr));
  if (hook) ResetEvent((*channel)->done);
  return hook;
}

}  // namespace

bool WaitUntilHandled(HWND window, HANDLE process, DWORD timeoutMs, bool* inTime) {
  Channel* channel = nullptr;
  HHOOK hook = HookProbe(window, &channel);
  if (!hook) return false;
  PostMessageA(window, ProbeMessage(), GetCurrentProcessId(), 1);
  // Posted messages are taken in order, so the marker comes after the action.
  // A window destroyed meanwhile drops the marker: stop waiting then.
  HANDLE handles[2] = {channel->done, process};
  DWORD start = GetTickCount();
  *inTime = true;
  for (;;) {
    DWORD got = WaitForMultipleObjects(2, handles, FALSE, 20);
    if (got == WAIT_OBJECT_0 || got == WAIT_OBJECT_0 + 1 || !IsWindow(window)) break;
    if (GetTickCount() - start >= timeoutMs) {
      *inTime = false;
      break;
    }
  }
  UnhookWindowsHookEx(hook);
  return true;
}

std::map<HWND, Inside> Probe(HWND root) {
  std::map<HWND, Inside> facts;
  Channel* channel = nullptr;
  HHOOK hook = HookProbe(root, &channel);
  if (!hook) return facts;
  channel->view[0] = '\0';
  PostMessageA(root, ProbeMessage(), GetCurrentProcessId(), 0);
  bool answered = WaitForSingleObject(channel->done, kProbeTimeoutMs) == WAIT_OBJECT_0;
  UnhookWindowsHookEx(hook);
  if (!answered) return facts;

  for (const char* line = channel->view; *line;) {
    const char* end = strchr(line, '\n');
    if (!end) break;
    std::string text(line, end);
    line = end + 1;
    unsigned long long window = 0, font = 0, parentFont = 0;
    long height = 0, weight = 0;
    int charset = 0;
    char icon[32] = "";
    // The face may be empty: "" between the handles and the numbers.
    size_t open = text.find('"'), close = text.rfind('"');
    if (open == std::string::npos || close <= open) continue;
    if (std::sscanf(text.c_str(), "%llX %llX %llX", &window, &font, &parentFont) != 3) continue;
    if (std::sscanf(text.c_str() + close + 1, "%ld %ld %d %31s", &height, &weight, &charset,
                    icon) != 4)
      continue;
    std::string faceText = text.substr(open + 1, close - open - 1);
    Inside inside;
    inside.font = !font ? "none" : font == parentFont ? "dialog" : "own";
    inside.face = faceText;
    inside.height = height;
    inside.weight = weight;
    inside.charset = charset;
    inside.icon = icon;
    facts[reinterpret_cast<HWND>(static_cast<uintptr_t>(window))] = inside;
  }
  return facts;
}

}  // namespace zqdriver
