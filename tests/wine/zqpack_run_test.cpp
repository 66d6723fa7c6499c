// zqpack run on the demo setup, in zqpack's own Wine world (its cache in the
// rig folder): the report and exit code of a hand-off, a Cancel, a damaged
// setup, an install folder blocked by a file and a machine without Wine.
#include <fstream>
#include <nlohmann/json.hpp>

#include "rig.h"

namespace zqrig {
namespace {

const char kDemoTitle[] = "Demo 1.53 for SmartPhone 2002 Setup";

class ZqpackRun : public WineTest {
 protected:
  // out/zqpack with these arguments; HOME and XDG_CACHE_HOME in the rig folder.
  ProgramResult Zqpack(std::vector<std::string> args, const std::string& path = std::getenv("PATH")) const {
    const fs::path cache = (folder().Root() / "../../zqpack-cache").lexically_normal();
    std::vector<std::string> env = {"HOME=" + (cache / "home").string(), "XDG_CACHE_HOME=" + cache.string(),
                                    "PATH=" + path};
    for (const std::string& var : zqworld::BaseEnvironment())
      if (var.rfind("HOME=", 0) && var.rfind("XDG_", 0) && var.rfind("PATH=", 0)) env.push_back(var);
    args.insert(args.begin(), (OutDir() / "zqpack").string());
    return zqworld::Run(args, env, 600);
  }
};

TEST_P(ZqpackRun, ReportsWhatTheSetupDid) {
  const fs::path setup = folder().Root() / "DemoSetup.exe", damaged = folder().Root() / "damaged.exe";
  const fs::path blocked = folder().Make("blocked"), shots = folder().Root() / "shots";
  ASSERT_EQ(Zqpack({"-q", "build", ZQ_SOURCE_DIR "/demo/Setup.ini", "-o", setup, "--arch", ArchName(arch())}).status,
            0);
  std::vector<uint8_t> bytes = FileBytes(setup);
  bytes[32768 + (bytes.size() - 32768) / 2] ^= 0xFF;
  zqfixture::WriteFileBytes(damaged.string(), bytes);
  const std::string message =
      nlohmann::json::parse(Zqpack({"verify", "--json", damaged}).out)["verdict"]["message"].get<std::string>();
  std::ofstream(blocked / "ZQDemo") << "not a folder";

  // The hand-off as a document, with a screenshot of each view.
  const ProgramResult json = Zqpack({"run", setup, "--json", "--screenshots", shots});
  EXPECT_EQ(json.status, 0) << json.out << json.err;
  const nlohmann::json report = nlohmann::json::parse(json.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << json.out << json.err;
  EXPECT_EQ(report["wizardTitle"], kDemoTitle);
  EXPECT_EQ(report["exitCode"], "00000000");
  EXPECT_EQ(report["handOff"]["files"], nlohmann::json::parse(R"([
      {"name": "Setup.ini", "bytes": )" + std::to_string(fs::file_size(ZQ_SOURCE_DIR "/demo/Setup.ini")) +
                                                              R"(, "state": "same as packed"},
      {"name": "DEMO.CAB", "bytes": )" + std::to_string(fs::file_size(ZQ_SOURCE_DIR "/demo/DEMO.CAB")) +
                                                              R"(, "state": "same as packed"}])"));
  // A blank screen is a few hundred bytes of PNG; the wizard's views many kilobytes.
  for (const char* view : {"welcome", "license", "cancel-question"}) {
    const fs::path shot = shots / (std::string(view) + ".png");
    EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 8000u) << shot;
  }

  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string path;  // PATH
    int status;
    std::vector<std::string> said;
  } rows[] = {
      {"Cancel",
       {"run", setup, "--decline"},
       std::getenv("PATH"),
       0,
       {"wizard: \"" + std::string(kDemoTitle) + "\"", "view: the Cancel question",
        "hand-off: the Application Manager was not started", "result: ok"}},
      {"a damaged setup",
       {"run", damaged},
       std::getenv("PATH"),
       1,
       {"box \"ZQ Installer Error\": \"" + message + "\"", "exit code: FFFFFFFF", "result: FAILED"}},
      {"a file where the install folder goes",
       {"run", setup, "--appmgr-dir", blocked},
       std::getenv("PATH"),
       1,
       {"Setup.ini in the install folder: missing: a file stands where the install folder should be"}},
      {"no Wine",
       {"run", setup},
       "/nonexistent",
       1,
       {"Wine (no wine on the PATH), Xvfb is missing here: install the Debian packages: wine wine64 xvfb"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const ProgramResult run = Zqpack(row.args, row.path);
    EXPECT_EQ(run.status, row.status) << run.out << run.err;
    for (const std::string& line : row.said)
      EXPECT_NE((run.out + run.err).find(line), std::string::npos) << "wanted " << line << "\n" << run.out << run.err;
  }
  EXPECT_EQ(FilesIn(blocked), (std::vector<std::string>{"CeAppMgr.exe", "ZQDemo"}));
}

ZQ_WINE_TEST_SUITE(ZqpackRun);

}  // namespace
}  // namespace zqrig
