// The wizard as the user meets it: the two views and how Next, Back, Accept,
// Decline, Esc and Cancel move between them; the Cancel question and what a
// confirmed Cancel deletes; the texts made from Setup.ini; the license viewer.
#include "rig.h"

// The setups come from zqfixture, which tests/wine/CMakeLists.txt must link;
// without it this file builds to one failing test that says so.
#if __has_include("fixture.h")
#include <fstream>

#include "fixture.h"

namespace zqrig {
namespace {

using zqfixture::Bytes;
using zqfixture::Entry;

const char kCancelQuestion[] =
    "Setup is not complete. If you quit now, the program will not be installed\n\n"
    "You may run the Setup program again at another time to complete the installation.\n\n"
    "Exit Setup?";
const char kBodyTail[] =
    " onto your SmartPhone 2002 device. Please ensure your SmartPhone 2002 device is connected and turned on.";
const char kRichSource[] = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Rich \\b bold\\b0  text.\\par}";
const int kLicenseControls[] = {1008, 1009, 1005, 1003, 1004};
const uint32_t kSysMenuStyle = 0x00080000;  // WS_SYSMENU

// A Setup.ini with the application's sections and `zqSection` as the whole
// ZQINSTALLER section ("" leaves the section out).
std::string SetupIni(const std::string& cabFiles, const std::string& zqSection) {
  std::string ini =
      "[CEAppManager]\r\nVersion = 1.0\r\nComponent = Demo App\r\n\r\n"
      "[Demo App]\r\nDescription = Demo application\r\nCabFiles = " +
      cabFiles + "\r\n";
  if (!zqSection.empty()) ini += "\r\n[ZQINSTALLER]\r\n" + zqSection;
  return ini;
}

std::string ZqSection(const std::string& name, const std::string& version, const std::string& license) {
  return "ProductName = " + name + "\r\nProductVersion = " + version + "\r\nInstallDirectory = Demo\r\n" +
         "LicenseFile = " + license + "\r\nHeadBitmap = head.bmp\r\nBodyBitmap = body.bmp\r\n";
}

// The wizard's own style from the STATE line.
uint32_t WizardStyle(const State& state) {
  std::string line = state.lines.empty() ? std::string() : state.lines[0];
  size_t at = line.find(" style=");
  return at == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(line.substr(at + 7, 8), nullptr, 16));
}

const Control& Get(const State& state, int id, const std::string& parent = std::string()) {
  static const Control missing;
  const Control* control = state.Find(id, parent);
  EXPECT_TRUE(control) << "no control " << id << "\n" << state.Transcript();
  return control ? *control : missing;
}

// Welcome view: the Welcome page shown; the header page, Back and the
// license controls hidden; Next enabled.
::testing::AssertionResult IsWelcomeView(const State& state) {
  const Control* welcome = state.Page("welcome");
  const Control* header = state.Page("header");
  std::string wrong;
  if (!welcome || !welcome->shown) wrong += " the Welcome page is not shown;";
  if (!header || header->shown) wrong += " the header page is shown;";
  if (Get(state, 1002).shown) wrong += " Back is shown;";
  for (int id : kLicenseControls)
    if (Get(state, id).shown) wrong += " license control " + std::to_string(id) + " is shown;";
  if (!Get(state, 1000).shown || !Get(state, 1000).enabled) wrong += " Next is not shown and enabled;";
  if (wrong.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted the Welcome view:" << wrong << "\n" << state.Transcript();
}

// License view with the given choice: header page, Back and the license
// controls shown, the Welcome page hidden, the radio buttons as chosen and
// Next enabled exactly when accepted.
::testing::AssertionResult IsLicenseView(const State& state, bool accepted) {
  const Control* welcome = state.Page("welcome");
  const Control* header = state.Page("header");
  std::string wrong;
  if (!welcome || welcome->shown) wrong += " the Welcome page is shown;";
  if (!header || !header->shown) wrong += " the header page is not shown;";
  if (!Get(state, 1002).shown) wrong += " Back is hidden;";
  for (int id : kLicenseControls)
    if (!Get(state, id).shown) wrong += " license control " + std::to_string(id) + " is hidden;";
  if (Get(state, 1003).checked != (accepted ? 1 : 0)) wrong += " Accept's check is wrong;";
  if (Get(state, 1004).checked != (accepted ? 0 : 1)) wrong += " Decline's check is wrong;";
  if (Get(state, 1000).enabled != accepted) wrong += accepted ? " Next is disabled;" : " Next is enabled;";
  if (wrong.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted the License view, license " << (accepted ? "accepted" : "declined")
                                       << ":" << wrong << "\n"
                                       << state.Transcript();
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class WizardTest : public WineTest {
 protected:
  // License, bitmaps, Setup.ini, ONE.CAB and TWO.CAB.
  std::vector<Entry> Files(const std::string& ini, const std::string& licenseName = "license.rtf",
                           const std::string& license = kRichSource) const {
    return {{licenseName, Bytes(license)},
            {"body.bmp", zqfixture::MakeBitmap(164, 314)},
            {"head.bmp", zqfixture::MakeBitmap(55, 55)},
            {"Setup.ini", Bytes(ini)},
            {"ONE.CAB", zqfixture::MakeCabinet("one.exe", Bytes("one"))},
            {"TWO.CAB", zqfixture::MakeCabinet("two.exe", Bytes("two"))}};
  }

  // A launch of Setup.exe (the program proper with these files) in the test
  // folder, with the stand-in Application Manager installed.
  Launch SetupWith(const std::vector<Entry>& entries) const {
    zqfixture::SetupRecipe recipe;
    recipe.stub = zqfixture::ReadFileBytes(ProgramProper(arch()).string());
    recipe.entries = entries;
    fs::path exe = folder().Root() / "Setup.exe";
    zqfixture::WriteFileBytes(exe.string(), zqfixture::BuildSetup(recipe));
    Launch launch = Setup(exe);
    launch.appPaths = AppPaths::Pointing(StandIn("Program Files/App Mgr"));
    return launch;
  }

  // The one Workspace in TEMP, or an empty path (with a failure) if not one.
  fs::path OnlyWorkspace() const {
    std::vector<fs::path> workspaces = Workspaces(folder().Temp());
    EXPECT_EQ(workspaces.size(), 1u) << "TEMP holds " << ::testing::PrintToString(FilesIn(folder().Temp()));
    return workspaces.size() == 1 ? workspaces[0] : fs::path();
  }

  // Runs a setup with `ini` to its wizard, describes it, and confirms Cancel.
  Outcome WizardState(const std::string& ini) const {
    Launch launch = SetupWith(Files(ini));
    launch.script.Wizard().State().Click(1001).Answer("yes").Exit();
    return Drive(launch);
  }
};

class WizardNavigation : public WizardTest {};

// One walk through both views: Esc, Back where Back is hidden, Next, Accept,
// Back, Decline, Cancel answered No in each view; then Accept and the last
// Next, which ends the run with exit code 0.
TEST_P(WizardNavigation, ViewsFollowTheButtons) {
  Launch launch = SetupWith(Files(SetupIni("ONE.CAB,TWO.CAB", ZqSection("Demo", "1.53", "license.rtf"))));
  // clang-format off
  launch.script.Wizard()
      .State()                                      // 0: first Welcome view
      .Esc().Command(2).NoBox(300).State()          // 1: Esc, IDCANCEL
      .Command(1002).State()                        // 2: Back in the Welcome view
      .Click(1000).State()                          // 3: first License view
      .Command(2).NoBox(300).State()                // 4: IDCANCEL in the License view
      .Click(1003).State()                          // 5: Accept
      .Click(1002).State()                          // 6: Back
      .Click(1000).State()                          // 7: Next again
      .Click(1004).State()                          // 8: Decline
      .Click(1001).Box().Answer("no").State()       // 9: Cancel, No, License view
      .Click(1002).Click(1001).Box().Answer("no")   //    Cancel, No, Welcome view
      .State()                                      // 10
      .Click(1000).State()                          // 11: License view as left
      .Click(1003).Click(1000).Exit();
  // clang-format on
  Outcome run = Drive(launch);
  ASSERT_TRUE(run.Clean());
  ASSERT_EQ(run.states.size(), 12u) << run;
  const std::vector<State>& s = run.states;

  EXPECT_TRUE(IsWelcomeView(s[0]));
  EXPECT_EQ(s[0].focus, "1000") << s[0].Transcript();
  EXPECT_EQ(WizardStyle(s[0]) & kSysMenuStyle, 0u) << "the caption offers a close box\n" << s[0].Transcript();
  EXPECT_NE(WizardStyle(s[0]), 0u) << s[0].Transcript();
  EXPECT_TRUE(IsWelcomeView(s[1]));
  EXPECT_TRUE(IsWelcomeView(s[2]));
  EXPECT_TRUE(IsLicenseView(s[3], false));
  EXPECT_EQ(s[3].focus, "1005") << s[3].Transcript();
  EXPECT_TRUE(IsLicenseView(s[4], false));
  EXPECT_TRUE(IsLicenseView(s[5], true));
  EXPECT_TRUE(IsWelcomeView(s[6]));
  EXPECT_TRUE(IsLicenseView(s[7], true));
  EXPECT_EQ(s[7].focus, "1005") << s[7].Transcript();
  EXPECT_TRUE(IsLicenseView(s[8], false));
  EXPECT_TRUE(IsLicenseView(s[9], false));
  EXPECT_TRUE(IsWelcomeView(s[10]));
  EXPECT_TRUE(IsLicenseView(s[11], false));

  // Esc opened no box; the two Cancel questions are the same.
  ASSERT_EQ(run.boxes.size(), 2u) << run;
  for (const Box& box : run.boxes) {
    EXPECT_EQ(box.caption, "Exit Setup") << run;
    EXPECT_EQ(box.text, kCancelQuestion) << run;
    EXPECT_EQ(box.buttons, (std::vector<std::string>{"yes", "no"})) << run;
    EXPECT_EQ(box.defaultButton, "no") << run;
    EXPECT_EQ(box.icon, "question") << run;
    EXPECT_EQ(box.owner, "wizard") << run;
  }
  // Cancel answered No deleted nothing: the hand-off moved both CAB files.
  EXPECT_TRUE(run.ExitedWith(0));
  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 1u) << run;
  std::vector<std::pair<std::string, bool>> cabs = {{"ONE.CAB", true}, {"TWO.CAB", true}};
  EXPECT_EQ(starts[0].cabs, cabs) << starts[0];
}

// A confirmed Cancel deletes the listed CAB files, Setup.ini and the
// Workspace.  A blank behind the comma belongs to the second name, so that
// file and the Workspace stay.  Exit code 0 either way.
TEST_P(WizardNavigation, CancelDeletesTheListedFiles) {
  Launch launch = SetupWith(Files(SetupIni("ONE.CAB,TWO.CAB", ZqSection("Demo", "1.53", "license.rtf"))));
  launch.script.Wizard().Click(1001).Answer("yes").Exit();
  Outcome welcome = Drive(launch);
  ASSERT_TRUE(welcome.Clean());
  EXPECT_TRUE(welcome.ExitedWith(0));
  EXPECT_TRUE(Workspaces(folder().Temp()).empty())
      << "TEMP holds " << ::testing::PrintToString(FilesIn(folder().Temp())) << "\n"
      << welcome;

  launch = SetupWith(Files(SetupIni("ONE.CAB, TWO.CAB", ZqSection("Demo", "1.53", "license.rtf"))));
  launch.script.Wizard().Click(1000).Click(1001).Answer("yes").Exit();
  Outcome license = Drive(launch);
  ASSERT_TRUE(license.Clean());
  EXPECT_TRUE(license.ExitedWith(0));
  fs::path workspace = OnlyWorkspace();
  EXPECT_EQ(FilesIn(workspace), std::vector<std::string>{"TWO.CAB"});
  EXPECT_TRUE(ReadAppMgrLog(folder().AppMgrLog()).empty());
}

ZQ_WINE_TEST_SUITE(WizardNavigation);

class WizardTexts : public WizardTest {};

// Missing settings stand in as "NO": without the ZQINSTALLER section the
// title is "NO NO ..." and the viewer empty; without ProductName the Welcome
// title names "NO".
TEST_P(WizardTexts, MissingSettingsReadAsNO) {
  Outcome noSection = WizardState(SetupIni("ONE.CAB,TWO.CAB", ""));
  ASSERT_TRUE(noSection.Clean());
  ASSERT_EQ(noSection.states.size(), 1u) << noSection;
  const State& first = noSection.states[0];
  EXPECT_EQ(first.title, "NO NO for SmartPhone 2002 Setup") << first.Transcript();
  EXPECT_EQ(Get(first, 1005).text, "") << first.Transcript();
  EXPECT_EQ(Get(first, 1007, "welcome").text, "Welcome to NO for SmartPhone 2002 Setup") << first.Transcript();
  EXPECT_TRUE(noSection.ExitedWith(0));

  Outcome noName = WizardState(SetupIni("ONE.CAB,TWO.CAB", "ProductVersion = 2.0\r\nLicenseFile = license.rtf\r\n"));
  ASSERT_TRUE(noName.Clean());
  ASSERT_EQ(noName.states.size(), 1u) << noName;
  const State& second = noName.states[0];
  EXPECT_EQ(second.title, "NO 2.0 for SmartPhone 2002 Setup") << second.Transcript();
  EXPECT_EQ(Get(second, 1007, "welcome").text, "Welcome to NO for SmartPhone 2002 Setup") << second.Transcript();
  EXPECT_EQ(Get(second, 1006, "welcome").text, std::string("Setup will install NO version 2.0") + kBodyTail)
      << second.Transcript();
  EXPECT_TRUE(noName.ExitedWith(0));
}

// The product values go into the title and the Welcome texts as they are: a
// percent sign stays; 255 characters each give a title cut to 255 and a body
// cut to 511 characters.
TEST_P(WizardTexts, ProductValuesShowAsGiven) {
  Outcome demo = WizardState(SetupIni("ONE.CAB,TWO.CAB", ZqSection("Demo", "1.53", "license.rtf")));
  ASSERT_TRUE(demo.Clean());
  ASSERT_EQ(demo.states.size(), 1u) << demo;
  EXPECT_EQ(demo.states[0].title, "Demo 1.53 for SmartPhone 2002 Setup") << demo;
  EXPECT_EQ(Get(demo.states[0], 1007, "welcome").text, "Welcome to Demo for SmartPhone 2002 Setup") << demo;
  EXPECT_EQ(Get(demo.states[0], 1006, "welcome").text,
            "Setup will install Demo version 1.53 onto your SmartPhone 2002 device. Please ensure your "
            "SmartPhone 2002 device is connected and turned on.")
      << demo;

  Outcome percent = WizardState(SetupIni("ONE.CAB,TWO.CAB", ZqSection("100% %s Demo", "%d.%x%%", "license.rtf")));
  ASSERT_TRUE(percent.Clean());
  ASSERT_EQ(percent.states.size(), 1u) << percent;
  EXPECT_EQ(percent.states[0].title, "100% %s Demo %d.%x%% for SmartPhone 2002 Setup") << percent;
  EXPECT_EQ(Get(percent.states[0], 1007, "welcome").text, "Welcome to 100% %s Demo for SmartPhone 2002 Setup")
      << percent;
  EXPECT_EQ(Get(percent.states[0], 1006, "welcome").text,
            std::string("Setup will install 100% %s Demo version %d.%x%%") + kBodyTail)
      << percent;

  std::string name, version;
  for (int i = 0; i < 255; ++i) {
    name += static_cast<char>('A' + i % 26);
    version += static_cast<char>('0' + i % 10);
  }
  Outcome long255 = WizardState(SetupIni("ONE.CAB,TWO.CAB", ZqSection(name, version, "license.rtf")));
  ASSERT_TRUE(long255.Clean());
  ASSERT_EQ(long255.states.size(), 1u) << long255;
  std::string title = name + " " + version + " for SmartPhone 2002 Setup";
  std::string body = "Setup will install " + name + " version " + version + kBodyTail;
  EXPECT_EQ(long255.states[0].title, title.substr(0, 255)) << long255;
  EXPECT_EQ(Get(long255.states[0], 1007, "welcome").text, "Welcome to " + name + " for SmartPhone 2002 Setup")
      << long255;
  EXPECT_EQ(Get(long255.states[0], 1006, "welcome").text, body.substr(0, 511)) << long255;
  EXPECT_TRUE(long255.ExitedWith(0));
}

ZQ_WINE_TEST_SUITE(WizardTexts);

class WizardLicense : public WizardTest {
 protected:
  // Runs a setup whose license file is `name` with `contents` up to the
  // wizard and describes it; the run ends there (the driver ends the setup),
  // so the Workspace shows what the wizard left while it was up.
  Outcome ShowLicense(const std::string& name, const std::string& contents,
                      const std::string& licenseValue = std::string()) const {
    for (const fs::path& earlier : Workspaces(folder().Temp())) fs::remove_all(earlier);
    Launch launch = SetupWith(
        Files(SetupIni("ONE.CAB,TWO.CAB", ZqSection("Demo", "1.53", licenseValue.empty() ? name : licenseValue)), name,
              contents));
    launch.script.Wizard().State();
    return Drive(launch);
  }

  // The viewer's text, and a check that the Workspace no longer holds the
  // license file.
  std::string ViewerText(const Outcome& run, const std::string& name) const {
    EXPECT_TRUE(run.Clean());
    EXPECT_EQ(run.states.size(), 1u) << run;
    fs::path workspace = OnlyWorkspace();
    EXPECT_FALSE(fs::exists(workspace / name)) << name << " is still in the Workspace";
    return run.states.empty() || !run.states[0].Find(1005) ? std::string("(no viewer)")
                                                           : run.states[0].Find(1005)->text;
  }
};

// The last three letters "rtf", in any case and with or without a dot,
// load the file as rich text; anything else shows it as plain text, the RTF
// source then standing as it is.  An empty plain file leaves the viewer empty.
TEST_P(WizardLicense, FormatFollowsTheNameEnding) {
  for (const char* name : {"license.rtf", "LICENSE.RTF", "License.Rtf", "licensertf"}) {
    SCOPED_TRACE(name);
    std::string text = ViewerText(ShowLicense(name, kRichSource), name);
    EXPECT_EQ(text.rfind("Rich bold text.", 0), 0u) << "viewer holds \"" << text << "\"";
    EXPECT_EQ(text.find_first_of("{}\\"), std::string::npos) << "viewer holds \"" << text << "\"";
  }
  for (const char* name : {"license.txt", "rtf.license"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ViewerText(ShowLicense(name, kRichSource), name), kRichSource);
  }
  SCOPED_TRACE("empty.txt");
  EXPECT_EQ(ViewerText(ShowLicense("empty.txt", ""), "empty.txt"), "");
}

// LicenseFile = ..\outside.rtf names no file: the file beside the Workspace
// is neither shown nor deleted.
TEST_P(WizardLicense, NameOutsideTheWorkspaceNamesNoFile) {
  fs::path outside = folder().Temp() / "outside.rtf";
  std::ofstream(outside) << kRichSource;
  Outcome run = ShowLicense("license.rtf", kRichSource, "..\\outside.rtf");
  ASSERT_TRUE(run.Clean());
  ASSERT_EQ(run.states.size(), 1u) << run;
  EXPECT_EQ(Get(run.states[0], 1005).text, "") << run;
  EXPECT_EQ(ReadText(outside), kRichSource);
}

ZQ_WINE_TEST_SUITE(WizardLicense);

}  // namespace
}  // namespace zqrig

#else

TEST(WizardTests, NeedTheFixtureLibrary) {
  FAIL() << "tests/wine/CMakeLists.txt does not link zqfixture to the Wine tests";
}

#endif
