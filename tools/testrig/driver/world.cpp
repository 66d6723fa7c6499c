// The world the setup starts in: the App Paths key, its environment and its
// current directory.
#include "../utf8.h"
#include "driver.h"

namespace zqdriver {
namespace {

const char kAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE";

std::string ErrorText(const char* what, LONG code) {
  return std::string(what) + " failed with " + std::to_string(code);
}

// One registry view: a 32-bit setup reads the redirected 32-bit view, a
// 64-bit one the native view, so the driver writes both.
bool ApplyAppPathsInView(const World& world, REGSAM view, std::string* why) {
  if (world.appPaths == AppPathsMode::Missing) {
    LONG rc = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kAppPathsKey, view, 0);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      *why = ErrorText("RegDeleteKeyExA", rc);
      return false;
    }
    return true;
  }
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, nullptr, 0,
                            KEY_SET_VALUE | KEY_QUERY_VALUE | view, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    *why = ErrorText("RegCreateKeyExA", rc);
    return false;
  }
  if (world.appPaths == AppPathsMode::NoValue) {
    rc = RegDeleteValueA(key, "");
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) *why = ErrorText("RegDeleteValueA", rc);
  } else {
    // The stored size counts the terminating zero, as every REG_SZ writer does:
    // a value of 259 characters takes 260 bytes in the ANSI form a setup reads.
    const std::wstring value = Wide(world.appPathsValue);
    rc = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) *why = ErrorText("RegSetValueExW", rc);
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

}  // namespace

bool ApplyAppPaths(const World& world, std::string* why) {
  if (world.appPaths == AppPathsMode::Keep) return true;
  return ApplyAppPathsInView(world, KEY_WOW64_64KEY, why) &&
         ApplyAppPathsInView(world, KEY_WOW64_32KEY, why);
}

bool ApplyEnvironment(const World& world, std::string* why) {
  std::vector<std::string> settings = world.env;
  if (!world.temp.empty()) {
    settings.push_back("TMP=" + world.temp);
    settings.push_back("TEMP=" + world.temp);
  }
  for (const std::string& setting : settings) {
    size_t equals = setting.find('=');
    if (equals == std::string::npos || equals == 0) {
      *why = "not NAME=VALUE: " + setting;
      return false;
    }
    std::string name = setting.substr(0, equals);
    std::string value = setting.substr(equals + 1);
    // An empty value removes the variable.
    if (!SetEnvironmentVariableW(Wide(name).c_str(), value.empty() ? nullptr : Wide(value).c_str()) && !value.empty()) {
      *why = "SetEnvironmentVariableW(" + name + ") failed with " + std::to_string(GetLastError());
      return false;
    }
  }
  return true;
}

bool StartSetup(const World& world, PROCESS_INFORMATION* process, std::string* why) {
  std::wstring commandLine = Wide("\"" + world.exe + "\"");
  if (!world.args.empty()) commandLine += Wide(" " + world.args);
  const std::wstring exe = Wide(world.exe), cwd = Wide(world.cwd);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      cwd.empty() ? nullptr : cwd.c_str(), &startup, process)) {
    *why = "CreateProcessW failed with " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

}  // namespace zqdriver
