// Start-up under Wine: the App Paths value, Workspace names that are all
// taken, and DLLs planted beside the setup.  (The Workspace name and the cut of
// the Application Manager's folder: tests/module/startup_test.cpp; the file's
// size: the damage table.)
#include <algorithm>
#include <cstdio>

#include "resources/resource.h"
#include "rig.h"

namespace zqrig {
namespace {

class Startup : public ProgramTest {};

// The App Paths value is read into 260 bytes: 259 characters fit.  Each
// refusal leaves its Workspace empty and exits FFFFFFFF; "" wants the wizard.
TEST_P(Startup, AppPathsValueIsChecked) {
  const struct {
    AppPaths appPaths;
    const char* pattern;
  } rows[] = {
      {AppPaths::Missing(), "CeAppMgr.exe is not installed correctly."},
      {AppPaths::NoValue(), "Can not find CeAppMgr.exe."},
      {AppPaths::OfLength(259), ""},
      {AppPaths::OfLength(260), "Can not find CeAppMgr.exe."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.appPaths.value);
    fs::remove_all(folder().Temp());
    Launch launch = Setup(WriteSetup(SampleFiles()));
    launch.appPaths = row.appPaths;
    if (*row.pattern == '\0') {
      launch.script.Wizard();
      EXPECT_TRUE(Drive(launch).ShowedWizard());
      continue;
    }
    launch.script.Box().Answer("ok").Exit();
    EXPECT_TRUE(Refused(Drive(launch), row.pattern));
    EXPECT_EQ(FilesIn(OnlyWorkspace()), std::vector<std::string>());
  }
}

// Every _ZQI name the tick count can give is taken (on a tmpfs: 65536 of
// them on the build disk would take long to delete).  Folders: the run takes
// one over and its files land there.  Files: creating the folder reports
// "already exists", the data file cannot be made inside a file, and the run
// ends naming it.  Either way TEMP holds exactly what it held and that.
TEST_P(Startup, WorkspaceNamesAllTaken) {
  for (const bool asFiles : {false, true}) {
    SCOPED_TRACE(asFiles ? "files" : "folders");
    TmpfsMount tmpfs(folder().Temp(), "size=64m,nr_inodes=100000");
    if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
    for (unsigned tick = 0; tick <= 0xFFFF; ++tick) {
      char name[16];
      std::snprintf(name, sizeof name, "_ZQI%04X", tick);
      if (asFiles)
        zqfixture::WriteFileBytes((folder().Temp() / name).string(), {});
      else
        fs::create_directory(folder().Temp() / name);
    }
    Launch launch = Installed(WriteSetup(SampleFiles()));
    if (asFiles) {
      launch.script.Box().Answer("ok").Exit();
      EXPECT_TRUE(Refused(Drive(launch), "Error Code: %08X\nError creating file in " + WinPath(folder().Temp()) +
                                             "\\_ZQI%s\\data%s.tmp."));
    } else {
      launch.script.Wizard();
      EXPECT_TRUE(Drive(launch).ShowedWizard());
    }
    std::vector<std::string> used;
    size_t taken = 0, entries = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder().Temp())) {
      const std::string name = entry.path().filename().string();
      ++entries;
      taken += name.size() == 8 && name.rfind("_ZQI", 0) == 0 && entry.is_directory() != asFiles;
      if (entry.is_directory() && !fs::is_empty(entry.path())) used.push_back(name);
    }
    EXPECT_EQ(taken, 65536u) << "a name was lost";
    EXPECT_EQ(entries, 65536u) << "TEMP holds more";
    ASSERT_EQ(used.size(), asFiles ? 0u : 1u) << "Workspaces holding files: " << Joined(used);
    if (!asFiles) {
      EXPECT_EQ(FilesIn(folder().Temp() / used[0]), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
    }
  }
}

// The markers a planted DLL left in a folder, in lower case ("version.dll.
// loaded", or ".loaded-at-start" when the loader took it for an import while
// the process started); taken away once read.
std::vector<std::string> TakeMarkers(const fs::path& dir) {
  std::vector<std::string> found;
  for (std::string name : FilesIn(dir)) {
    if (name.find(".loaded") == std::string::npos) continue;
    fs::remove(dir / name);
    found.push_back(Lower(name));
  }
  return found;
}

// A marker DLL as COMCTL32.DLL, VERSION.DLL and RICHED32.DLL beside the setup
// and in its current folder, Wine told to prefer native copies: the program
// loads none of them and its wizard with the real RICHEDIT viewer comes up.
// plainload.exe, asking for each name from the same folder, takes the copy:
// the check could fail.  Wine's own user32.dll may take VERSION.DLL beside the
// setup while the process starts, before any code of the program runs (the
// program imports no version.dll): that one marker is let pass.
TEST_P(Startup, PlantedDllsNeverLoad) {
  const fs::path marker = RigProgram(arch(), "planted_marker.dll"), plainload = RigProgram(arch(), "plainload.exe");
  const fs::path download = folder().Make("Downloads"), current = folder().Make("Current");
  const char* const names[] = {"COMCTL32.DLL", "VERSION.DLL", "RICHED32.DLL"};
  for (const fs::path& dir : {download, current})
    for (const char* name : names) fs::copy_file(marker, dir / name);
  fs::copy_file(plainload, download / "plainload.exe");
  auto launchIn = [&](const fs::path& exe) {
    Launch launch = Setup(exe);
    launch.env["WINEDLLOVERRIDES"] = "riched32,comctl32,version=n,b";
    launch.cwd = current;
    return launch;
  };
  for (std::string name : names) {
    Launch careless = launchIn(download / "plainload.exe");
    careless.args = name;
    careless.script.Exit();
    const Outcome control = Drive(careless);
    TakeMarkers(current);
    name = Lower(name);
    const std::vector<std::string> markers = TakeMarkers(download);
    ASSERT_NE(std::find(markers.begin(), markers.end(), name + ".loaded"), markers.end())
        << "plainload.exe did not take the planted " << name << ", so this test could not fail\n"
        << control;
  }

  Launch launch = launchIn(WriteSetup(SampleFiles(), "Downloads/setup.exe"));
  launch.appPaths = AppPaths::Pointing(StandIn());
  launch.script.Wizard().State().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  const Outcome run = Drive(launch);
  std::vector<std::string> beside = TakeMarkers(download);
  beside.erase(std::remove(beside.begin(), beside.end(), "version.dll.loaded-at-start"), beside.end());
  EXPECT_EQ(beside, std::vector<std::string>()) << "copies beside the setup were loaded";
  EXPECT_EQ(TakeMarkers(current), std::vector<std::string>()) << "copies in the current folder were loaded";
  ASSERT_TRUE(run.states.size() == 1 && run.states[0].Find(IDC_LICENSE_TEXT)) << run;
  EXPECT_EQ(run.states[0].Find(IDC_LICENSE_TEXT)->cls, "RICHEDIT") << run.states[0].Transcript();
  EXPECT_TRUE(run.ExitedWith(0));
}

ZQ_WINE_TEST_SUITE(Startup);

}  // namespace
}  // namespace zqrig
