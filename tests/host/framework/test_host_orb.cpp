// How a command line is shared between the ORB and the program.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/framework/CHostOrb.h"

namespace {

using TamblixHq::NODRA::Framework::CHostOrb;
using Strings = std::vector<std::string>;

TEST(HostOrb, OrbOptionsAndTheirValuesAreSetAsideWhereverTheyStand) {
  struct Case {
    Strings argv, program, orb;
  } cases[] = {
      {{"prog", "file.rsp"}, {"prog", "file.rsp"}, {}},
      {{"prog", "-ORBtraceLevel", "10", "file.rsp"}, {"prog", "file.rsp"}, {"-ORBtraceLevel", "10"}},
      {{"prog", "dump", "f", "--channel", "2", "-ORBInitRef", "NameService=corbaname::h", "-ORBendPoint",
        "giop:tcp::0"},
       {"prog", "dump", "f", "--channel", "2"},
       {"-ORBInitRef", "NameService=corbaname::h", "-ORBendPoint", "giop:tcp::0"}},
      // -ORBhelp takes no value; a value that looks like a program option still goes with
      // its ORB option.
      {{"prog", "-ORBhelp", "--json", "f"}, {"prog", "--json", "f"}, {"-ORBhelp"}},
      {{"prog", "-ORBtraceFile", "--json"}, {"prog"}, {"-ORBtraceFile", "--json"}},
      // A missing value is the ORB's to refuse; the program's own options are not ORB options.
      {{"prog", "f", "-ORBtraceLevel"}, {"prog", "f"}, {"-ORBtraceLevel"}},
      {{"prog", "--ORBtraceLevel", "-orbx", "-OR"}, {"prog", "--ORBtraceLevel", "-orbx", "-OR"}, {}},
      // argv[0] is the program's even if it looks like an option.
      {{"-ORBx", "a"}, {"-ORBx", "a"}, {}},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv;
    for (const std::string& a : c.argv) argv.push_back(a.c_str());
    Strings program{"stale"}, orb{"stale"};
    CHostOrb::sfSplitArguments(static_cast<int>(argv.size()), argv.data(), program, orb);
    EXPECT_EQ(program, c.program) << c.argv.size();
    EXPECT_EQ(orb, c.orb) << c.argv.size();
  }
}

}  // namespace
