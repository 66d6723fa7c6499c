// Working a setup in a Wine world through the GUI driver
// (tools/testrig/driver): its script, the App Paths key it sets up, and what
// its lines (protocol.h) say: the wizard, message boxes, window states, the
// exit code.
#pragma once

#include <stdint.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/testrig/driver/protocol.h"
#include "world.h"

namespace zqworld {

// The actions of one run, in order (see tools/testrig/driver/main.cpp).
class Script {
 public:
  Script& Wizard() { return Add("wizard"); }
  Script& Box() { return Add("box"); }
  Script& Answer(const std::string& button) { return Add("answer:" + button); }
  Script& Click(int id) { return Add("click:" + std::to_string(id)); }
  Script& Command(int id) { return Add("command:" + std::to_string(id)); }
  Script& Esc() { return Add("esc"); }
  Script& State() { return Add("state"); }
  Script& Windows() { return Add("windows"); }
  Script& NoBox(int ms) { return Add("nobox:" + std::to_string(ms)); }
  Script& Capture(const std::string& name) { return Add("capture:" + name); }
  Script& Exit() { return Add("exit"); }
  Script& Add(const std::string& action) {
    actions.push_back(action);
    return *this;
  }
  std::vector<std::string> actions;
};

// How the App Paths key of CeAppMgr.exe is before the setup starts.
struct AppPaths {
  enum class Kind { Keep, Value, NoValue, Missing };
  static AppPaths Keep() { return {Kind::Keep, {}}; }
  static AppPaths Missing() { return {Kind::Missing, {}}; }
  static AppPaths NoValue() { return {Kind::NoValue, {}}; }
  static AppPaths Value(const std::string& windowsText) { return {Kind::Value, windowsText}; }
  static AppPaths Pointing(const fs::path& unixPath) { return Value(WinPath(unixPath)); }
  // "C:\aaa...a\CeAppMgr.exe" of exactly `characters` characters (16 or more).
  static AppPaths OfLength(size_t characters);
  Kind kind;
  std::string value;
};

// One run of a program under the driver.
struct Launch {
  Arch arch = Arch::x86_64;  // of the program
  fs::path exe;              // Unix path of the program
  std::string args;          // its command line behind the path
  fs::path cwd;              // its current directory
  fs::path temp;             // its TMP and TEMP
  AppPaths appPaths = AppPaths::Missing();
  // More Windows environment; WINEDLLOVERRIDES is added to the world's own.
  std::map<std::string, std::string> env;
  int timeoutMs = 20000;  // of every wait of the driver
  fs::path captures;      // where "capture:NAME" leaves NAME.png (a screenshot of the display)
  Script script;
};

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};
std::ostream& operator<<(std::ostream& out, const Rect& rect);

struct Box {
  std::string caption, text;
  std::vector<std::string> buttons;  // "ok", "yes", "no", ...
  std::string defaultButton;         // "no", or "none"
  std::string icon;                  // "hand", "question", ..., "none"
  std::string owner;                 // "none", "wizard" or a handle
  std::string line;                  // the driver's line
};

struct Control {
  std::string parent;  // "wizard", "welcome", "header", "page"
  int id = 0;          // -1 for 0xFFFF
  std::string cls, page, text;
  int z = 0;           // 0 = top of its parent's Z-order
  bool shown = false;  // IsWindowVisible
  bool enabled = false;
  int checked = -1;  // -1 for controls that cannot be checked
  Rect rect;         // pixels of the wizard's client area
  uint32_t style = 0;
  std::string font;  // "dialog", "own", "none", "?"
  std::string face;
  long height = 0, weight = 0;
  int charset = -1;
  std::string line;
};

struct State {
  std::string title, focus;      // focus: control ID, "wizard", "none"
  int unitsX = 0, unitsY = 0;    // dialog base units
  int clientW = 0, clientH = 0;  // the wizard's client area in pixels
  uint32_t style = 0;            // the wizard's own
  std::vector<Control> controls;
  std::vector<std::string> lines;
  // The first control with this ID (in a page: parent "welcome"/"header").
  const Control* Find(int id, const std::string& parent = std::string()) const;
  const Control* Page(const std::string& name) const;  // the page window
  // A template rectangle in dialog units, in pixels as the dialog manager
  // makes it: x, y, cx and cy each converted with the dialog's base units.
  Rect Pixels(int x, int y, int w, int h) const;
  std::string Transcript() const;
};

struct Outcome {
  std::vector<std::string> lines;        // all the driver printed
  std::vector<zqprotocol::Line> parsed;  // the same lines, read
  std::string stderrText;
  std::vector<Box> boxes;
  std::vector<State> states;
  std::vector<std::string> errors;    // ERROR and TIMEOUT lines
  std::vector<fs::path> screenshots;  // one per "capture", taken or not
  std::optional<uint32_t> exitCode;   // from EXIT
  std::string wizardTitle;            // from WIZARD
  double seconds = 0;                 // wall time of the whole run

  std::string Transcript() const;
};

// Runs the driver on `launch` in `world` and collects its lines.
Outcome Drive(const World& world, const Programs& programs, const Launch& launch);

}  // namespace zqworld
