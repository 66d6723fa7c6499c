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
// Values are written as they are; a line break inside one (never seen from
// GetPrivateProfileStringA) would be written as "\n".  Without ZQ_APPMGR_LOG
// nothing is written.  "--version" prints a line and exits 0: the rig uses it
// to find out whether this architecture can run at all.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
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
std::string QuotedArgument(const char* commandLine) {
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

std::string ReadValue(const std::string& ini, const char* section, const char* key) {
  char value[4096];
  GetPrivateProfileStringA(section, key, "", value, sizeof value, ini.c_str());
  return value;
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
  char logPath[MAX_PATH * 4];
  DWORD length = GetEnvironmentVariableA("ZQ_APPMGR_LOG", logPath, sizeof logPath);
  if (length == 0 || length >= sizeof logPath) return 0;

  const char* commandLine = GetCommandLineA();
  std::string record = "START\nCMDLINE " + OneLine(commandLine) + "\n";
  std::string ini = QuotedArgument(commandLine);
  bool iniExists = !ini.empty() && FileExists(ini);
  record += "INI " + OneLine(ini) + (iniExists ? " exists=1\n" : " exists=0\n");
  if (iniExists) {
    std::string component = ReadValue(ini, "CEAppManager", "Component");
    std::string cabFiles = ReadValue(ini, component.c_str(), "CabFiles");
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
  HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(log);
  return 0;
}
