// Folders named beyond ASCII, inside and outside the ANSI code page (Wine
// runs on Windows-1252 here): a setup saved below one, a TEMP below one, or
// both, installs as from any other folder.  The Application Manager stays in an ASCII folder, as
// Program Files is.
#include "resources/resource.h"
#include "rig.h"

namespace zqrig {
namespace {

class FolderNames : public ProgramTest {};

// Each row reaches the hand-off: the stand-in starts once, the install
// folder holds the packed files byte for byte, and the Workspace is gone.
// The last row's TEMP does not exist, so no short form can be had either:
// the run ends naming the folder's role, and nothing is created.
TEST_P(FolderNames, SetupAndTempBelowThemInstall) {
  const struct {
    const char* setupFolder;  // "": the test folder
    const char* tempFolder;   // "": the test folder's temp
    const char* refusal;      // "": the hand-off
  } rows[] = {
      {"Démo/Downloads", "Démo/Temp", ""},  // é is in the code page: no short form needed
      {"Юрий/Downloads", "", ""},
      {"", "山田太郎/AppData/Local/Temp", ""},
      {"Юрий/Downloads", "Юрий/AppData/Local/Temp", ""},
      {"山田太郎/Downloads", "山田太郎/AppData/Local/Temp", ""},
      {"", "Юрий/Missing/Temp",
       "The path of the temporary folder has characters outside this system's code page and no short (8.3) form."},
  };
  const std::vector<Entry> files = TwoCabFiles();
  const fs::path install = folder().Root() / "Program Files/App Mgr/Sample";
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("setup in \"") + row.setupFolder + "\", TEMP in \"" + row.tempFolder + "\"");
    fs::remove_all(install);
    fs::remove(folder().AppMgrLog());
    Launch launch = Installed(WriteSetup(files, (fs::path(row.setupFolder) / "setup.exe").string()));
    if (*row.refusal) {
      // The driver would create a TEMP of its own.
      launch.temp.clear();
      launch.env["TMP"] = launch.env["TEMP"] = WinPath(folder().Root() / row.tempFolder);
      launch.script.Box().Answer("ok").Exit();
      EXPECT_TRUE(Refused(Drive(launch), row.refusal));
      EXPECT_FALSE(fs::exists(folder().Root() / fs::path(row.tempFolder).parent_path()));
      continue;
    }
    if (*row.tempFolder) launch.temp = folder().Make(row.tempFolder);
    launch.script.Wizard().Click(IDC_NEXT).Click(IDC_ACCEPT).Click(IDC_NEXT).Exit();
    ExpectHandedOff(Drive(launch), install, files, {}, launch.temp);
    EXPECT_EQ(AwaitAppMgr(folder().AppMgrLog(), 1).size(), 1u);
  }
}

ZQ_WINE_TEST_SUITE(FolderNames);

}  // namespace
}  // namespace zqrig
