// Names in their string form, and a binding without a naming service to bind in.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/framework/CNamingServiceBinding.h"
#include "tests/support/OrbHarness.h"

namespace {

using TamblixHq::NODRA::Framework::CNamingServiceBinding;
using Components = std::vector<std::pair<std::string, std::string>>;  // id, kind

Components components(const CosNaming::Name& name) {
  Components out;
  for (CORBA::ULong i = 0; i < name.length(); ++i) out.emplace_back(name[i].id.in(), name[i].kind.in());
  return out;
}

TEST(NamingServiceBinding, NamesReadInTheirStringForm) {
  const std::pair<std::string, Components> good[] = {
      {"rig1", {{"rig1", ""}}},
      {"site/rig1", {{"site", ""}, {"rig1", ""}}},
      {"rig1.server/x.", {{"rig1", "server"}, {"x", ""}}},
      // A backslash takes the separator after it as part of the text.
      {"a\\/b", {{"a/b", ""}}},
      {"v1\\.2.ver\\\\", {{"v1.2", "ver\\"}}},
  };
  for (const auto& [text, expected] : good) {
    EXPECT_EQ(components(CNamingServiceBinding::sfParseName(text)), expected) << text;
  }
  for (const char* bad : {"", "/rig1", "rig1/", "site//rig1", ".", ".kind", "a.b.c", "rig1\\"}) {
    EXPECT_THROW(CNamingServiceBinding::sfParseName(bad), std::invalid_argument) << bad;
  }
}

// The test ORB knows no naming service: the binding says so and throws nothing.
TEST(NamingServiceBinding, WithoutANamingServiceNothingIsBoundAndTheProblemIsTold) {
  nodra::test::OrbHarness& harness = nodra::test::OrbHarness::sfGet();
  CNamingServiceBinding binding(harness.mOrb, "site/rig1", harness.mServerRef);
  EXPECT_FALSE(binding.mfIsBound());
  EXPECT_NE(binding.mfGetProblem().find("no naming service is configured"), std::string::npos)
      << binding.mfGetProblem();
  EXPECT_EQ(binding.mpUnbind(), CNamingServiceBinding::Outcome::kNotBound);
  EXPECT_THROW(CNamingServiceBinding(harness.mOrb, "a//b", harness.mServerRef), std::invalid_argument);
}

}  // namespace
