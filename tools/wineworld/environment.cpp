// The Wine installation and the Unix environment of a world's Wine
// processes (see world.h).
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "tools/common/helpers.h"
#include "world.h"

namespace zqworld {

const char kWine64[] = "/usr/lib/wine/wine64";
const char kWine32[] = "/usr/lib/wine/wine";
const char kWineServer[] = "/usr/lib/wine/wineserver";

namespace {

// No Mono or Gecko prompts (no network needed), no desktop menu entries.
const char kDllOverrides[] = "mscoree,mshtml=;winemenubuilder.exe=d";

using zq::ReadFile;
using zq::StartsWith;

}  // namespace

const char* ArchName(Arch arch) { return arch == Arch::x86_64 ? "x86_64" : "i686"; }

std::string Loader(Arch arch) { return arch == Arch::x86_64 ? kWine64 : kWine32; }

std::string WinPath(const fs::path& unixPath) {
  std::string text = fs::absolute(unixPath).lexically_normal().string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return "Z:" + text;
}

fs::path UnixPath(const std::string& winPath, const fs::path& prefix) {
  if (winPath.size() < 3 || winPath[1] != ':') return fs::path();
  const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(winPath[0])));
  if (drive != 'Z' && (drive != 'C' || prefix.empty())) return fs::path();
  std::string text = winPath.substr(2);
  std::replace(text.begin(), text.end(), '\\', '/');
  return drive == 'Z' ? fs::path(text) : fs::path((prefix / "drive_c").string() + text);
}

bool QemuServesI386() {
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc/sys/fs/binfmt_misc", error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string entry = ReadFile(it->path());
    const size_t interpreter = entry.find("\ninterpreter ");
    if (StartsWith(entry, "enabled\n") && interpreter != std::string::npos &&
        entry.find("qemu", interpreter) != std::string::npos && entry.find("\nmagic 7f454c4601") != std::string::npos)
      return true;
  }
  return false;
}

std::vector<std::string> World::Environment(Arch arch) const {
  // Wine and fontconfig write below HOME (caches, menu entries, links to the
  // user's folders): they get the world's own.  The user's X cookie stays
  // reachable for a display of the user's own.
  std::vector<std::string> env;
  std::string xauthority;
  for (const std::string& var : BaseEnvironment()) {
    if (StartsWith(var, "HOME=") && !std::getenv("XAUTHORITY")) xauthority = var.substr(5) + "/.Xauthority";
    if (!StartsWith(var, "HOME=") && !StartsWith(var, "XDG_")) env.push_back(var);
  }
  if (!xauthority.empty() && fs::exists(xauthority)) env.push_back("XAUTHORITY=" + xauthority);
  fs::create_directories(home);
  env.insert(env.end(),
             {"HOME=" + home.string(), "XDG_CACHE_HOME=" + (home / ".cache").string(),
              "XDG_CONFIG_HOME=" + (home / ".config").string(), "XDG_DATA_HOME=" + (home / ".local/share").string(),
              "WINEPREFIX=" + prefix.string(), "WINELOADER=" + Loader(arch), "WINEDEBUG=-all",
              std::string("WINEDLLOVERRIDES=") + kDllOverrides, "DISPLAY=" + display});
  // Where qemu runs 32-bit programs, Wine's reservation of their address
  // space takes some 65,000 mmap calls that qemu serves slowly: about 50 s
  // per process start.  A reserved guest space of this size cuts that to
  // about 2.5 s; smaller ones make Wine fail at start.  64-bit processes get
  // it too, as they start 32-bit ones (wineboot's, the setup's) that inherit
  // it; natively it means nothing.
  static const bool emulated = QemuServesI386();
  if (emulated) env.push_back("QEMU_RESERVED_VA=0x81000000");
  return env;
}

}  // namespace zqworld
