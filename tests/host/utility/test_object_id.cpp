#include <gtest/gtest.h>

#include <memory>

#include "host/utility/CObjectIdU.h"

using namespace TamblixHq::NODRA::Utility;

TEST(CObjectIdU, BuildsAndReadsFieldsInPositionOrder) {
  const CObjectIdU builder;
  std::unique_ptr<ObjectId> id(builder.mfGetCorrectObjectId("ap", "sub", "file.rsp", "RPC3", "dom", "RPC3Channel",
                                                            "item", "Label", "Y", "12", "ext"));
  ASSERT_NE(id, nullptr);
  EXPECT_STREQ(id->access_point, "ap");
  EXPECT_STREQ(id->sub_directory, "sub");
  EXPECT_STREQ(id->file_name, "file.rsp");
  EXPECT_STREQ(id->driver, "RPC3");
  EXPECT_STREQ(id->domain, "dom");
  EXPECT_STREQ(id->type_id, "RPC3Channel");
  EXPECT_STREQ(id->item, "item");
  EXPECT_STREQ(id->label, "Label");
  EXPECT_STREQ(id->axis, "Y");
  EXPECT_STREQ(id->index, "12");
  EXPECT_STREQ(id->extension, "ext");

  const char* expected[] = {"ap", "sub", "file.rsp", "RPC3", "dom", "RPC3Channel", "item", "Label", "Y", "12", "ext"};
  for (int i = 0; i < 11; ++i) EXPECT_STREQ(CObjectIdU::sfGetField(*id, i).mfGetString(), expected[i]) << i;
  EXPECT_TRUE(CObjectIdU::sfGetField(*id, -1).mfIsEmpty());
  EXPECT_TRUE(CObjectIdU::sfGetField(*id, 11).mfIsEmpty());

  std::unique_ptr<ObjectId> withNulls(
      builder.mfGetCorrectObjectId(nullptr, "", nullptr, "d", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ(withNulls->access_point, "");
  EXPECT_STREQ(withNulls->driver, "d");
  EXPECT_STREQ(withNulls->extension, "");

  // A wrapper keeps its own copy.
  auto wrapped = std::make_unique<CObjectIdU>(*id);
  id->file_name = "changed";
  id.reset();
  EXPECT_STREQ(wrapped->mfGetObjectId().file_name, "file.rsp");
  EXPECT_STREQ(wrapped->mfGetField(0).mfGetString(), "ap");
  for (int i = 0; i < 11; ++i) EXPECT_TRUE(CObjectIdU().mfGetField(i).mfIsEmpty()) << i;
}
