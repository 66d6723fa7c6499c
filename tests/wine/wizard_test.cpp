// The wizard as the user meets it: the two views and how Next, Back, Accept,
// Decline, Esc and Cancel move between them, the Cancel question and what a
// confirmed Cancel deletes, the texts made from Setup.ini.  (The license
// formats: tests/module/license_test.cpp.)
#include "rig.h"

namespace zqrig {
namespace {

const char kCancelQuestion[] =
    "Setup is not complete. If you quit now, the program will not be installed\n\n"
    "You may run the Setup program again at another time to complete the installation.\n\n"
    "Exit Setup?";
const char kBodyTail[] =
    " onto your SmartPhone 2002 device. Please ensure your SmartPhone 2002 device is connected and turned on.";
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

class Wizard : public ProgramTest {};

// One walk through both views: Esc, Back where Back is hidden, Next, Accept,
// Back, Decline, Cancel answered No in each view; then Accept and the last
// Next, which ends the run with exit code 0.
TEST_P(Wizard, ViewsFollowTheButtons) {
  Launch launch = Installed(WriteSetup(TwoCabFiles()));
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

  const View views[] = {kWelcome, kWelcome,  kWelcome,  kDeclined, kDeclined, kAccepted,
                        kWelcome, kAccepted, kDeclined, kDeclined, kWelcome,  kDeclined};
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

// The title and Welcome texts from Setup.ini go in as they are, a percent
// sign staying; 255 characters each give a title cut to 255 and a body cut to
// 511.  (Missing settings as "NO": tests/module/settings_test.cpp.)  A
// confirmed Cancel, from either view, then deletes the listed CAB file,
// Setup.ini and the Workspace they emptied; exit code 0.
TEST_P(Wizard, TextsFromSetupIniThenCancel) {
  std::string name, version;
  for (int i = 0; i < 255; ++i) {
    name += static_cast<char>('A' + i % 26);
    version += static_cast<char>('0' + i % 10);
  }
  const struct {
    std::string product, version;
    bool fromLicense;
  } rows[] = {{"100% %s Demo", "%d.%x%%", false}, {name, version, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.product.substr(0, 20));
    Launch launch =
        Installed(WriteSetup(SampleFiles(SampleIni({{"ProductName", row.product}, {"ProductVersion", row.version}}))));
    launch.script.Wizard().State();
    if (row.fromLicense) launch.script.Click(1000);
    launch.script.Click(1001).Answer("yes").Exit();
    const Outcome run = Drive(launch);
    ASSERT_TRUE(run.Clean());
    ASSERT_EQ(run.states.size(), 1u) << run;
    const State& state = run.states[0];
    EXPECT_EQ(state.title, (row.product + " " + row.version + " for SmartPhone 2002 Setup").substr(0, 255)) << run;
    EXPECT_EQ(Get(state, 1007, "welcome").text, "Welcome to " + row.product + " for SmartPhone 2002 Setup") << run;
    EXPECT_EQ(Get(state, 1006, "welcome").text,
              ("Setup will install " + row.product + " version " + row.version + kBodyTail).substr(0, 511))
        << run;
    EXPECT_TRUE(run.ExitedWith(0));
    EXPECT_EQ(FilesIn(folder().Temp()), std::vector<std::string>()) << run;
  }
  EXPECT_TRUE(ReadAppMgrLog(folder().AppMgrLog()).empty());
}

ZQ_WINE_TEST_SUITE(Wizard);

}  // namespace
}  // namespace zqrig
