// The wizard as the user meets it: the two views and how Next, Back, Accept,
// Decline, Esc and Cancel move between them, the Cancel question and what a
// confirmed Cancel deletes, the texts made from Setup.ini, the license viewer.
#include "rig.h"

namespace zqrig {
namespace {

const char kCancelQuestion[] =
    "Setup is not complete. If you quit now, the program will not be installed\n\n"
    "You may run the Setup program again at another time to complete the installation.\n\n"
    "Exit Setup?";
const char kBodyTail[] =
    " onto your SmartPhone 2002 device. Please ensure your SmartPhone 2002 device is connected and turned on.";
const char kRichSource[] = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Rich \\b bold\\b0  text.\\par}";
const int kLicenseControls[] = {1008, 1009, 1005, 1003, 1004};
const uint32_t kSysMenuStyle = 0x00080000;  // WS_SYSMENU

const Control& Get(const State& state, int id, const std::string& parent = std::string()) {
  static const Control missing;
  const Control* control = state.Find(id, parent);
  EXPECT_TRUE(control) << "no control " << id << "\n" << state.Transcript();
  return control ? *control : missing;
}

// Welcome view: the Welcome page shown, the header page, Back and the license
// controls hidden, Next enabled.  License view: the other way round, the
// radio buttons as chosen, Next enabled exactly when accepted.
enum View { kWelcome, kDeclined, kAccepted };
::testing::AssertionResult IsView(const State& state, View view) {
  const bool license = view != kWelcome, accepted = view == kAccepted;
  const Control* welcome = state.Page("welcome");
  const Control* header = state.Page("header");
  std::string wrong;
  if (!welcome || welcome->shown == license) wrong += " the Welcome page;";
  if (!header || header->shown != license) wrong += " the header page;";
  for (int id : {1002, 1008, 1009, 1005, 1003, 1004})
    if (Get(state, id).shown != license) wrong += " control " + std::to_string(id) + (license ? " hidden;" : " shown;");
  if (!Get(state, 1000).shown || Get(state, 1000).enabled != (!license || accepted)) wrong += " Next;";
  if (license && (Get(state, 1003).checked != accepted || Get(state, 1004).checked != !accepted))
    wrong += " the radio buttons;";
  if (wrong.empty()) return ::testing::AssertionSuccess();
  const char* names[] = {"Welcome", "License (declined)", "License (accepted)"};
  return ::testing::AssertionFailure() << "wanted the " << names[view] << " view, wrong:" << wrong << "\n"
                                       << state.Transcript();
}

class Wizard : public ProgramTest {
 protected:
  Launch SetupWith(const std::vector<Entry>& files) const { return Installed(WriteSetup(files)); }

  // The viewer's text for a license file `name` holding `contents`, up to
  // the wizard; the Workspace no longer holds the file.
  std::string ViewerText(const std::string& name, const std::string& contents) const {
    for (const fs::path& earlier : Workspaces(folder().Temp())) fs::remove_all(earlier);
    std::vector<Entry> files = SampleFiles(SampleIni({{"LicenseFile", name}}));
    files[0] = {name, Bytes(contents)};  // in place of license.rtf
    Launch launch = SetupWith(files);
    launch.script.Wizard().State();
    Outcome run = Drive(launch);
    EXPECT_TRUE(run.Clean());
    EXPECT_FALSE(fs::exists(OnlyWorkspace() / name)) << name << " is still in the Workspace";
    return run.states.size() != 1 || !run.states[0].Find(1005) ? "(no viewer)" : run.states[0].Find(1005)->text;
  }
};

// One walk through both views: Esc, Back where Back is hidden, Next, Accept,
// Back, Decline, Cancel answered No in each view; then Accept and the last
// Next, which ends the run with exit code 0.
TEST_P(Wizard, ViewsFollowTheButtons) {
  Launch launch = SetupWith(TwoCabFiles());
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

  const View views[] = {kWelcome, kWelcome, kWelcome, kDeclined, kDeclined, kAccepted,
                        kWelcome, kAccepted, kDeclined, kDeclined, kWelcome, kDeclined};
  for (size_t i = 0; i < 12; ++i) EXPECT_TRUE(IsView(s[i], views[i])) << "state " << i;
  EXPECT_EQ(s[0].focus + " " + s[3].focus + " " + s[7].focus, "1000 1005 1005") << "focus in states 0, 3, 7\n" << run;
  EXPECT_EQ(s[0].style & kSysMenuStyle, 0u) << "the caption offers a close box\n" << s[0].Transcript();
  EXPECT_NE(s[0].style, 0u) << s[0].Transcript();

  // Esc opened no box; the two Cancel questions are the same.
  ASSERT_EQ(run.boxes.size(), 2u) << run;
  for (const Box& box : run.boxes) {
    EXPECT_TRUE(box.caption == "Exit Setup" && box.text == kCancelQuestion &&
                box.buttons == (std::vector<std::string>{"yes", "no"}) && box.defaultButton == "no" &&
                box.icon == "question" && box.owner == "wizard")
        << "wanted \"Exit Setup\": the question, Yes and No (default), owned by the wizard; saw " << box.line;
  }
  // Cancel answered No deleted nothing: the hand-off moved both CAB files.
  EXPECT_TRUE(run.ExitedWith(0));
  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 1u) << run;
  EXPECT_EQ(starts[0].cabs, (std::vector<std::pair<std::string, bool>>{{"DEMO.CAB", true}, {"TWO.CAB", true}}))
      << starts[0];
}

// A confirmed Cancel, from either view, deletes the listed CAB files,
// Setup.ini and then the Workspace, which goes only when that emptied it: a
// blank behind the comma belongs to the second name, a comma at the end adds
// no name, and without a Component key CabFiles is looked up in section
// "NO", so the single name "NO" deletes nothing.  Exit code 0 every time.
TEST_P(Wizard, CancelDeletesTheListedFiles) {
  std::string noComponent = SampleIni({{"CabFiles", "DEMO.CAB,TWO.CAB"}});
  noComponent.erase(noComponent.find("Component = "), noComponent.find("\r\n\r\n") - noComponent.find("Component = "));
  const struct {
    const char* what;
    std::string ini;
    bool fromLicense;
    std::vector<std::string> left;  // in the Workspace; empty: it is gone
  } rows[] = {
      {"two names", SampleIni({{"CabFiles", "DEMO.CAB,TWO.CAB"}}), false, {}},
      {"a blank behind the comma", SampleIni({{"CabFiles", "DEMO.CAB, TWO.CAB"}}), true, {"TWO.CAB"}},
      {"a comma at the end", SampleIni({{"CabFiles", "DEMO.CAB,TWO.CAB,"}}), false, {}},
      {"no Component key", noComponent, true, {"DEMO.CAB", "TWO.CAB"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(folder().Temp());
    Launch launch = SetupWith(TwoCabFiles(row.ini));
    launch.script.Wizard();
    if (row.fromLicense) launch.script.Click(1000);
    launch.script.Click(1001).Answer("yes").Exit();
    Outcome run = Drive(launch);
    ASSERT_TRUE(run.Clean());
    EXPECT_TRUE(run.ExitedWith(0));
    if (row.left.empty())
      EXPECT_EQ(FilesIn(folder().Temp()), std::vector<std::string>()) << run;
    else
      EXPECT_EQ(FilesIn(OnlyWorkspace()), row.left);
  }
  EXPECT_TRUE(ReadAppMgrLog(folder().AppMgrLog()).empty());
}

// The title and Welcome texts from Setup.ini: missing settings stand in as
// "NO" (without the ZQINSTALLER section the viewer is empty too); values go
// in as they are, a percent sign staying; 255 characters each give a title
// cut to 255 and a body cut to 511.
TEST_P(Wizard, TextsComeFromSetupIni) {
  const std::string apps = SampleIni().substr(0, SampleIni().find("[ZQINSTALLER]"));
  std::string name, version;
  for (int i = 0; i < 255; ++i) {
    name += static_cast<char>('A' + i % 26);
    version += static_cast<char>('0' + i % 10);
  }
  struct Row {
    std::string ini, product, version;
    const char* viewer;  // nullptr: not looked at
  };
  const Row rows[] = {
      {apps, "NO", "NO", ""},
      {apps + "[ZQINSTALLER]\r\nProductVersion = 2.0\r\nLicenseFile = license.rtf\r\n", "NO", "2.0", nullptr},
      {SampleIni(), "Sample", "1.00", nullptr},
      {SampleIni({{"ProductName", "100% %s Demo"}, {"ProductVersion", "%d.%x%%"}}), "100% %s Demo", "%d.%x%%", nullptr},
      {SampleIni({{"ProductName", name}, {"ProductVersion", version}}), name, version, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.product.substr(0, 20) + " " + row.version.substr(0, 20));
    Launch launch = SetupWith(SampleFiles(row.ini));
    launch.script.Wizard().State().Click(1001).Answer("yes").Exit();
    Outcome run = Drive(launch);
    ASSERT_TRUE(run.Clean());
    ASSERT_EQ(run.states.size(), 1u) << run;
    const State& state = run.states[0];
    EXPECT_EQ(state.title, (row.product + " " + row.version + " for SmartPhone 2002 Setup").substr(0, 255)) << run;
    EXPECT_EQ(Get(state, 1007, "welcome").text, "Welcome to " + row.product + " for SmartPhone 2002 Setup") << run;
    EXPECT_EQ(Get(state, 1006, "welcome").text,
              ("Setup will install " + row.product + " version " + row.version + kBodyTail).substr(0, 511))
        << run;
    if (row.viewer) {
      EXPECT_EQ(Get(state, 1005).text, row.viewer) << run;
    }
    EXPECT_TRUE(run.ExitedWith(0));
  }
}

// The file LicenseFile names reaches the viewer (the formats by name ending
// are the module test's: tests/module/license_test.cpp).
TEST_P(Wizard, LicenseFileReachesTheViewer) {
  const std::string text = ViewerText("License.Rtf", kRichSource);
  EXPECT_EQ(text.rfind("Rich bold text.", 0), 0u) << "viewer holds \"" << text << "\"";
}

ZQ_WINE_TEST_SUITE(Wizard);

}  // namespace
}  // namespace zqrig
