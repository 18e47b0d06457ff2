#include "apps/options/ProgramInfo.h"

#include <omniORB4/CORBA.h>

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

void mpAddConfigOption(CLI::App& app) {
  app.set_config("--config", "", "read options from the INI or TOML file PATH (same names as the long "
                                 "options; the command line wins)")
      ->type_name("PATH");
  app.allow_config_extras(CLI::config_extras_mode::error);
}

}  // namespace TamblixHq::NODRA::Apps
