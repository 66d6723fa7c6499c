// zqwineworld: the Wine world for scripts (bench/run.sh).
//   zqwineworld up DIR    starts Xvfb, makes DIR/prefix (once; reused while
//                         DIR/prefix-ready exists) and prints the environment
//                         of the world's Wine programs as "export" lines
//   zqwineworld down DIR  ends the wineserver and the Xvfb of that world
// The Windows programs (the driver's probe) are looked for in ZQ_OUT_DIR,
// default the folder zqwineworld lies in (out/ of the source tree), so that
// no path of the build is written into the program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "world.h"

int main(int argc, char** argv) {
  using namespace zqworld;
  if (argc != 3 || (std::strcmp(argv[1], "up") != 0 && std::strcmp(argv[1], "down") != 0)) {
    std::fprintf(stderr, "usage: zqwineworld up|down DIR\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[2]);
  if (std::strcmp(argv[1], "down") == 0) return World::TakeDownIn(dir), 0;
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
