// Working a setup through the GUI driver (see drive.h).
#include "drive.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/common/helpers.h"

namespace zqworld {
namespace {

using zq::Joined;
using zq::SecondsSince;
using zq::StartsWith;

const int kDriverHardLimitSeconds = 300;  // beyond every wait of one script

// --- what the driver's lines say --------------------------------------------

int ToInt(const std::string& text, int fallback = 0) {
  try {
    return static_cast<int>(std::stoll(text, nullptr, 0));
  } catch (...) {
    return fallback;
  }
}

uint32_t Hex32(const std::string& text) {
  try {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  } catch (...) {
    return 0;
  }
}

void ParseLines(Outcome* run) {
  State* open = nullptr;
  for (const std::string& line : run->lines) {
    run->parsed.push_back(zqprotocol::ParseLine(line));
    const std::string& word = run->parsed.back().word;
    std::map<std::string, std::string> f = run->parsed.back().fields;
    if (open) {
      open->lines.push_back(line);
      if (word == "CTRL") {
        Control c;
        c.parent = f["parent"];
        c.id = ToInt(f["id"]);
        if (c.id == 0xFFFF) c.id = -1;
        c.cls = f["class"];
        c.page = f["page"];
        c.text = f["text"];
        c.z = ToInt(f["z"]);
        c.shown = f["shown"] == "1";
        c.enabled = f["enabled"] == "1";
        c.checked = f.count("checked") ? ToInt(f["checked"], -1) : -1;
        std::sscanf(f["rect"].c_str(), "%d,%d,%d,%d", &c.rect.x, &c.rect.y, &c.rect.w, &c.rect.h);
        c.style = Hex32(f["style"]);
        c.font = f["font"];
        c.face = f["face"];
        c.height = ToInt(f["height"]);
        c.weight = ToInt(f["weight"]);
        c.charset = f.count("charset") ? ToInt(f["charset"]) : -1;
        c.line = line;
        open->controls.push_back(c);
        continue;
      }
      open = nullptr;  // END, or a cut block: go on with this line as usual
      if (word == "END") continue;
    }
    if (word == "STATE") {
      run->states.emplace_back();
      open = &run->states.back();
      open->lines.push_back(line);
      open->title = f["title"];
      open->focus = f["focus"];
      open->style = Hex32(f["style"]);
      std::sscanf(f["units"].c_str(), "%d,%d", &open->unitsX, &open->unitsY);
      std::sscanf(f["client"].c_str(), "%d,%d", &open->clientW, &open->clientH);
    } else if (word == "BOX") {
      Box box{f["caption"], f["text"], {}, f["default"], f["icon"], f["owner"], line};
      std::stringstream buttons(f["buttons"] == "none" ? "" : f["buttons"]);
      for (std::string button; std::getline(buttons, button, ',');) box.buttons.push_back(button);
      run->boxes.push_back(box);
    } else if (word == "EXIT") {
      run->exitCode = Hex32(line.substr(5));
    } else if (word == "WIZARD") {
      run->wizardTitle = f["title"];
    } else if (word == "ERROR" || word == "TIMEOUT") {
      run->errors.push_back(line);
    }
  }
}

}  // namespace

AppPaths AppPaths::OfLength(size_t characters) {
  const std::string head = "C:\\", tail = "\\CeAppMgr.exe";
  return Value(head + std::string(characters - head.size() - tail.size(), 'a') + tail);
}

std::ostream& operator<<(std::ostream& out, const Rect& rect) {
  return out << "(" << rect.x << "," << rect.y << " " << rect.w << "x" << rect.h << ")";
}

const Control* State::Find(int id, const std::string& parent) const {
  for (const Control& control : controls)
    if (control.id == id && (parent.empty() || control.parent == parent)) return &control;
  return nullptr;
}

const Control* State::Page(const std::string& name) const {
  for (const Control& control : controls)
    if (control.page == name) return &control;
  return nullptr;
}

Rect State::Pixels(int x, int y, int w, int h) const {
  // The dialog manager maps x, y, cx and cy of a template each on its own with
  // MulDiv (rounding half away from zero), so widths do not depend on x.
  auto mulDiv = [](int value, int unit, int divisor) {
    long long product = static_cast<long long>(value) * unit;
    return static_cast<int>((product >= 0 ? product + divisor / 2 : product - divisor / 2) / divisor);
  };
  return Rect{mulDiv(x, unitsX, 4), mulDiv(y, unitsY, 8), mulDiv(w, unitsX, 4), mulDiv(h, unitsY, 8)};
}

std::string State::Transcript() const { return Joined(lines, "\n") + "\n"; }

std::string Outcome::Transcript() const {
  std::string text = "--- what the driver saw ---\n" + Joined(lines, "\n") + "\n";
  if (!stderrText.empty())
    text += "--- driver stderr ---\n" + stderrText.substr(0, 4000) + (stderrText.size() > 4000 ? "..." : "") + "\n";
  return text + "--- end ---";
}

Outcome Drive(const World& world, const Programs& programs, const Launch& launch) {
  // The 64-bit driver works setups of both builds (see the probe's placement
  // in World::MakePrefix): where qemu runs 32-bit programs, that halves the
  // emulated work.
  std::vector<std::string> argv = {kWine64, programs.Get(Arch::x86_64, "zqdriver.exe").string(), "--exe",
                                   WinPath(launch.exe)};
  if (!launch.args.empty()) argv.insert(argv.end(), {"--args", launch.args});
  if (!launch.cwd.empty()) argv.insert(argv.end(), {"--cwd", WinPath(launch.cwd)});
  if (!launch.temp.empty()) {
    fs::create_directories(launch.temp);
    argv.insert(argv.end(), {"--temp", WinPath(launch.temp)});
  }
  if (!launch.captures.empty()) {
    fs::create_directories(launch.captures);
    argv.insert(argv.end(), {"--capture-dir", WinPath(launch.captures)});
  }
  // Wine's loader takes DLL overrides from the Unix environment a process
  // starts with, not from the Windows environment the driver hands the
  // setup: overrides go into the driver's own environment, which the setup
  // inherits.
  std::vector<std::string> driverEnv = world.Environment(launch.arch);
  for (const auto& [name, value] : launch.env) {
    if (name != "WINEDLLOVERRIDES") {
      argv.insert(argv.end(), {"--env", name + "=" + value});
      continue;
    }
    for (std::string& entry : driverEnv)
      if (StartsWith(entry, "WINEDLLOVERRIDES=") && !value.empty()) entry += ";" + value;
  }
  switch (launch.appPaths.kind) {
    case AppPaths::Kind::Keep:
      break;
    case AppPaths::Kind::Missing:
      argv.push_back("--appmgr-missing");
      break;
    case AppPaths::Kind::NoValue:
      argv.push_back("--appmgr-novalue");
      break;
    case AppPaths::Kind::Value:
      argv.insert(argv.end(), {"--appmgr", launch.appPaths.value});
      break;
  }
  argv.insert(argv.end(), {"--timeout", std::to_string(launch.timeoutMs)});
  argv.insert(argv.end(), launch.script.actions.begin(), launch.script.actions.end());

  Outcome run;
  const auto start = std::chrono::steady_clock::now();
  // "capture:NAME" waits for NAME.done beside the screenshot.
  auto onLine = [&](const std::string& line) {
    run.lines.push_back(line);
    zqprotocol::Line said = zqprotocol::ParseLine(line);
    if (said.word != "CAPTURE" || launch.captures.empty()) return;
    const fs::path shot = launch.captures / (said.fields["name"] + ".png");
    Run({"/usr/bin/import", "-display", world.display, "-window", "root", shot.string()}, BaseEnvironment(), 30);
    run.screenshots.push_back(shot);
    std::ofstream(launch.captures / (said.fields["name"] + ".done")) << "";
  };
  const ProgramResult driver = Run(argv, driverEnv, kDriverHardLimitSeconds, fs::path(), onLine);
  run.stderrText = driver.err;
  run.seconds = SecondsSince(start);
  if (driver.timedOut) run.lines.push_back("TIMEOUT action=\"harness\" reason=\"the driver was stopped\"");
  for (const fs::path& shot : run.screenshots) fs::remove(fs::path(shot).replace_extension(".done"));
  ParseLines(&run);
  return run;
}

}  // namespace zqworld
