// Stand-in for the Windows CE Application Manager, installed by the Wine
// tests as CeAppMgr.exe.  It records how it was started and exits 0.
//
// Each start appends one record to the file named by the environment
// variable ZQ_APPMGR_LOG (inherited from the setup, which inherits it from
// the GUI driver), so a test can tell how often it ran:
//
//   START
//   CMDLINE <the whole command line, verbatim>
//   INI <path of the quoted Setup.ini> exists=0|1
//   CAB <item> exists=0|1   (one per comma-separated item of the CabFiles
//                             value of the Setup.ini's Component)
//   END
//
// Values are written as they are, in UTF-8 from their wide form (the command
// line, the log's path and the files are taken wide, so a folder named
// outside the ANSI code page reads right); a line break inside one (never
// seen from GetPrivateProfileString) would be written as "\n".  Without ZQ_APPMGR_LOG
// nothing is written.  "--version" prints a line and exits 0: the rig uses it
// to find out whether this architecture can run at all.
#include <windows.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// The first double-quoted part of the command line behind the program's own
// name: the setup passes "<install folder>\Setup.ini" there.
std::string QuotedArgument(const std::string& line) {
  const char* commandLine = line.c_str();
  const char* p = commandLine;
  // Skip the program name, quoted or not.
  if (*p == '"') {
    p = strchr(p + 1, '"');
    p = p ? p + 1 : commandLine + strlen(commandLine);
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  // A setup that leaves the program path unquoted splits it at its blanks, so
  // search the rest for the first quoted part rather than the next word.
  const char* open = strchr(p, '"');
  if (!open) return std::string();
  const char* close = strchr(open + 1, '"');
  if (!close) return std::string(open + 1);
  return std::string(open + 1, close);
}

std::string ReadValue(const std::string& ini, const std::string& section, const std::string& key) {
  wchar_t value[4096];
  GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), L"", value, 4096, Wide(ini).c_str());
  return Utf8(value);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("CeAppMgr stand-in (%d-bit)\n", static_cast<int>(sizeof(void*) * 8));
    return 0;
  }
  wchar_t logPath[MAX_PATH * 4];
  DWORD length = GetEnvironmentVariableW(L"ZQ_APPMGR_LOG", logPath, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return 0;

  const std::string commandLine = Utf8(GetCommandLineW());
  std::string record = "START\nCMDLINE " + OneLine(commandLine) + "\n";
  std::string ini = QuotedArgument(commandLine);
  bool iniExists = !ini.empty() && FileExists(ini);
  record += "INI " + OneLine(ini) + (iniExists ? " exists=1\n" : " exists=0\n");
  if (iniExists) {
    std::string component = ReadValue(ini, "CEAppManager", "Component");
    std::string cabFiles = ReadValue(ini, component, "CabFiles");
    std::string folder = FolderOf(ini);
    size_t start = 0;
    while (!cabFiles.empty() && start <= cabFiles.size()) {
      size_t comma = cabFiles.find(',', start);
      std::string item = cabFiles.substr(start, comma == std::string::npos ? std::string::npos
                                                                            : comma - start);
      if (!item.empty()) {
        bool exists = FileExists(folder + "\\" + item);
        record += "CAB " + OneLine(item) + (exists ? " exists=1\n" : " exists=0\n");
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  record += "END\n";

  // Opened for appending only, so two records never overwrite each other.
  HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(log);
  return 0;
}
