// zqpack's command line, read by CLI11: a table of commands, each with its
// hand-written help and a function that defines its options and returns the
// handler that acts on them.  The help of each command is its synopsis and
// prose around the list that the options give; a wrong command line is
// answered with one line and exit code 2.
#pragma once
#include <CLI/CLI.hpp>
#include <functional>
#include <stdexcept>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitBad = 1;    // the setup or the settings are bad, or a file could not be read or written
constexpr int kExitUsage = 2;  // the command line is wrong

// A wrong command line that only the handler can see, such as two options
// that do not go together in this case.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Acts on the options once they are read; quiet: -q, before the command or after it.
using Handler = std::function<int(bool quiet)>;

struct Command {
  const char* name;
  const char* summary;  // its line under "Commands:" in zqpack --help
  const char* usage;    // the synopsis after "Usage: ", one or more lines
  const char* about;    // the prose between the synopsis and the options
  const char* notes;    // the prose after the options, or ""
  // Adds the command's options and arguments to app; the handler reads what they were given.
  Handler (*define)(CLI::App& app);
};

// Reads the command line against the tool's own options and its commands,
// prints the help or the error or runs the command named; returns the exit
// code.  The tool's define adds the options before a command (its handler
// is never run).
int RunCommandLine(const Command& tool, const std::vector<const Command*>& commands, int argc, char** argv);
