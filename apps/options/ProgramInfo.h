// What every program says of itself and where it may read its options: --version prints
// the project's version (one line), --config PATH reads options from a file.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace TamblixHq::NODRA::Apps {

// The version of this build, from the repository: "0.1.0" at a tag v0.1.0, "0.1.0+12.g1a2b3c4d" past it.
const char* mfProjectVersion();

// "PROGRAM VERSION", the line --version prints.
std::string mfVersionLine(const std::string& program);

// The version of the omniORB library the process runs on (not the one it was built with).
std::string mfOmniOrbVersion();

// Adds --version to `app`: it prints `line` on standard output and ends with status 0
// (app.exit of the CLI::CallForVersion that parse throws).
void mpAddVersionFlag(CLI::App& app, const std::string& line);

// Makes `app`'s usage errors read "PROGRAM: what is wrong" and point to --help.
void mpUseProgramName(CLI::App& app, const std::string& program);

// Makes the help of `app` and its subcommands readable: "N" and "NUMBER" for CLI11's
// "UINT", "INT" and "FLOAT", and a range check said as "(1 to 3600)" after the option's
// text instead of "UINT:UINT in [1 - 3600]". REQUIRES: every option is defined.
void mpMakeHelpReadable(CLI::App& app);

// Adds --config PATH to `app`: the options are read from the file, under the names of their
// long forms without the dashes (INI or TOML: `port = 2810`, `access-point = ["a=/x",
// "b=/y"]`, `#` or `;` comments), and an option given on the command line wins over the
// file (a repeatable one given there replaces the file's values, it does not add to them).
// A name the program does not have is an error, so that a misspelt setting is not ignored.
void mpAddConfigOption(CLI::App& app);

}  // namespace TamblixHq::NODRA::Apps
