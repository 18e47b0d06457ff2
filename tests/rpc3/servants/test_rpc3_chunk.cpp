// The file's extended chunks of children, the identifiers of a channel's descendants, and
// the number and spacing of a channel's values.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/files/CConfinedFileId.h"
#include "rpc3/servants/CRPC3ChannelImpl.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"
#include "tests/rpc3/servants/ServantTestSupport.h"

namespace nodra::test {
namespace {

namespace RPC3 = TamblixHq::NODRA::Drivers::RPC3;
using TamblixHq::NODRA::Framework::CResolverImpl;

// Sets the resolver's chunk size for one scope.
class ChunkSize {
public:
  explicit ChunkSize(CORBA::ULong size) : mOld(CResolverImpl::sfGetResolverImpl()->mfGetChunkSize()) {
    CResolverImpl::sfGetResolverImpl()->mpSetChunkSize(size);
  }
  ~ChunkSize() { CResolverImpl::sfGetResolverImpl()->mpSetChunkSize(mOld); }

private:
  CORBA::ULong mOld;
};

// The channel numbers (identifier field 9) of a chunk, after checking that its three
// sequences have equal length.
std::vector<std::string> chunkIndices(const IDL::BrowsableExtendedStruct& chunk) {
  EXPECT_EQ(chunk.annotations.length(), chunk.children.length());
  EXPECT_EQ(chunk.functions.length(), chunk.children.length());
  std::vector<std::string> indices;
  for (CORBA::ULong i = 0; i < chunk.children.length(); ++i) indices.push_back(chunk.children[i].id.index.in());
  return indices;
}

using Indices = std::vector<std::string>;

TEST_F(ServantTest, ExtendedChunksStepThroughTheChannelsByTheChunkSize) {
  Rpc3FileLayout layout;
  layout.mChannels = 3;
  IDL::File_var file = mfOpen("chunks.rsp", layout);
  ChunkSize size(2);
  const std::pair<CORBA::ULong, Indices> cases[] = {
      {0, {"1", "2"}}, {1, {"2", "3"}}, {2, {"3"}}, {3, {}}, {4, {}}, {0xFFFFFFFFu, {}},
  };
  for (const auto& [start, expected] : cases) {
    IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(start);
    EXPECT_EQ(chunkIndices(chunk.in()), expected) << "start " << start;
  }

  Rpc3FileLayout none;
  none.mOmitKeywords = {"CHANNELS"};
  IDL::File_var empty = mfOpen("no-channels.rsp", none);
  EXPECT_EQ(chunkIndices(IDL::BrowsableExtendedStruct_var(empty->get_all_children_extended_chunk(0)).in()),
            Indices{});
}

TEST_F(ServantTest, ExtendedChunkLeavesOutChannelsThatCannotBeServedAndKeepsItsSequencesEqual) {
  IDL::File_var file = mfOpenUnderLongName("chunk-gap.rsp", {true, false, false});  // 2 cannot be served
  ChunkSize size(3);
  IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(0);
  ASSERT_EQ(chunkIndices(chunk.in()), (Indices{"1", "3"}));
  // Entry 1 describes channel 3 throughout, not the channel left out.
  EXPECT_EQ(chunk->functions[1].measurement_annotation.description.channel_number, 3);
  IDL::ObjectId_var values = chunk->functions[1].y_values->get_object_id();
  EXPECT_STREQ(values->index, "3");
  ASSERT_EQ(chunk->annotations[1].length(), 6u);
  EXPECT_STREQ(chunk->annotations[1][0].value.string_value(), "s");
  // The chunk's size counts channels looked at, not channels listed.
  EXPECT_EQ(chunkIndices(IDL::BrowsableExtendedStruct_var(file->get_all_children_extended_chunk(3)).in()),
            (Indices{"4"}));
}

TEST_F(ServantTest, ExtendedChunkWalkAgreesWithTheObjectsOfEachChannel) {
  Rpc3FileLayout layout;
  layout.mChannels = 5;
  layout.mChannelTexts = {{"hub:wheel:+z", "kN", "0.5", "-2.5E+02", "2.5E+02"},
                          {"", "mm", "", "", ""},
                          {"", "kilonewtonz", "", "", ""}};
  IDL::File_var file = mfOpen("walk.rsp", layout);
  ChunkSize size(2);
  IDL::BrowsableStructSeq_var listed = file->get_all_children();
  ASSERT_EQ(listed->length(), 5u);
  CORBA::ULong seen = 0;
  for (CORBA::ULong start = 0; start < 5; start += 2) {
    IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(start);
    ASSERT_EQ(chunkIndices(chunk.in()).size(), std::min<CORBA::ULong>(2, 5 - start));
    for (CORBA::ULong i = 0; i < chunk->children.length(); ++i, ++seen) {
      SCOPED_TRACE("channel " + std::to_string(seen + 1));
      const IDL::BrowsableStruct& child = chunk->children[i];
      EXPECT_EQ(idText(child.id), idText(listed[seen].id));
      EXPECT_STREQ(child.label, listed[seen].label);
      EXPECT_STREQ(child.idl_type_id, listed[seen].idl_type_id);
      ASSERT_TRUE(child.reference->_is_equivalent(listed[seen].reference));
      EXPECT_EQ(annotationTexts(chunk->annotations[i]),
                annotationTexts(IDL::AnnotationSeq_var(child.reference->get_all_annotations()).in()));

      IDL::Function2D_var channel = IDL::Function2D::_narrow(child.reference);
      const IDL::FunctionExtendedStruct& f = chunk->functions[i];
      IDL::FunctionRecord_var record = channel->get_function_record();
      ASSERT_TRUE(f.function_record->_is_equivalent(record));
      IDL::FunctionRecord::FunctionRecordAnnotation_var kind = record->get_function_record_annotation();
      EXPECT_EQ(f.function_record_annotation.function_class, kind->function_class);
      EXPECT_STREQ(f.function_record_annotation.name, kind->name);
      IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation_var measured =
          IDL::MeasurementFunctionRecord::_narrow(record)->get_measurement_function_record_annotation();
      const auto& mine = f.measurement_annotation.description;
      const auto& its = measured->description;
      EXPECT_EQ(f.measurement_annotation.function_class, measured->function_class);
      EXPECT_STREQ(f.measurement_annotation.name, measured->name);
      ASSERT_EQ(mine.date._d(), its.date._d());
      if (its.date._d() == 1) {
        EXPECT_STREQ(mine.date.date_string(), its.date.date_string());
      }
      EXPECT_EQ(mine.number_of_averages, its.number_of_averages);
      EXPECT_EQ(mine.sampling_frequency, its.sampling_frequency);
      EXPECT_EQ(mine.channel_number, its.channel_number);
      EXPECT_EQ(mine.channel_number, static_cast<CORBA::Long>(seen + 1));
      EXPECT_STREQ(mine.point_name, its.point_name);
      EXPECT_EQ(mine.point_direction, its.point_direction);

      for (IDL::AxisEnum axis : {IDL::X, IDL::Y}) {
        const bool x = axis == IDL::X;
        IDL::FunctionValues_ptr values = x ? f.x_values.in() : f.y_values.in();
        IDL::Quantity_ptr quantity = x ? f.x_quantity.in() : f.y_quantity.in();
        const IDL::Quantity::QuantityAnnotation& annotation =
            x ? f.x_quantity_annotation : f.y_quantity_annotation;
        IDL::FunctionValues_var own = channel->get_values_by_index(0, axis);
        ASSERT_TRUE(values->_is_equivalent(own)) << "axis " << axis;
        IDL::Quantity_var ownQuantity = own->get_quantity();
        ASSERT_TRUE(quantity->_is_equivalent(ownQuantity)) << "axis " << axis;
        EXPECT_EQ(quantityText(annotation),
                  quantityText(IDL::Quantity::QuantityAnnotation_var(ownQuantity->get_quantity_annotation()).in()))
            << "axis " << axis;
      }
    }
  }
  EXPECT_EQ(seen, 5u);
  // Spot checks that the comparisons above compared something.
  IDL::BrowsableExtendedStruct_var first = file->get_all_children_extended_chunk(0);
  EXPECT_EQ(first->functions[0].measurement_annotation.description.point_direction,
            IDL::MeasurementFunctionRecord::PLUS_Z);
  EXPECT_STREQ(first->functions[0].y_quantity_annotation.unit_label, "kN");
  EXPECT_STREQ(first->functions[0].x_quantity_annotation.unit_label, "s");
  IDL::BrowsableExtendedStruct_var second = file->get_all_children_extended_chunk(2);
  EXPECT_EQ(quantityText(second->functions[0].y_quantity_annotation), "unknown (0,1,1)");
}

TEST_F(ServantTest, FileIsEvictableAgainAfterAChunkUnlessTheClientPinnedIt) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  IDL::File_var file = mfOpen("evict.rsp", layout);
  IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(0);
  EXPECT_TRUE(file->get_evictable());
  file->set_evictable(false);
  chunk = file->get_all_children_extended_chunk(0);
  EXPECT_EQ(chunk->children.length(), 2u);
  EXPECT_FALSE(file->get_evictable());
  file->set_evictable(true);
}

TEST_F(ServantTest, DescendantsCarryTheFileDomainAxisAndExtension) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  mpWriteFile(mDir.mfFile("carried.rsp"), mfBuildRpc3File(layout));
  // The extension field names the file version the objects were opened on.
  const std::string ext =
      TamblixHq::NODRA::Framework::CConfinedFileId(mAccessPoint.c_str(), "", "carried.rsp").mfGetVersion()->mfToText();
  IDL::File_var file = mfResolveFile("carried.rsp", "dom", "X", ext.c_str());
  ASSERT_FALSE(CORBA::is_nil(file));
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  ASSERT_EQ(children->length(), 2u);
  const std::string ap = mAccessPoint;
  const std::string channel = ap + "||carried.rsp|RPC3|dom|RPC3Channel||Channel 2|X|2|" + ext;
  EXPECT_EQ(idText(children[1].id), channel);
  EXPECT_EQ(idText(IDL::ObjectId_var(children[1].reference->get_object_id()).in()), channel);

  IDL::Function2D_var function = IDL::Function2D::_narrow(children[1].reference);
  IDL::FunctionRecord_var record = function->get_function_record();
  EXPECT_EQ(idText(IDL::ObjectId_var(record->get_object_id()).in()),
            ap + "||carried.rsp|RPC3|dom|RPC3FunctionRecord||Channel 2|X|2|" + ext);
  IDL::FunctionValues_var x = function->get_values_by_index(0, IDL::X);
  EXPECT_EQ(idText(IDL::ObjectId_var(x->get_object_id()).in()),
            ap + "||carried.rsp|RPC3|dom|RPC3EquidistantValues||Channel 2|X|2|" + ext);
  IDL::FunctionValues_var y = function->get_values_by_id("whatever", IDL::Y);
  EXPECT_EQ(idText(IDL::ObjectId_var(y->get_object_id()).in()),
            ap + "||carried.rsp|RPC3|dom|RPC3RealValues||Channel 2|Y|2|" + ext);
  EXPECT_EQ(idText(IDL::ObjectId_var(IDL::Quantity_var(y->get_quantity())->get_object_id()).in()),
            ap + "||carried.rsp|RPC3|dom|RPC3Quantity||Channel 2|Y|2|" + ext);

  // The chunk names the same objects.
  IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(1);
  ASSERT_EQ(chunk->children.length(), 1u);
  EXPECT_EQ(idText(chunk->children[0].id), channel);
  EXPECT_TRUE(chunk->functions[0].function_record->_is_equivalent(record));
  EXPECT_TRUE(chunk->functions[0].x_values->_is_equivalent(x));
}

TEST_F(ServantTest, NumberOfValuesIsFramesTimesPointsPerFrame) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> extra;
    std::vector<std::string> omit;
    CORBA::ULong expected;
  };
  const Case cases[] = {
      {"plain", {}, {}, 3 * 16},
      {"more-frames", {{"FRAMES", "1000"}}, {}, 16000},
      {"no-frames", {}, {"FRAMES"}, 0},
      {"no-points", {}, {"PTS_PER_FRAME"}, 0},
  };
  for (const Case& c : cases) {
    Rpc3FileLayout layout;
    layout.mFrames = 3;
    layout.mExtraKeywords = c.extra;
    layout.mOmitKeywords = c.omit;
    IDL::File_var file = mfOpen(std::string(c.name) + ".rsp", layout);
    for (IDL::AxisEnum axis : {IDL::X, IDL::Y}) {
      IDL::RealValues_var values = mfValues(file, 1, axis);
      ASSERT_FALSE(CORBA::is_nil(values)) << c.name;
      EXPECT_EQ(values->get_number_of_values(), c.expected) << c.name << " axis " << axis;
    }
  }
}

TEST_F(ServantTest, TimeBaseValuesAreExactMultiplesOfTheSpacing) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 1000;
  layout.mFrames = 20;
  layout.mDeltaT = "0.0001";
  IDL::File_var file = mfOpen("exact.rsp", layout);
  IDL::RealValues_var x = mfValues(file, 1, IDL::X);
  std::vector<double> times = mfDoubles(IDL::RealValueSeqUnion_var(x->get_values()).in());
  ASSERT_EQ(times.size(), 20000u);
  double added = 0.0;
  bool drifted = false;
  for (std::size_t k = 0; k < times.size(); ++k) {
    ASSERT_EQ(times[k], static_cast<double>(k) * 0.0001) << "value " << k + 1;
    drifted |= added != times[k];
    added += 0.0001;
  }
  // A time base built by adding the step would have failed above.
  EXPECT_TRUE(drifted);
}

}  // namespace
}  // namespace nodra::test
