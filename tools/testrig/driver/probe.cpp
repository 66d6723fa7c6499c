// The driver's side of zqprobe.dll (see ../probe.cpp): hooks the setup's
// thread for one message and reads what the hook wrote.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

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

// The RVA of export `name` in the PE file at `path`, or 0.
DWORD ExportRva(const char* path, const char* name) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  static char image[1 << 20];
  DWORD size = 0;
  ReadFile(file, image, sizeof image, &size, nullptr);
  CloseHandle(file);
  auto at = [&](DWORD offset, DWORD bytes) -> const char* { return offset + bytes <= size ? image + offset : nullptr; };
  const char* dos = at(0, sizeof(IMAGE_DOS_HEADER));
  const char* nt = dos ? at(reinterpret_cast<const IMAGE_DOS_HEADER*>(dos)->e_lfanew, sizeof(IMAGE_NT_HEADERS32)) : nullptr;
  if (!nt) return 0;
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS32*>(nt);
  const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
      nt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + headers->FileHeader.SizeOfOptionalHeader);
  // File offset of an RVA, through the section that holds it.
  auto offsetOf = [&](DWORD rva) -> DWORD {
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& section = sections[i];
      if (!at(static_cast<DWORD>(reinterpret_cast<const char*>(&section + 1) - image), 0)) return 0;
      if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData)
        return rva - section.VirtualAddress + section.PointerToRawData;
    }
    return 0;
  };
  const IMAGE_DATA_DIRECTORY& directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const char* exports = at(offsetOf(directory.VirtualAddress), sizeof(IMAGE_EXPORT_DIRECTORY));
  if (!exports || !directory.VirtualAddress) return 0;
  const auto* table = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(exports);
  for (DWORD i = 0; i < table->NumberOfNames; ++i) {
    const char* names = at(offsetOf(table->AddressOfNames) + 4 * i, 4);
    const char* ordinals = at(offsetOf(table->AddressOfNameOrdinals) + 2 * i, 2);
    const char* text = names ? at(offsetOf(*reinterpret_cast<const DWORD*>(names)), 1) : nullptr;
    if (!text || !ordinals || strncmp(text, name, size - (text - image)) != 0) continue;
    const char* function = at(offsetOf(table->AddressOfFunctions) + 4 * *reinterpret_cast<const WORD*>(ordinals), 4);
    return function ? *reinterpret_cast<const DWORD*>(function) : 0;
  }
  return 0;
}

// The probe for a setup of the driver's own architecture: the DLL beside the
// driver.  For a 32-bit setup of the 64-bit driver (which saves emulating the
// driver where 32-bit programs run under qemu): the rig puts the 64-bit probe
// into the prefix's system32 folder and the 32-bit one into syswow64.  A hook
// is registered as its module's path and the procedure's offset in it; the
// 32-bit setup, loading that system32 path, is redirected to syswow64, so the
// offset given must be that of the 32-bit DLL's export.
bool LoadProbe(bool wow, Channel* channel) {
  char path[MAX_PATH];
  if (!wow) {
    // Wide: the driver may lie below a folder named outside the code page.
    wchar_t own[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (!length || length >= MAX_PATH) return false;
    wchar_t* slash = wcsrchr(own, L'\\');
    if (!slash || slash - own + 12 >= MAX_PATH) return false;
    wcscpy(slash + 1, L"zqprobe.dll");
    channel->module = LoadLibraryW(own);
    channel->hook = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(channel->module, "ZqProbeHook")));
    return channel->module && channel->hook;
  }
  UINT length = GetSystemWow64DirectoryA(path, MAX_PATH - 16);
  if (!length || length >= MAX_PATH - 16) return false;
  strcpy(path + length, "\\zqprobe.dll");
  const DWORD rva = ExportRva(path, "ZqProbeHook");
  length = GetSystemDirectoryA(path, MAX_PATH - 16);
  if (!rva || !length || length >= MAX_PATH - 16) return false;
  strcpy(path + length, "\\zqprobe.dll");
  channel->module = LoadLibraryA(path);
  channel->hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<char*>(channel->module) + rva);
  return channel->module != nullptr;
}

// The probe for the setup's architecture, and the mapping and event it
// answers through.
Channel* OpenChannel(HWND window) {
  static Channel channels[2];
  static bool tried[2];
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  BOOL wow = FALSE;
  if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
    IsWow64Process(process, &wow);
    CloseHandle(process);
  }
  BOOL ownWow = FALSE;
  IsWow64Process(GetCurrentProcess(), &ownWow);
  const bool cross = wow && !ownWow;
  Channel& channel = channels[cross];
  if (tried[cross]) return channel.view ? &channel : nullptr;
  tried[cross] = true;
  if (!LoadProbe(cross, &channel)) return nullptr;
  std::string suffix = std::to_string(GetCurrentProcessId());
  channel.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       kMappingBytes, ("Local\\ZQProbe-" + suffix).c_str());
  channel.done = CreateEventA(nullptr, FALSE, FALSE, ("Local\\ZQProbeDone-" + suffix).c_str());
  if (!channel.mapping || !channel.done) return nullptr;
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
  *channel = OpenChannel(window);
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
