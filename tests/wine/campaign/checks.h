// What the campaign, fault and hostile-input tests look at besides the
// driver's transcript: files that appeared or changed outside a Workspace,
// Wine's crash debugger, and whether a box text is one of the program's
// messages.  Header only: every Wine test program is built from its one
// source file.
#pragma once

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/messages.h"
#include "rig.h"

namespace zqcheck {

namespace fs = std::filesystem;

// --- files outside the Workspace ---------------------------------------------

// Whether a path relative to a test's folder lies inside a Workspace of its
// temporary folder: "temp/_ZQI????" or below it.
inline bool InWorkspace(const std::string& relative, const std::string& temp = "temp") {
  const std::string prefix = temp + "/_ZQI";
  return relative.size() >= prefix.size() + 4 && relative.compare(0, prefix.size(), prefix) == 0 &&
         (relative.size() == prefix.size() + 4 || relative[prefix.size() + 4] == '/');
}

// Every file and folder below a root with its size and modification time;
// a Workspace's contents are left out.
class Snapshot {
 public:
  explicit Snapshot(const fs::path& root, const std::string& temp = "temp") : root_(root) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
      const std::string relative = fs::relative(it->path(), root).generic_string();
      if (InWorkspace(relative, temp)) continue;
      std::error_code ignored;
      const bool file = it->is_regular_file(ignored);
      auto time = fs::last_write_time(it->path(), ignored).time_since_epoch().count();
      entries_.push_back(
          relative +
          (file ? " size=" + std::to_string(it->file_size(ignored)) + " time=" + std::to_string(time) : "/"));
    }
    std::sort(entries_.begin(), entries_.end());
  }

  // What differs in `later`: "+x" appeared, "-x" went, for files also a
  // changed size or time.  Empty when nothing changed.
  std::vector<std::string> Changes(const Snapshot& later) const {
    std::vector<std::string> gone, added;
    std::set_difference(entries_.begin(), entries_.end(), later.entries_.begin(), later.entries_.end(),
                        std::back_inserter(gone));
    std::set_difference(later.entries_.begin(), later.entries_.end(), entries_.begin(), entries_.end(),
                        std::back_inserter(added));
    std::vector<std::string> changes;
    for (const std::string& entry : gone) changes.push_back("-" + entry);
    for (const std::string& entry : added) changes.push_back("+" + entry);
    return changes;
  }

  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
  std::vector<std::string> entries_;
};

// Files named data*.tmp in every Workspace of a temporary folder.
inline std::vector<std::string> DataFilesLeft(const fs::path& temp) {
  std::vector<std::string> left;
  for (const fs::path& workspace : zqrig::Workspaces(temp))
    for (const std::string& name : zqrig::FilesIn(workspace))
      if (name.rfind("data", 0) == 0 && name.size() == 12 && name.compare(8, 4, ".tmp") == 0)
        left.push_back(workspace.filename().string() + "/" + name);
  return left;
}

// --- Wine's crash debugger ---------------------------------------------------

// winedbg processes of a prefix: Wine starts "winedbg --auto" on an
// unhandled exception, and its "Program Error" dialog keeps the crashed
// program alive.  Found through /proc by the prefix in their environment,
// so that rigs of other test runs are not looked at.
inline std::vector<int> CrashDebuggers(const fs::path& prefix) {
  std::vector<int> found;
  const std::string wanted = "WINEPREFIX=" + prefix.string();
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc", error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string pid = it->path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream commFile(it->path() / "comm");
    std::string comm;
    std::getline(commFile, comm);
    if (comm.rfind("winedbg", 0) != 0) continue;
    std::ifstream environFile(it->path() / "environ", std::ios::binary);
    std::string variable;
    while (std::getline(environFile, variable, '\0')) {
      if (variable == wanted) {
        found.push_back(std::stoi(pid));
        break;
      }
    }
  }
  return found;
}

// Ends the crash debuggers that a test's own run started, by their ids, and
// says which they were.
inline std::string EndCrashDebuggers(const fs::path& prefix) {
  std::string ended;
  for (int pid : CrashDebuggers(prefix)) {
    kill(pid, SIGKILL);
    ended += (ended.empty() ? "" : ", ") + std::to_string(pid);
  }
  return ended;
}

// --- the message catalogue ---------------------------------------------------

// Whether text is message id as the program formats it: "%08X" eight
// upper-case hexadecimal digits, "%s" "The file may be corrupted." in the
// damaged-payload messages and any text in the others.
inline bool IsMessage(const std::string& text, MessageId id) {
  const std::string pattern = Messages[id];
  const bool osMessage = pattern.find("%08X") != std::string::npos;
  const std::string corrupted = Messages[MSG_MAY_BE_CORRUPTED];
  // Backtracking match: a "%s" of an OS message may hold anything.
  struct Matcher {
    const std::string& p;
    const std::string& t;
    bool os;
    const std::string& corrupted;
    bool At(size_t i, size_t j) const {
      if (i == p.size()) return j == t.size();
      if (p.compare(i, 4, "%08X") == 0) {
        if (j + 8 > t.size()) return false;
        for (size_t k = j; k < j + 8; ++k)
          if (!std::isxdigit(static_cast<unsigned char>(t[k])) || std::islower(t[k])) return false;
        return At(i + 4, j + 8);
      }
      if (p.compare(i, 2, "%s") == 0) {
        if (!os) return t.compare(j, corrupted.size(), corrupted) == 0 && At(i + 2, j + corrupted.size());
        for (size_t end = j; end <= t.size(); ++end)
          if (At(i + 2, end)) return true;
        return false;
      }
      return j < t.size() && p[i] == t[j] && At(i + 1, j + 1);
    }
  };
  return Matcher{pattern, text, osMessage, corrupted}.At(0, 0);
}

// The message of the catalogue that text is, if any.
inline std::optional<MessageId> CatalogueMessage(const std::string& text) {
  for (int id = 0; id < MSG_COUNT; ++id)
    if (IsMessage(text, static_cast<MessageId>(id))) return static_cast<MessageId>(id);
  return std::nullopt;
}

// --- small things ------------------------------------------------------------

inline std::string Joined(const std::vector<std::string>& items, const std::string& separator = ", ") {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text.empty() ? "(nothing)" : text;
}

inline std::vector<uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace zqcheck
