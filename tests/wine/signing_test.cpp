// Signed setups under Wine: a setup signed through zqpack build --sign runs
// through the wizard and hands off like an unsigned one; one whose payload is
// damaged after signing is refused with the program's own message.  (The
// checksum's rule and --sign's refusals: tests/host/signing_test.cpp.)
#include "resources/resource.h"
#include "rig.h"

namespace zqrig {
namespace {

class SignedSetup : public ProgramTest {
 protected:
  // setup.exe of the sample, packed by zqpack behind this architecture's
  // program proper and signed with a throwaway certificate; empty, with a
  // failure that says why, when it could not be made.
  fs::path BuildSigned() {
    std::string why;
    const std::string sign = zqfixture::MakeSigningCommand((folder().Root() / "cert").string(), &why);
    if (sign.empty()) {
      ADD_FAILURE() << why << " (tools/install-deps.sh installs both)";
      return fs::path();
    }
    const fs::path product = folder().Make("product");
    for (const Entry& entry : SampleFiles()) zqfixture::WriteFileBytes((product / entry.name).string(), entry.contents);
    const fs::path setup = folder().Root() / "setup.exe";
    ProgramResult build = RunZqpack({"-q", "build", (product / "Setup.ini").string(), "-o", setup.string(), "--stub",
                                     ProgramProper(arch()).string(), "--sign", sign},
                                    folder().Root() / "zqpack-scratch");
    EXPECT_EQ(build.status, 0) << "zqpack build --sign said: " << build.out;
    EXPECT_EQ(zqfixture::VerifySignature((folder().Root() / "cert").string(), setup.string()), 0)
        << "osslsigncode verify refused " << setup;
    return build.status == 0 ? setup : fs::path();
  }
};

// The signature changes the header's CheckSum and certificate-table entry
// and sits behind the payload: the program reads past neither.  A byte of the
// entry table changed after signing gives the program's own message, not a
// pass because the file is signed.
TEST_P(SignedSetup, RunsThroughTheWizardUnlessDamaged) {
  const fs::path setup = BuildSigned();
  ASSERT_FALSE(setup.empty());
  Launch launch = Installed(setup);
  launch.script.Wizard().Click(IDC_NEXT).Click(IDC_ACCEPT).Click(IDC_NEXT).Exit();
  Outcome run = Drive(launch);
  EXPECT_EQ(run.wizardTitle, kSampleTitle) << run;
  EXPECT_TRUE(run.Clean());
  EXPECT_TRUE(run.boxes.empty()) << run;
  EXPECT_TRUE(run.ExitedWith(0));
  std::vector<AppMgrStart> starts = AwaitAppMgr(folder().AppMgrLog(), 1);
  ASSERT_EQ(starts.size(), 1u) << run;
  EXPECT_TRUE(starts[0].iniExists) << starts[0];
  EXPECT_EQ(starts[0].cabs, (std::vector<std::pair<std::string, bool>>{{"DEMO.CAB", true}})) << starts[0];

  std::vector<uint8_t> bytes = zqfixture::ReadFileBytes(setup);
  bytes[kTableOffset + 4] ^= 0x01;
  zqfixture::WriteFileBytes(setup.string(), bytes);
  launch.script = Script().Box().Answer("ok").Exit();
  EXPECT_TRUE(Refused(Drive(launch), Messages[MSG_BAD_TABLE_CRC]));
}

ZQ_WINE_TEST_SUITE(SignedSetup);

}  // namespace
}  // namespace zqrig
