// The Wine rig itself: the stand-in records what it is given, and the driver
// sees boxes, the wizard's state, fonts and exit codes as they are (boxdemo.exe).
#include <fstream>

#include "rig.h"

namespace zqrig {
namespace {

class RigStandIn : public WineTest {};

// Started by the driver exactly as the setup starts it: quoted Setup.ini path,
// a program folder with blanks.  Two starts make two records.
TEST_P(RigStandIn, RecordsCommandLineAndFiles) {
  fs::path appMgr = StandIn("Program Files/Windows CE Services");
  fs::path install = folder().Make("Program Files/Windows CE Services/Demo App");
  std::ofstream(install / "Setup.ini") << "[CEAppManager]\nComponent=Demo\n"
                                          "[Demo]\nCabFiles=demo.cab,gone.cab,\n";
  std::ofstream(install / "demo.cab") << "MSCF";
  std::string ini = WinPath(install / "Setup.ini");

  Launch launch = Setup(appMgr);
  launch.args = "\"" + ini + "\"";
  launch.script.Exit();
  Outcome first = Drive(launch);
  Outcome second = Drive(launch);
  ASSERT_TRUE(first.ExitedWith(0));
  ASSERT_TRUE(second.ExitedWith(0));

  std::vector<AppMgrStart> starts = ReadAppMgrLog(folder().AppMgrLog());
  ASSERT_EQ(starts.size(), 2u);
  const AppMgrStart& start = starts[0];
  EXPECT_EQ(start.commandLine, "\"" + WinPath(appMgr) + "\" \"" + ini + "\"") << start;
  EXPECT_EQ(start.ini, ini) << start;
  EXPECT_TRUE(start.iniExists) << start;
  EXPECT_EQ(start.component, "Demo") << start;
  EXPECT_EQ(start.cabFiles, "demo.cab,gone.cab,") << start;
  std::vector<std::pair<std::string, bool>> cabs = {{"demo.cab", true}, {"gone.cab", false}};
  EXPECT_EQ(start.cabs, cabs) << start;
}

ZQ_WINE_TEST_SUITE(RigStandIn);

class RigBoxes : public WineTest {};

// Caption and text exactly, line break and quotes included; the stop icon,
// OK only, no owner; the 32-bit exit code of -1.
TEST_P(RigBoxes, ReportsErrorBoxAndExitCode) {
  Launch launch = Setup(RigProgram(arch(), "boxdemo.exe"));
  launch.args =
      R"(box -1 "ZQ Installer Error" "Error Code: 00000070\nError \"writing\" to C:\\x.")";
  launch.script.Box().Answer("ok").Exit();
  Outcome run = Drive(launch);
  ASSERT_TRUE(run.Clean());
  EXPECT_TRUE(Refused(run, "Error Code: 00000070\nError \"writing\" to C:\\x."));
}

// A Yes/No question with No as the default: Return takes the default, an
// answer takes the button named.
TEST_P(RigBoxes, SeesDefaultButtonAndAnswers) {
  Launch launch = Setup(RigProgram(arch(), "boxdemo.exe"));
  launch.args = "box answer \"Exit Setup\" \"Exit Setup?\" 0x124";
  launch.script.Box().Key("return").Exit();
  Outcome byReturn = Drive(launch);
  ASSERT_TRUE(byReturn.Clean());
  ASSERT_EQ(byReturn.boxes.size(), 1u);
  EXPECT_EQ(byReturn.boxes[0].defaultButton, "no") << byReturn;
  EXPECT_EQ(byReturn.boxes[0].icon, "question") << byReturn;
  EXPECT_EQ(byReturn.boxes[0].buttons, (std::vector<std::string>{"yes", "no"})) << byReturn;
  EXPECT_TRUE(byReturn.ExitedWith(7));  // IDNO

  launch.script = Script().Answer("yes").Exit();
  EXPECT_TRUE(Drive(launch).ExitedWith(6));  // IDYES
}

// Waits that cannot end well: a box where the wizard was wanted stops the
// script at once with the box on record; a wait that runs out of time stops
// it with TIMEOUT, and the driver ends the program.
TEST_P(RigBoxes, ReportsWaitsThatCannotEnd) {
  Launch launch = Setup(RigProgram(arch(), "boxdemo.exe"));
  launch.args = "box 0 Surprise \"Not the wizard\"";
  launch.script.Wizard().Exit();
  Outcome instead = Drive(launch);
  ASSERT_EQ(instead.boxes.size(), 1u) << instead;
  EXPECT_EQ(instead.boxes[0].caption + ": " + instead.boxes[0].text, "Surprise: Not the wizard") << instead;
  ASSERT_EQ(instead.errors.size(), 1u) << instead;
  EXPECT_NE(instead.errors[0].find("instead of the wizard"), std::string::npos) << instead;
  EXPECT_TRUE(instead.killed) << instead;
  EXPECT_FALSE(instead.exitCode) << instead;

  launch.args = "wizard 0";
  launch.timeoutMs = 500;
  launch.script = Script().Box();
  Outcome late = Drive(launch);
  ASSERT_EQ(late.errors.size(), 1u) << late;
  EXPECT_EQ(late.errors[0], "TIMEOUT action=\"box\" ms=500") << late;
  EXPECT_TRUE(late.killed) << late;
}

ZQ_WINE_TEST_SUITE(RigBoxes);

class RigWizard : public WineTest {};

// boxdemo's wizard-shaped dialog: state, fonts, rectangles, clicks that are
// refused, Esc, the owned question, a capture, the end.
TEST_P(RigWizard, DrivesAWizardShapedDialog) {
  Launch launch = Setup(RigProgram(arch(), "boxdemo.exe"));
  launch.args = "wizard 5";
  launch.captureDir = folder().Root() / "captures";
  launch.script.Wizard().State().Click(1000).Click(1003).Esc().NoBox(300).State()
      .Click(1001).Box().Answer("no").Capture("after-no").Click(1000).Exit();
  Outcome run = Drive(launch);

  EXPECT_EQ(run.wizardTitle, "Rig Demo") << run;
  ASSERT_EQ(run.states.size(), 2u) << run;
  const State& first = run.states[0];
  EXPECT_EQ(first.focus, "1005") << first.Transcript();
  ASSERT_TRUE(first.Find(1000) && first.Find(1004) && first.Find(1005) && first.Find(1007));
  EXPECT_FALSE(first.Find(1000)->enabled) << first.Transcript();
  EXPECT_EQ(first.Find(1004)->checked, 1) << first.Transcript();
  EXPECT_EQ(first.Find(1005)->text, "Line one\r\nLine two") << first.Transcript();
  EXPECT_EQ(first.Find(1000)->rect, first.Pixels(90, 90, 50, 14)) << first.Transcript();
  ASSERT_TRUE(first.Page("welcome")) << first.Transcript();
  EXPECT_EQ(first.Find(1007, "welcome")->font, "own") << first.Transcript();
  EXPECT_EQ(first.Find(1007, "welcome")->face, "Arial") << first.Transcript();
  EXPECT_EQ(first.Find(1007, "welcome")->weight, 700) << first.Transcript();
  EXPECT_EQ(first.Find(1006, "welcome")->font, "dialog") << first.Transcript();

  // Next was disabled: the one refused click.
  ASSERT_EQ(run.errors.size(), 1u) << run;
  EXPECT_NE(run.errors[0].find("click:1000"), std::string::npos) << run;
  EXPECT_NE(run.errors[0].find("disabled"), std::string::npos) << run;
  const State& second = run.states[1];
  EXPECT_TRUE(second.Find(1000)->enabled) << second.Transcript();
  EXPECT_EQ(second.Find(1003)->checked, 1) << second.Transcript();

  ASSERT_EQ(run.boxes.size(), 1u) << run;  // Esc opened none
  EXPECT_EQ(run.boxes[0].caption, "Exit Demo") << run;
  EXPECT_EQ(run.boxes[0].owner, "wizard") << run;
  EXPECT_EQ(run.boxes[0].wizard, "disabled") << run;
  EXPECT_EQ(run.captures.size(), 1u) << run;
  EXPECT_TRUE(run.ExitedWith(5));
}

ZQ_WINE_TEST_SUITE(RigWizard);

}  // namespace
}  // namespace zqrig
