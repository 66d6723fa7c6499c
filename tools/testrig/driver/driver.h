// The GUI driver's parts: world set-up (world.cpp), looking at and working
// the setup's windows (windows.cpp), the output lines (report.cpp) and the
// benchmark's timed runs (bench.cpp).  main.cpp reads the command line and
// runs the script; its top comment is the reference for the syntax,
// protocol.h for the output.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "protocol.h"

namespace zqdriver {

// --- report.cpp -----------------------------------------------------------

using zqprotocol::Quote;
// Prints one line and flushes, so the harness sees it at once.
void Emit(const std::string& line);
std::string Hex8(DWORD value);
std::string RectText(const RECT& rect);  // "x,y,w,h"

// --- world.cpp ------------------------------------------------------------

enum class AppPathsMode { Keep, Value, NoValue, Missing };

struct World {
  AppPathsMode appPaths = AppPathsMode::Keep;
  std::string appPathsValue;
  std::string temp;              // TMP and TEMP of the child, if not empty
  std::vector<std::string> env;  // NAME=VALUE, set in the child
  std::string cwd;               // current directory of the child
  std::string exe;               // program to start
  std::string args;              // command line behind the quoted program
};

// Writes the App Paths key in both registry views; false and *why on failure.
bool ApplyAppPaths(const World& world, std::string* why);
// Sets TMP, TEMP and the extra variables in the driver's own environment,
// which the child inherits.
bool ApplyEnvironment(const World& world, std::string* why);
bool StartSetup(const World& world, PROCESS_INFORMATION* process, std::string* why);

// --- probe.cpp ------------------------------------------------------------

// What only the setup's own process can tell about one of its windows,
// learnt through zqprobe.dll.
struct Inside {
  std::string font;  // "dialog" (its parent's font), "own" or "none"
  std::string face;  // the font's face name
  long height = 0;   // lfHeight
  long weight = 0;   // lfWeight
  int charset = 0;   // lfCharSet
  std::string icon;  // icon statics: hand, question, exclamation, asterisk,
                     // other, none; "-" for other windows
};

// Facts about `root` and all its descendants; empty when the probe failed.
std::map<HWND, Inside> Probe(HWND root);
// Posts a marker behind what was posted to `window` and waits until the
// setup's thread takes it (or the window or the process is gone).  False when
// the probe is not at hand; *inTime false after a time-out.
bool WaitUntilHandled(HWND window, HANDLE process, DWORD timeoutMs, bool* inTime);

// --- windows.cpp ----------------------------------------------------------

struct Target {
  DWORD processId = 0;
  HANDLE process = nullptr;
};

// Top-level dialogs of the process: the wizard holds control 1000; a message
// box holds a push button with an ID from IDOK to IDCONTINUE and no 1000.
HWND FindWizard(const Target& target);
HWND FindBox(const Target& target);
bool ProcessEnded(const Target& target);

// One line "BOX caption=... text=... buttons=... default=... icon=...
// owner=..." describing the box.
std::string DescribeBox(HWND box, HWND wizard);
// The lines of a STATE block, ending with "END".
std::vector<std::string> DescribeWizard(HWND wizard, DWORD threadId);
// Every window of the process, for looking around: WINDOW lines.
std::vector<std::string> DescribeAllWindows(const Target& target);

// Why a user could not click this control now, or empty when they could.
std::string ClickBlocker(HWND control);
// Waits until the thread that owns `window` has handled what was posted to it
// (or has entered a modal loop).  False when it did not answer in time.
bool Settle(HWND window, HANDLE process, DWORD timeoutMs);
// Dialog base units of "MS Sans Serif" 8, as MapDialogRect uses them.
POINT DialogBaseUnits();

// --- bench.cpp ------------------------------------------------------------

// The benchmark's mode: the arguments after --bench; the exit code.
int RunBench(int argc, char** argv);

}  // namespace zqdriver
