// Start-up under Wine: the failures before extraction with their exact texts,
// the Workspace each leaves, the file's size limit, Workspace names that are
// taken already, and DLLs planted beside the setup.  Texts are written out:
// they are what the user reads.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "resources/resource.h"
#include "rig.h"

namespace zqrig {
namespace {

// Every _ZQI name the tick count can give, as empty folders or files, on a
// tmpfs (65536 of them on the build disk would take long to delete).
void TakeEveryWorkspaceName(const fs::path& temp, bool asFiles) {
  char name[16];
  for (unsigned tick = 0; tick <= 0xFFFF; ++tick) {
    std::snprintf(name, sizeof name, "_ZQI%04X", tick);
    if (asFiles)
      zqfixture::WriteFileBytes((temp / name).string(), {});
    else
      fs::create_directory(temp / name);
  }
}

class Startup : public ProgramTest {};

// The App Paths value (read into 260 bytes: 259 characters fit) and the
// file's size (program proper, header and one entry make 32808 bytes: too
// few; at 32809 the run fails later, at the stream).  Each refusal leaves
// its Workspace empty; "" wants the wizard.
TEST_P(Startup, AppPathsValueAndFileSizeAreChecked) {
  struct Row {
    const char* what;
    AppPaths appPaths;
    size_t cutTo;  // 0: the whole file
    const char* pattern;
  };
  const AppPaths standIn = AppPaths::Pointing(StandIn());
  const Row rows[] = {
      {"no App Paths key", AppPaths::Missing(), 0, "CeAppMgr.exe is not installed correctly."},
      {"key without a value", AppPaths::NoValue(), 0, "Can not find CeAppMgr.exe."},
      {"value of 259 characters", AppPaths::OfLength(259), 0, ""},
      {"value of 260 characters", AppPaths::OfLength(260), 0, "Can not find CeAppMgr.exe."},
      {"file of 32808 bytes", standIn, 32808, "Invalid file size in installer. The file may be corrupted."},
      {"file of 32809 bytes", standIn, 32809, "Error Code: %08X\nError reading data from installer."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetupRecipe recipe = Recipe(arch());
    if (row.cutTo) {
      recipe.entries.resize(1);
      recipe.cutTo = row.cutTo;
    }
    fs::remove_all(folder().Temp());
    Launch launch = Setup(WriteSetup(recipe));
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

// Every Workspace name exists already as a folder: the run takes one over,
// adds none, and the files land in it.
TEST_P(Startup, ExistingFolderIsTakenOver) {
  TmpfsMount tmpfs(folder().Temp(), "size=64m,nr_inodes=100000");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  TakeEveryWorkspaceName(folder().Temp(), false);
  Launch launch = Installed(WriteSetup(SampleFiles()));
  launch.script.Wizard();
  EXPECT_TRUE(Drive(launch).ShowedWizard());

  std::vector<std::string> used, others;
  size_t workspaces = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder().Temp())) {
    std::string name = entry.path().filename().string();
    if (!entry.is_directory() || name.size() != 8 || name.rfind("_ZQI", 0) != 0) {
      others.push_back(name);
    } else {
      ++workspaces;
      if (!fs::is_empty(entry.path())) used.push_back(name);
    }
  }
  EXPECT_EQ(workspaces, 65536u) << "a Workspace was added or lost";
  EXPECT_EQ(others, std::vector<std::string>()) << "TEMP holds more";
  ASSERT_EQ(used.size(), 1u) << "Workspaces holding files: " << Joined(used);
  EXPECT_EQ(FilesIn(folder().Temp() / used[0]), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
}

// Every Workspace name is held by a file: creating the folder reports
// "already exists", the data file cannot be made inside a file, so the run
// ends with that message naming it; every file stays and nothing appears.
TEST_P(Startup, WorkspaceNameHeldByAFileEndsTheRun) {
  TmpfsMount tmpfs(folder().Temp(), "size=64m,nr_inodes=100000");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  TakeEveryWorkspaceName(folder().Temp(), true);
  Launch launch = Installed(WriteSetup(SampleFiles()));
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  EXPECT_TRUE(Refused(run, "Error Code: %08X\nError creating file in " + WinPath(folder().Temp()) +
                               "\\_ZQI%s\\data%s.tmp."));

  size_t files = 0;
  std::vector<std::string> others;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder().Temp())) {
    if (entry.is_regular_file() && entry.file_size() == 0 && entry.path().filename().string().rfind("_ZQI", 0) == 0)
      ++files;
    else
      others.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(files, 65536u);
  EXPECT_EQ(others, std::vector<std::string>());
}

// The markers a planted DLL left in a folder, in lower case:
// "version.dll.loaded" when a running program loaded the copy,
// "version.dll.loaded-at-start" when the loader took it for an import while
// the process started.  Taken away once read.
std::vector<std::string> TakeMarkers(const fs::path& dir) {
  std::vector<std::string> found;
  for (std::string name : FilesIn(dir)) {
    if (name.find(".loaded") == std::string::npos) continue;
    fs::remove(dir / name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    found.push_back(name);
  }
  return found;
}

// A marker DLL as COMCTL32.DLL, VERSION.DLL and RICHED32.DLL beside the setup
// and in its current folder, Wine told to prefer native copies: the program
// takes the system's libraries, loads none of the copies, and its wizard
// with the real RICHEDIT viewer comes up.  plainload.exe, asking for each
// name the plain way from the same folder, takes the planted copy: the check
// could fail.  One copy is taken all the same under Wine: VERSION.DLL beside
// the setup, while the process starts, for Wine's own user32.dll (Windows'
// imports no version.dll); nothing the program does can reach that, so the
// marker is allowed, and reported, when boxdemo.exe gets it too.
TEST_P(Startup, PlantedDllsNeverLoad) {
  const fs::path marker = RigProgram(arch(), "planted_marker.dll"), plainload = RigProgram(arch(), "plainload.exe");
  if (!fs::exists(marker) || !fs::exists(plainload)) GTEST_SKIP() << marker << " or " << plainload << " is not built";
  const fs::path download = folder().Make("Downloads"), current = folder().Make("Current");
  const char* const names[] = {"COMCTL32.DLL", "VERSION.DLL", "RICHED32.DLL"};
  for (const fs::path& dir : {download, current})
    for (const char* name : names) fs::copy_file(marker, dir / name);
  fs::copy_file(plainload, download / "plainload.exe");
  fs::copy_file(RigProgram(arch(), "boxdemo.exe"), download / "boxdemo.exe");
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
    Outcome control = Drive(careless);
    TakeMarkers(current);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::vector<std::string> markers = TakeMarkers(download);
    ASSERT_NE(std::find(markers.begin(), markers.end(), name + ".loaded"), markers.end())
        << "plainload.exe did not take the planted " << name << ", so this test could not fail\n" << control;
  }
  // Whether Wine's user32 takes the copy for boxdemo.exe (asked before and
  // after the setup's run: Wine does not do it every time).
  auto wineTakesVersion = [&] {
    Launch user32 = launchIn(download / "boxdemo.exe");
    user32.args = "box 0 Planted VERSION.DLL";
    user32.script.Box().Answer("ok").Exit();
    Drive(user32);
    const std::vector<std::string> byUser32 = TakeMarkers(download);
    return std::find(byUser32.begin(), byUser32.end(), "version.dll.loaded-at-start") != byUser32.end();
  };
  const bool takenBefore = wineTakesVersion();

  Launch launch = launchIn(WriteSetup(SampleFiles(), "Downloads/setup.exe"));
  launch.appPaths = AppPaths::Pointing(StandIn());
  launch.script.Wizard().State().Click(IDC_CANCEL).Box().Answer("yes").Exit();
  Outcome run = Drive(launch);
  std::vector<std::string> beside = TakeMarkers(download);
  const auto byWine = std::find(beside.begin(), beside.end(), "version.dll.loaded-at-start");
  if (byWine != beside.end() && (takenBefore || wineTakesVersion())) {
    std::printf("note: Wine's user32.dll took the planted VERSION.DLL while the process started\n");
    beside.erase(byWine);
  }
  EXPECT_EQ(beside, std::vector<std::string>()) << "copies beside the setup were loaded";
  EXPECT_EQ(TakeMarkers(current), std::vector<std::string>()) << "copies in the current folder were loaded";
  EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;
  ASSERT_TRUE(run.states.size() == 1 && run.states[0].Find(IDC_LICENSE_TEXT)) << run;
  EXPECT_EQ(run.states[0].Find(IDC_LICENSE_TEXT)->cls, "RICHEDIT") << run.states[0].Transcript();
  EXPECT_TRUE(run.ExitedWith(0));
}

ZQ_WINE_TEST_SUITE(Startup);

}  // namespace
}  // namespace zqrig
