#include "apps/options/ProgramInfo.h"

#include <omniORB4/CORBA.h>

#include <regex>

namespace TamblixHq::NODRA::Apps {

const char* mfProjectVersion() { return NODRA_VERSION; }

std::string mfVersionLine(const std::string& program) { return program + " " + mfProjectVersion(); }

std::string mfOmniOrbVersion() { return omniORB::versionString(); }

void mpAddVersionFlag(CLI::App& app, const std::string& line) {
  app.set_version_flag("--version", line, "print the program's version and exit");
}

void mpUseProgramName(CLI::App& app, const std::string& program) {
  app.failure_message([program](const CLI::App*, const CLI::Error& e) {
    return program + ": " + e.what() + "\nRun " + program + " --help for the options.\n";
  });
}

void mpMakeHelpReadable(CLI::App& app) {
  static const std::regex range(R"(^[A-Z]+ in \[(.*) - (.*)\]$)");
  for (CLI::Option* option : app.get_options()) {
    for (int i = 0;; ++i) {
      CLI::Validator* validator = nullptr;
      try {
        validator = option->get_validator(i);
      } catch (const CLI::OptionNotFound&) {
        break;  // past the last: CLI11 throws rather than answer nothing
      }
      std::smatch match;
      const std::string said = validator->get_description();
      if (said.empty()) continue;
      if (std::regex_match(said, match, range)) {
        option->description(option->get_description() + " (" + match[1].str() + " to " + match[2].str() + ")");
      } else {
        option->type_name(said);  // "DIR", "FILE": the check's word is the better type
      }
      validator->description("");
    }
    const std::string type = option->get_type_name();
    if (type == "UINT" || type == "INT") option->type_name("N");
    if (type == "FLOAT") option->type_name("NUMBER");
  }
  for (CLI::App* command : app.get_subcommands({})) mpMakeHelpReadable(*command);
}

void mpAddConfigOption(CLI::App& app) {
  app.set_config("--config", "", "read options from the INI or TOML file PATH (same names as the long "
                                 "options; the command line wins)")
      ->type_name("PATH");
  app.allow_config_extras(CLI::config_extras_mode::error);
}

}  // namespace TamblixHq::NODRA::Apps
