// zqpack run on the demo setup, in zqpack's own Wine world: the report and
// exit code of a hand-off (as JSON, with screenshots), a Cancel, a damaged
// setup, an install folder blocked by a file and a machine without Wine
// (which still hears what check says of the setup's CAB files).
#include <fstream>
#include <nlohmann/json.hpp>

#include "rig.h"

namespace zqrig {
namespace {

using nlohmann::json;

class ZqpackRun : public WineTest {};

TEST_P(ZqpackRun, ReportsWhatTheSetupDid) {
  const fs::path setup = folder().Root() / "DemoSetup.exe", damaged = folder().Root() / "damaged.exe";
  const fs::path blocked = folder().Make("blocked"), shots = folder().Root() / "shots", demo = ZQ_SOURCE_DIR "/demo";
  const fs::path scratch = folder().Root() / "scratch";
  ASSERT_EQ(RunZqpack({"-q", "build", demo / "Setup.ini", "-o", setup, "--arch", ArchName(arch())}, scratch).status, 0);
  std::vector<uint8_t> bytes = FileBytes(setup);
  bytes[32768 + (bytes.size() - 32768) / 2] ^= 0xFF;
  zqfixture::WriteFileBytes(damaged.string(), bytes);
  const std::string message =
      json::parse(RunZqpack({"verify", "--json", damaged}, scratch, false).out)["verdict"]["message"];
  std::ofstream(blocked / "ZQDemo") << "not a folder";

  const ProgramResult run = RunZqpack({"run", setup, "--json", "--screenshots", shots}, scratch, false);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const json report = json::parse(run.out, nullptr, false);
  EXPECT_EQ(report.value("wizardTitle", json()), "Demo 1.53 for SmartPhone 2002 Setup") << run.out << run.err;
  EXPECT_EQ(report.value("exitCode", json()), "00000000");
  const json files = {
      {{"name", "Setup.ini"}, {"bytes", fs::file_size(demo / "Setup.ini")}, {"state", "same as packed"}},
      {{"name", "DEMO.CAB"}, {"bytes", fs::file_size(demo / "DEMO.CAB")}, {"state", "same as packed"}}};
  EXPECT_EQ(report.value("handOff", json()).value("files", json()), files) << run.out;
  // A blank screen is a few hundred bytes of PNG; the wizard's views many kilobytes.
  for (const char* view : {"welcome", "license", "cancel-question"}) {
    const fs::path shot = shots / (std::string(view) + ".png");
    EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 8000u) << shot;
  }

  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string said;
  } rows[] = {
      {"Cancel",
       {setup, "--decline"},
       0,
       "exit code: 00000000\nhand-off: the Application Manager was not started\nresult: ok"},
      {"a damaged setup", {damaged}, 1, "box \"ZQ Installer Error\": \"" + message + "\"\nexit code: FFFFFFFF\n"},
      {"a file in place of the install folder",
       {setup, "--appmgr-dir", blocked},
       1,
       "result: FAILED: Setup.ini in the install folder: missing: a file stands where the install folder should be"},
      {"no Wine",
       {},
       1,
       "Wine (no wine on the PATH), Xvfb is missing here: install the Debian packages: wine wine64 xvfb"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::string> args = {"run"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    if (row.args.empty()) args.push_back(setup);
    const ProgramResult said = RunZqpack(args, scratch, true, row.args.empty() ? "/nonexistent" : std::getenv("PATH"));
    EXPECT_EQ(said.status, row.status) << said.out;
    EXPECT_NE(said.out.find(row.said), std::string::npos) << "wanted\n" << row.said << "\nsaw\n" << said.out;
  }
  EXPECT_EQ(FilesIn(blocked), (std::vector<std::string>{"CeAppMgr.exe", "ZQDemo"}));

  // check's findings about the packed CAB files come first, even where
  // nothing can run.
  const fs::path plain = folder().Root() / "plain.exe";
  zqfixture::WriteFileBytes(plain.string(), zqfixture::BuildSetup(Recipe(arch(), TwoCabFiles())));
  const ProgramResult warned = RunZqpack({"run", plain}, scratch, true, "/nonexistent");
  EXPECT_EQ(warned.out.rfind("zqpack: DEMO.CAB: warning: holds no Windows CE setup information", 0), 0u) << warned.out;
}

ZQ_WINE_TEST_SUITE(ZqpackRun);

}  // namespace
}  // namespace zqrig
