#include "command_line.h"

#include <stdio.h>

#include <map>
#include <sstream>

namespace {

constexpr size_t kHelpColumns = 79;

std::string Padded(std::string text, size_t width) {
  text.resize(std::max(width, text.size()), ' ');
  return text;
}

// The words of text on lines of at most kHelpColumns characters, every line
// but the first indented to column.
std::string Wrapped(const std::string& text, size_t column) {
  std::istringstream words(text);
  std::string wrapped, word;
  size_t used = column;
  while (words >> word) {
    if (!wrapped.empty() && used + 1 + word.size() > kHelpColumns) {
      wrapped += "\n" + std::string(column, ' ');
      used = column;
    } else if (!wrapped.empty()) {
      wrapped += ' ';
      ++used;
    }
    wrapped += word;
    used += word.size();
  }
  return wrapped;
}

// "-o, --output SETUP", "--force".
std::string OptionLabel(const CLI::Option* option) {
  std::string label;
  for (const std::string& name : option->get_snames()) label += (label.empty() ? "-" : ", -") + name;
  for (const std::string& name : option->get_lnames()) label += (label.empty() ? "--" : ", --") + name;
  if (option->get_type_size() != 0) label += " " + option->get_type_name();
  return label;
}

// A command's synopsis and prose as written, with its commands and options
// listed from what the command line defines.  Arguments and options without
// a description (-q and -h after a command) are left to the prose.
class HelpFormatter : public CLI::Formatter {
 public:
  std::map<const CLI::App*, const Command*> commands;

  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    const Command& command = *commands.at(app);
    std::string text = std::string("Usage: ") + command.usage + "\n" + command.about;
    const auto listed = app->get_subcommands([](const CLI::App* sub) { return !sub->get_group().empty(); });
    if (!listed.empty()) {
      text += "\nCommands:\n";
      for (const CLI::App* sub : listed) text += "  " + Padded(sub->get_name(), 10) + sub->get_description() + "\n";
    }
    const auto options = app->get_options(
        [](const CLI::Option* option) { return !option->get_positional() && !option->get_description().empty(); });
    size_t column = 0;
    for (const CLI::Option* option : options) column = std::max(column, OptionLabel(option).size() + 4);
    text += "\nOptions:\n";
    for (const CLI::Option* option : options)
      text += "  " + Padded(OptionLabel(option), column - 2) + Wrapped(option->get_description(), column) + "\n";
    if (*command.notes != '\0') text += std::string("\n") + command.notes;
    return text;
  }
};

// "zqpack" or "zqpack build", as errors name the command.
std::string Named(const CLI::App* command) { return command == nullptr ? "zqpack" : "zqpack " + command->get_name(); }

int Usage(const CLI::App* command, const std::string& problem) {
  fprintf(stderr, "%s: %s (see %s --help)\n", Named(command).c_str(), problem.c_str(), Named(command).c_str());
  return kExitUsage;
}

}  // namespace

int RunCommandLine(const Command& tool, const std::vector<const Command*>& commands, int argc, char** argv) {
  CLI::App app("", "zqpack");
  const auto formatter = std::make_shared<HelpFormatter>();
  app.formatter(formatter);
  app.option_defaults()->disable_flag_override();
  // One command a run: a later word that names a command is an argument.
  app.require_subcommand(0, 1);
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "no progress bar and no summary lines");
  app.set_help_flag("-h,--help", "this text; 'zqpack COMMAND --help' for a command");
  tool.define(app);
  formatter->commands[&app] = &tool;
  // A word that names no command, caught here to be named as one.
  std::vector<std::string> unknown;
  app.add_option("COMMAND", unknown);
  std::map<const CLI::App*, Handler> handlers;
  for (const Command* command : commands) {
    CLI::App* sub = app.add_subcommand(command->name, command->summary);
    sub->add_flag("-q,--quiet", quiet);
    handlers[sub] = command->define(*sub);
    sub->set_help_flag("-h,--help");
    formatter->commands[sub] = command;
  }
  // 'zqpack help [COMMAND]': the --help of either.
  CLI::App* help = app.add_subcommand("help")->group("");
  std::string topic;
  help->add_option("COMMAND", topic);
  const auto showHelp = [&formatter](const CLI::App* shown) {
    printf("%s", formatter->make_help(shown, "", CLI::AppFormatMode::Normal).c_str());
    return kExitOk;
  };

  const CLI::App* command = nullptr;
  try {
    app.parse(argc, argv);
    if (!unknown.empty()) return Usage(nullptr, "unknown command '" + unknown[0] + "'");
    if (app.get_subcommands().empty()) return Usage(nullptr, "missing command");
    command = app.get_subcommands()[0];
    if (command != help) return handlers.at(command)(quiet);
    if (topic.empty()) return showHelp(&app);
    for (const auto& named : handlers)
      if (named.first->get_name() == topic) return showHelp(named.first);
    return Usage(nullptr, "unknown command '" + topic + "'");
  } catch (const CLI::CallForHelp&) {
    const auto parsed = app.get_subcommands();
    return showHelp(parsed.empty() || parsed.back() == help ? &app : parsed.back());
  } catch (const CLI::CallForVersion& version) {
    printf("%s", version.what());
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    // A word that fits nowhere is named first: a mistyped option often
    // leaves another one missing.
    const auto parsed = app.get_subcommands();
    const CLI::App* failed = parsed.empty() ? nullptr : parsed.back();
    const std::vector<std::string> extra = (failed == nullptr ? &app : failed)->remaining();
    if (extra.empty()) return Usage(failed, e.what());
    return Usage(failed, (extra[0][0] == '-' ? "unknown option '" : "unexpected argument '") + extra[0] + "'");
  } catch (const UsageError& e) {
    return Usage(command, e.what());
  } catch (const std::exception& e) {
    fprintf(stderr, "%s: %s\n", Named(command).c_str(), e.what());
    return kExitBad;
  }
}
