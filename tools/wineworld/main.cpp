// zqwineworld: the Wine world for scripts (bench/run.sh) and for CTest.
//   zqwineworld up [--fresh] DIR
//                         starts Xvfb, makes DIR/prefix (anew with --fresh,
//                         else once, reused while DIR/prefix-ready exists),
//                         prints the environment of the world's Wine programs
//                         as "export" lines and, on stderr, whether programs
//                         of each architecture run here
//   zqwineworld down DIR  ends the wineserver and the Xvfb of that world
//   zqwineworld serve DIR ends the world's wineserver and becomes a persistent
//                         one in the foreground, so that it stays in the
//                         caller's session and shares its scheduling group
//   zqwineworld run DIR ARCH PROGRAM [ARG...]
//                         runs a console Windows program (a bare name: the
//                         one built for ARCH) in the world up in DIR, in a
//                         fresh folder DIR/tests/<name>.<arch>; its exit
//                         status, or 77 when this machine cannot run ARCH at
//                         all (CTest's code for a skipped test)
//   zqwineworld path UNIXPATH...  the Wine path of each, one a line
// The Windows programs (the driver's probe) are looked for in ZQ_OUT_DIR,
// default the folder zqwineworld lies in (out/ of the source tree), so that
// no path of the build is written into the program.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "world.h"

namespace {

int RunIn(const zqworld::fs::path& dir, const zqworld::Programs& programs, zqworld::Arch arch, std::string program,
          const std::vector<std::string>& args) {
  using namespace zqworld;
  const std::optional<World> world = World::In(dir);
  if (!world || !world->Ready()) return std::fprintf(stderr, "zqwineworld: no world is up in %s\n", dir.c_str()), 1;
  bool cannot = false;
  const std::string why = world->WhyNotRunningIn(dir, arch, programs, &cannot);
  if (!why.empty()) {
    std::printf("%s %s: %s\n", ArchName(arch), cannot ? "not run" : "should run here but does not", why.c_str());
    return cannot ? 77 : 1;
  }
  if (program.find('/') == std::string::npos) program = programs.Get(arch, program).string();
  if (!fs::exists(program)) return std::printf("%s is not built\n", program.c_str()), 1;
  const fs::path cwd = dir / "tests" / (fs::path(program).stem().string() + "." + ArchName(arch));
  fs::remove_all(cwd);
  fs::create_directories(cwd);
  const ProgramResult result = world->RunProgram(arch, program, args, cwd);
  std::fputs(result.out.c_str(), stdout);
  std::fputs(result.err.c_str(), stderr);
  return result.status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zqworld;
  const std::string verb = argc > 2 ? argv[1] : "";
  if (verb == "path") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", WinPath(argv[i]).c_str());
    return 0;
  }
  const bool fresh = verb == "up" && argc == 4 && std::strcmp(argv[2], "--fresh") == 0;
  const bool run =
      verb == "run" && argc >= 5 && (std::strcmp(argv[3], "x86_64") == 0 || std::strcmp(argv[3], "i686") == 0);
  if (!run && argc != 3 + fresh) {
    std::fprintf(stderr,
                 "usage: zqwineworld up [--fresh] DIR | down DIR | serve DIR | run DIR ARCH PROGRAM [ARG...] | path "
                 "UNIXPATH...\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[2 + fresh]);
  const char* out = std::getenv("ZQ_OUT_DIR");
  const Programs programs{out ? fs::path(out) : fs::read_symlink("/proc/self/exe").parent_path()};
  if (run) return RunIn(dir, programs, argv[3][0] == 'i' ? Arch::i686 : Arch::x86_64, argv[4], {argv + 5, argv + argc});
  if (verb == "down") return World::TakeDownIn(dir), 0;
  if (verb == "serve" && argc == 3) {
    const std::optional<World> there = World::In(dir);
    if (!there) return std::fprintf(stderr, "zqwineworld: no world is up in %s\n", argv[2]), 1;
    const std::vector<std::string> env = there->Environment(Arch::x86_64);
    Run({kWineServer, "-k"}, env, 30);
    std::vector<char*> envp;
    for (const std::string& var : env) envp.push_back(const_cast<char*>(var.c_str()));
    envp.push_back(nullptr);
    const char* args[] = {kWineServer, "-f", "-p", nullptr};
    execve(kWineServer, const_cast<char**>(args), envp.data());
    return std::perror("zqwineworld: wineserver"), 1;
  }
  if (verb != "up") return std::fprintf(stderr, "zqwineworld: unknown command %s\n", verb.c_str()), 2;
  World world;
  std::string why;
  if (!world.SetUpIn(dir, programs, fresh, &why)) {
    std::fprintf(stderr, "zqwineworld: %s\n", why.c_str());
    return 1;
  }
  for (Arch arch : {Arch::x86_64, Arch::i686}) {
    bool cannot = false;
    why = world.WhyNotRunningIn(dir, arch, programs, &cannot);
    std::fprintf(stderr, "zqwineworld: %s %s%s\n", ArchName(arch),
                 why.empty() ? "runs here"
                 : cannot    ? "cannot run here: "
                             : "should run here but fails: ",
                 why.c_str());
  }
  const std::vector<std::string> base = BaseEnvironment();
  const std::set<std::string> unchanged(base.begin(), base.end());
  for (const std::string& var : world.Environment(Arch::x86_64)) {
    if (unchanged.count(var)) continue;
    std::string quoted;
    for (char c : var.substr(var.find('=') + 1)) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    std::printf("export %s='%s'\n", var.substr(0, var.find('=')).c_str(), quoted.c_str());
  }
  return 0;
}
