// A client in this process reads a channel from the server program over IIOP on loopback.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/rpc3/servants/ServantTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace nodra::test {
namespace {

// The server program, started on a port of its own.
std::vector<std::string> serverCommand(const std::string& accessPoint, int port,
                                       std::vector<std::string> more = {}) {
  std::vector<std::string> args = {NODRA_SERVER_PATH, "--access-point", accessPoint, "--port",
                                   std::to_string(port)};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// The root object of a server on `port`, once it listens.
IDL::DataServer_ptr reachServer(int port) {
  return mfWaitForServer(OrbHarness::sfGet().mOrb,
                         "corbaloc::127.0.0.1:" + std::to_string(port) + "/NodraServer");
}

TEST_F(ServantTest, ClientReadsAChannelOverIiopAndTheServerStopsCleanly) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mPtsPerFrame = 8;
  layout.mFrames = 4;
  layout.mSample = [](int channel, std::int64_t index) { return channel * 100 + index; };
  mpWriteFile(mDir.mfFile("remote.rsp"), mfBuildRpc3File(layout));

  const int port = mfFreePort();
  ASSERT_GT(port, 0);
  ChildProcess server(serverCommand("rig=" + mDir.mfText(), port));
  ASSERT_TRUE(server.mfStarted());
  IDL::DataServer_var remote = reachServer(port);
  ASSERT_FALSE(CORBA::is_nil(remote));
  IDL::File_var file = remote->open_file("rig", "", "remote.rsp");
  EXPECT_FALSE(file->_is_equivalent(mServer.in()));
  IDL::RealValues_var values = mfValues(file, 2, IDL::Y);
  std::vector<float> got = mfFloats(IDL::RealValueSeqUnion_var(values->get_value_chunk(7, 4)).in());
  EXPECT_EQ(got, (std::vector<float>{207, 208, 209, 210}));
  IDL::RealValues_var x = mfValues(file, 2, IDL::X);
  std::vector<double> t = mfDoubles(IDL::RealValueSeqUnion_var(x->get_value_chunk(32, 5)).in());
  EXPECT_EQ(t, (std::vector<double>{31 * 0.001}));

  EXPECT_EQ(server.mfStopAndGetStatus(), 0);
}

}  // namespace
}  // namespace nodra::test

namespace nodra::test {
namespace {

TEST_F(ServantTest, ClientWalksAWholeFileInExtendedChunksKnowingOnlyTheRootObject) {
  Rpc3FileLayout layout;
  layout.mChannels = 5;
  layout.mPtsPerFrame = 8;
  layout.mFrames = 3;
  layout.mChannelTexts = {{"Wheel force:FL:+Z", "kN", "0.5", "-2.00000000E+03", "2.00000000E+03"},
                          {"Strain", "ue", "", "", ""},
                          {"Speed", "kph", "", "", ""},
                          {"Mystery", "glorbs", "", "", ""},
                          {"Time", "s", "", "", ""}};
  layout.mExtraKeywords = {{"PARENT_1", "mother.rsp"}};
  mpWriteFile(mDir.mfFile("walk.rsp"), mfBuildRpc3File(layout));
  const int port = mfFreePort();
  ASSERT_GT(port, 0);
  ChildProcess server(serverCommand("rig=" + mDir.mfText(), port, {"--chunk-size", "2"}));
  ASSERT_TRUE(server.mfStarted());
  IDL::DataServer_var root = reachServer(port);
  ASSERT_FALSE(CORBA::is_nil(root));
  ASSERT_EQ(root->get_chunk_size(), 2u);
  IDL::File_var file = root->open_file("rig", "", "walk.rsp");
  IDL::AnnotationSeq_var fileAnnotations = file->get_all_annotations();
  EXPECT_EQ(fileAnnotations->length(), 16u);  // fifteen and one parent

  struct Seen {
    std::string description, unit;
    CORBA::ULong terms;
    CORBA::Long lower, channelNumber;
    CORBA::ULong values;
    IDL::MeasurementFunctionRecord::PointDirectionEnum direction;
  };
  std::vector<Seen> seen;
  const CORBA::ULong n = file->get_number_of_children();
  for (CORBA::ULong start = 0; start < n; start += root->get_chunk_size()) {
    IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(start);
    ASSERT_LE(chunk->children.length(), 2u);
    ASSERT_EQ(chunk->annotations.length(), chunk->children.length());
    ASSERT_EQ(chunk->functions.length(), chunk->children.length());
    for (CORBA::ULong i = 0; i < chunk->children.length(); ++i) {
      const IDL::AnnotationSeq& annotations = chunk->annotations[i];
      const IDL::FunctionExtendedStruct& function = chunk->functions[i];
      ASSERT_EQ(annotations.length(), 6u);
      Seen s;
      s.description = annotations[0].value.string_value();
      s.lower = annotations[1].value.long_value();
      s.unit = function.y_quantity_annotation.unit_label.in();
      s.terms = function.y_quantity_annotation.terms.length();
      s.channelNumber = function.measurement_annotation.description.channel_number;
      s.direction = function.measurement_annotation.description.point_direction;
      IDL::FunctionValues_var y = IDL::FunctionValues::_duplicate(function.y_values);
      s.values = y->get_number_of_values();
      // The references answer what the chunk says.
      CORBA::String_var label = function.y_quantity->get_unit_label();
      EXPECT_EQ(s.unit, label.in());
      IDL::MeasurementFunctionRecord_var record =
          IDL::MeasurementFunctionRecord::_narrow(function.function_record);
      ASSERT_FALSE(CORBA::is_nil(record));
      IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation_var measured =
          record->get_measurement_function_record_annotation();
      EXPECT_EQ(measured->description.channel_number, s.channelNumber);
      EXPECT_STREQ(function.x_quantity_annotation.unit_label, "s");
      seen.push_back(s);
    }
  }
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].description, "Wheel force:FL:+Z");
  EXPECT_EQ(seen[0].unit, "kN");
  EXPECT_EQ(seen[0].terms, 3u);  // length, mass, time
  EXPECT_EQ(seen[0].lower, -2000);
  EXPECT_EQ(seen[0].direction, IDL::MeasurementFunctionRecord::PLUS_Z);
  EXPECT_EQ(seen[1].unit, "ue");
  EXPECT_EQ(seen[1].terms, 0u);
  EXPECT_EQ(seen[2].terms, 2u);
  EXPECT_EQ(seen[3].unit, "unknown");
  for (std::size_t k = 0; k < seen.size(); ++k) {
    EXPECT_EQ(seen[k].channelNumber, static_cast<CORBA::Long>(k + 1));
    EXPECT_EQ(seen[k].values, 24u);
  }
  EXPECT_EQ(server.mfStopAndGetStatus(), 0);
}

}  // namespace
}  // namespace nodra::test

namespace nodra::test {
namespace {

// An axis outside the enum never reaches a servant: the server's ORB refuses the request
// when it reads the arguments. In process no ORB checks it, and the value is undefined
// behaviour, so the edge is tried only here.
TEST_F(ServantTest, AnAxisOutsideTheEnumIsRefusedByTheServersOrb) {
  mpWriteFile(mDir.mfFile("axes.rsp"), mfBuildRpc3File(Rpc3FileLayout()));
  const int port = mfFreePort();
  ASSERT_GT(port, 0);
  ChildProcess server(serverCommand("rig=" + mDir.mfText(), port));
  ASSERT_TRUE(server.mfStarted());
  IDL::DataServer_var root = reachServer(port);
  ASSERT_FALSE(CORBA::is_nil(root));
  IDL::File_var file = root->open_file("rig", "", "axes.rsp");
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  ASSERT_EQ(children->length(), 1u);
  IDL::Function2D_var channel = IDL::Function2D::_narrow(children[0].reference);
  EXPECT_THROW(IDL::FunctionValues_var(channel->get_values_by_index(0, static_cast<IDL::AxisEnum>(2))),
               CORBA::MARSHAL);
  // The server serves on.
  EXPECT_FALSE(CORBA::is_nil(IDL::FunctionValues_var(channel->get_values_by_index(0, IDL::Y))));
  EXPECT_EQ(server.mfStopAndGetStatus(), 0);
}

}  // namespace
}  // namespace nodra::test
