// The table of servant types: lookups, and registering a type again while a caller keeps
// the text of its repository id.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/framework/CTypeTable.h"

namespace {

using TamblixHq::NODRA::Framework::CTypeTable;

// A constructor that builds nothing and leaves `tag` in `called`.
CTypeTable::Constructor tagging(int& called, int tag) {
  return [&called, tag](const TAMBLIX::NODRA::Framework::ObjectId*,
                        PortableServer::POA_ptr) -> PortableServer::ServantBase* {
    called = tag;
    return nullptr;
  };
}

TEST(CTypeTable, RegisteringAgainReplacesTheEntryButKeepsHandedOutTexts) {
  CTypeTable table;
  int called = 0;
  EXPECT_FALSE(table.mfFind("Channel").has_value());
  EXPECT_STREQ(table.mfRepositoryId("Channel"), "");

  // Longer than any short-string buffer, so each text lives in its own allocation.
  const std::string first = "IDL:Test/AVeryLongInterfaceNameForTheFirstRegistration:1.0";
  const std::string other = "IDL:Test/AVeryLongInterfaceNameForTheOtherRegistration:1.0";
  table.mpRegister("Channel", first, tagging(called, 1));
  const char* kept = table.mfRepositoryId("Channel");
  std::optional<CTypeTable::Entry> entry = table.mfFind("Channel");
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->repositoryId, kept);

  // Registering again, many times over, would reuse the memory of a freed text.
  for (int i = 0; i < 200; ++i) {
    table.mpRegister("Channel", i % 2 ? other : first, tagging(called, i));
    table.mpRegister("Filler" + std::to_string(i), std::string(first.size(), char('a' + i % 26)),
                     tagging(called, i));
  }
  EXPECT_EQ(std::string(kept), first);
  EXPECT_STREQ(table.mfRepositoryId("Channel"), other.c_str());
  table.mfFind("Channel")->constructor(nullptr, PortableServer::POA::_nil());
  EXPECT_EQ(called, 199);
  entry->constructor(nullptr, PortableServer::POA::_nil());  // a copy keeps its constructor
  EXPECT_EQ(called, 1);
  // The same text is kept once: registering it again does not grow the table's texts.
  table.mpRegister("Channel", first, tagging(called, 0));
  EXPECT_EQ(table.mfRepositoryId("Channel"), kept);
}

}  // namespace
