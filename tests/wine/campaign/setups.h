// What the fault and hostile-input tests set up around a run: their test
// fixture, setups made with the real program proper, Setup.ini variants of
// the sample product, tmpfs mounts for full and read-only disks, and the
// wait for the stand-in Application Manager.  Header only, like checks.h.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "campaign/checks.h"
#include "fixture.h"
#include "rig.h"

namespace zqsetup {

namespace fs = std::filesystem;
using zqfixture::Entry;

// The sample product's Setup.ini with some values replaced ("LicenseFile"
// -> "x.txt"); every key of the sample appears once, as "Key = value".
inline std::string SampleIni(const std::map<std::string, std::string>& values = {}) {
  std::string ini = zqfixture::SampleSetupIni();
  for (const auto& [key, value] : values) {
    const std::string head = "\n" + key + " = ";
    const size_t at = ini.find(head);
    if (at == std::string::npos) throw std::invalid_argument("the sample's Setup.ini has no key " + key);
    const size_t start = at + head.size();
    const size_t end = ini.find('\r', start);
    ini.replace(start, end == std::string::npos ? std::string::npos : end - start, value);
  }
  return ini;
}

// The sample's files (license.rtf, body.bmp, head.bmp, Setup.ini, DEMO.CAB)
// with this Setup.ini.
inline std::vector<Entry> SampleFiles(const std::string& ini = SampleIni()) {
  std::vector<Entry> entries = zqfixture::SampleEntries();
  for (Entry& entry : entries)
    if (entry.name == "Setup.ini") entry.contents = zqfixture::Bytes(ini);
  return entries;
}

// A setup of these files behind the real program proper.
inline fs::path WriteSetup(zqrig::Arch arch, const std::vector<Entry>& entries, const fs::path& path) {
  zqfixture::SetupRecipe recipe;
  recipe.stub = zqfixture::ReadFileBytes(zqrig::ProgramProper(arch).string());
  recipe.entries = entries;
  zqfixture::WriteFileBytes(path.string(), zqfixture::BuildSetup(recipe));
  return path;
}

inline const Entry* Find(const std::vector<Entry>& entries, const std::string& name) {
  for (const Entry& entry : entries)
    if (entry.name == name) return &entry;
  return nullptr;
}

// A Wine test of the program proper: skipped while it is not built, failed
// when Wine's crash debugger ran (a crash shows as its dialog, which keeps
// the program alive until a wait of the driver runs out).
class ProgramTest : public zqrig::WineTest {
 protected:
  void SetUp() override {
    WineTest::SetUp();
    if (IsSkipped()) return;
    if (!fs::exists(zqrig::ProgramProper(arch()))) GTEST_SKIP() << zqrig::ProgramProper(arch()) << " is not built";
    zqcheck::EndCrashDebuggers(zqrig::Rig::Get().Prefix());  // one left by an earlier test is not this one's
  }
  void TearDown() override {
    if (!IsSkipped()) {
      EXPECT_EQ(zqcheck::EndCrashDebuggers(zqrig::Rig::Get().Prefix()), "") << "Wine's crash debugger ran";
    }
    WineTest::TearDown();
  }

  // A launch of `setup` whose App Paths value names the stand-in; no
  // captures, so that nothing but the run changes the test's folder.
  zqrig::Launch Installed(const fs::path& setup) const {
    zqrig::Launch launch = Setup(setup);
    launch.appPaths = zqrig::AppPaths::Pointing(StandIn());
    launch.captureDir.clear();
    return launch;
  }
};

// A tmpfs over a folder for the life of the object: small for a full disk,
// read-only for a medium that takes nothing.  Unmounted (lazily, should
// Wine still hold a handle) when the test ends, also when it fails.
class TmpfsMount {
 public:
  TmpfsMount(const fs::path& dir, const std::string& options) : dir_(dir) {
    fs::create_directories(dir);
    mounted_ = mount("zqtest", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!mounted_) why_ = std::string("cannot mount a tmpfs on ") + dir.string() + ": " + std::strerror(errno);
  }
  ~TmpfsMount() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  // Makes the mounted folder read-only from now on.
  bool MakeReadOnly() {
    if (!mounted_ || mount("zqtest", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0) return mounted_;
    why_ = std::string("cannot remount ") + dir_.string() + " read-only: " + std::strerror(errno);
    return false;
  }

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
  std::string why_;
};

// Waits up to `seconds` for the stand-in's log to hold `starts` complete
// records: it runs on after the setup has ended.
inline std::vector<zqrig::AppMgrStart> AwaitAppMgr(const fs::path& log, size_t starts, double seconds = 10) {
  for (int waited = 0; waited < seconds * 20; ++waited) {
    std::ifstream in(log, std::ios::binary);
    size_t ends = 0;
    for (std::string line; std::getline(in, line);) ends += line == "END" || line == "END\r";
    if (ends >= starts) break;
    usleep(50000);
  }
  return zqrig::ReadAppMgrLog(log);
}

}  // namespace zqsetup
