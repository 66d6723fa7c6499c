// zqwineworld: the Wine world for scripts (bench/run.sh).
//   zqwineworld up DIR    starts Xvfb, makes DIR/prefix (once; reused while
//                         DIR/prefix-ready exists) and prints the environment
//                         of the world's Wine programs as "export" lines
//   zqwineworld down DIR  ends the wineserver and the Xvfb of that world
//   zqwineworld serve DIR ends the world's wineserver and becomes a persistent
//                         one in the foreground, so that it stays in the
//                         caller's session and shares its scheduling group
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

int main(int argc, char** argv) {
  using namespace zqworld;
  const std::string verb = argc > 2 ? argv[1] : "";
  if (verb == "path") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", WinPath(argv[i]).c_str());
    return 0;
  }
  if (argc != 3 || (verb != "up" && verb != "down" && verb != "serve")) {
    std::fprintf(stderr, "usage: zqwineworld up|down|serve DIR | path UNIXPATH...\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[2]);
  if (verb == "down") return World::TakeDownIn(dir), 0;
  if (verb == "serve") {
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
  World world;
  std::string why;
  const char* out = std::getenv("ZQ_OUT_DIR");
  if (!world.SetUpIn(dir, {out ? fs::path(out) : fs::read_symlink("/proc/self/exe").parent_path()}, false, &why)) {
    std::fprintf(stderr, "zqwineworld: %s\n", why.c_str());
    return 1;
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
