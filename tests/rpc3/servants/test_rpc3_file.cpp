// The file object and the framework around it: channel listing, identity of resolved
// objects, channels that cannot be served, failures of first calls, eviction.

#include <gtest/gtest.h>

#include <new>
#include <thread>
#include <filesystem>
#include <functional>
#include <utility>
#include <stdexcept>

#include "host/files/CConfinedFileId.h"
#include "host/framework/CResolverImpl.h"
#include "host/utility/CAccessPointMapU.h"
#include "rpc3/format/CRPC3HeaderRegistry.h"
#include "rpc3/servants/CRPC3ChannelImpl.h"
#include "rpc3/servants/CRPC3QuantityImpl.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"
#include "tests/rpc3/servants/ServantTestSupport.h"

namespace nodra::test {
namespace {

using TamblixHq::NODRA::Drivers::RPC3::CRPC3ChannelImpl;
using TamblixHq::NODRA::Drivers::RPC3::CRPC3HeaderRegistry;
using TamblixHq::NODRA::Drivers::RPC3::CRPC3QuantityImpl;
using TamblixHq::NODRA::Framework::CResolverImpl;

Rpc3FileLayout threeChannels() {
  Rpc3FileLayout layout;
  layout.mChannels = 3;
  layout.mChannelTexts = {{"Front left: wheel force", "kN", "1", "", ""}, {}, {"", "", "", "", ""}};
  return layout;
}

// Replaces the channel constructor for one test and puts the real one back afterwards.
class ChannelConstructorOverride {
public:
  explicit ChannelConstructorOverride(CResolverImpl::Constructor constructor) {
    CResolverImpl::sfGetResolverImpl()->mpRegisterType(
        "RPC3Channel", IDL::Function2D::_PD_repoId, std::move(constructor));
  }
  ~ChannelConstructorOverride() {
    CResolverImpl::sfGetResolverImpl()->mpRegisterType<CRPC3ChannelImpl>(
        "RPC3Channel", IDL::Function2D::_PD_repoId);
  }
};

TEST_F(ServantTest, FileListsOneLabelledChildPerChannel) {
  IDL::File_var file = mfOpen("three.rsp", threeChannels());
  EXPECT_EQ(file->get_number_of_children(), 3u);
  EXPECT_EQ(file->get_number_of_files(), 1u);
  IDL::StringSeq_var names = file->get_files();
  ASSERT_EQ(names->length(), 1u);
  EXPECT_STREQ(names[0], "three.rsp");

  IDL::BrowsableStructSeq_var children = file->get_all_children();
  ASSERT_EQ(children->length(), 3u);
  EXPECT_STREQ(children[0].label, "Front left: wheel force");
  EXPECT_STREQ(children[1].label, "Channel 2");
  for (CORBA::ULong i = 0; i < 3; ++i) {
    const IDL::BrowsableStruct& child = children[i];
    EXPECT_FALSE(child.cached);
    EXPECT_STREQ(child.id.type_id, "RPC3Channel");
    EXPECT_STREQ(child.id.index, std::to_string(i + 1).c_str());
    EXPECT_STREQ(child.id.access_point, mAccessPoint.c_str());
    EXPECT_STREQ(child.id.item, "");
    EXPECT_STREQ(child.idl_type_id, IDL::Function2D::_PD_repoId);
    IDL::ObjectId_var id = child.reference->get_object_id();
    EXPECT_STREQ(id->label, child.label);
    CORBA::String_var type = child.reference->get_idl_type_id();
    EXPECT_STREQ(type, IDL::Function2D::_PD_repoId);
  }
}

TEST_F(ServantTest, ChannelNumbersAreDecimalWithoutPadding) {
  Rpc3FileLayout layout;
  layout.mChannels = 12;
  IDL::File_var file = mfOpen("twelve.rsp", layout);
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  ASSERT_EQ(children->length(), 12u);
  EXPECT_STREQ(children[9].id.index, "10");
  EXPECT_STREQ(children[9].label, "Channel 10");
  EXPECT_STREQ(children[11].id.index, "12");
}

TEST_F(ServantTest, MissingNegativeOrHugeChannelCountsGiveNoChildren) {
  for (const char* count : {"", "-3", "many"}) {
    Rpc3FileLayout layout;
    layout.mExtraKeywords = {{"CHANNELS", count}};
    IDL::File_var file = mfOpen(std::string("count") + count + ".rsp", layout);
    EXPECT_EQ(file->get_number_of_children(), 0u) << '"' << count << '"';
    IDL::BrowsableStructSeq_var children = file->get_all_children();
    EXPECT_EQ(children->length(), 0u);
  }
  // A count no reply could carry is refused before a servant is built per channel.
  Rpc3FileLayout huge;
  huge.mExtraKeywords = {{"CHANNELS", "2147483647"}};
  IDL::File_var file = mfOpen("huge-count.rsp", huge);
  EXPECT_THROW(IDL::BrowsableStructSeq_var(file->get_all_children()), IDL::DBAccessException);
  EXPECT_NE(mLogged.front().find("CHANNELS 2147483647 is more than"), std::string::npos);
}

TEST_F(ServantTest, SameIdentifierResolvesToTheSameObject) {
  IDL::File_var file = mfOpen("same.rsp", threeChannels());
  IDL::BrowsableStructSeq_var first = file->get_all_children();
  std::size_t built = CResolverImpl::sfGetResolverImpl()->mfGetNumberOfIncarnations();
  IDL::BrowsableStructSeq_var second = file->get_all_children();
  EXPECT_EQ(CResolverImpl::sfGetResolverImpl()->mfGetNumberOfIncarnations(), built);
  EXPECT_TRUE(first[1].reference->_is_equivalent(second[1].reference));
  EXPECT_FALSE(first[0].reference->_is_equivalent(second[1].reference));

  IDL::Function2D_var channel = IDL::Function2D::_narrow(first[1].reference);
  IDL::FunctionValues_var a = channel->get_values_by_index(0, IDL::Y);
  IDL::FunctionValues_var b = channel->get_values_by_index(5, IDL::Y);
  IDL::FunctionValues_var c = channel->get_values_by_id("anything", IDL::Y);
  EXPECT_TRUE(a->_is_equivalent(b));
  EXPECT_TRUE(a->_is_equivalent(c));
  IDL::FunctionValues_var x = channel->get_values_by_index(0, IDL::X);
  EXPECT_FALSE(a->_is_equivalent(x));
  IDL::ObjectId_var xid = x->get_object_id();
  IDL::ObjectId_var yid = a->get_object_id();
  EXPECT_STREQ(xid->type_id, "RPC3EquidistantValues");
  EXPECT_STREQ(xid->axis, "X");
  EXPECT_STREQ(yid->type_id, "RPC3RealValues");
  EXPECT_STREQ(yid->axis, "Y");
  EXPECT_STREQ(xid->label, yid->label);
}

TEST_F(ServantTest, ChannelsThatCannotBeServedAreLeftOutAndLaterOnesMoveUpWithoutAServantBuilt) {
  // Channels 2 and 4 have identifiers too long to serve; 1 and 3 are served.
  IDL::File_var file = mfOpenUnderLongName("gap.rsp", {true, false, true});
  auto* resolver = CResolverImpl::sfGetResolverImpl();
  const std::size_t built = resolver->mfGetNumberOfIncarnations();
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(0);
  EXPECT_EQ(resolver->mfGetNumberOfIncarnations(), built);  // references only
  ASSERT_EQ(children->length(), 2u);
  ASSERT_EQ(chunk->children.length(), 2u);
  for (CORBA::ULong i = 0; i < 2; ++i) {
    const char* index = i == 0 ? "1" : "3";
    EXPECT_STREQ(children[i].id.index, index);
    EXPECT_STREQ(chunk->children[i].id.index, index);
    EXPECT_EQ(chunk->functions[i].measurement_annotation.description.channel_number, i == 0 ? 1 : 3);
    // The first call builds the servant, which answers for its own channel.
    IDL::ObjectId_var id = children[i].reference->get_object_id();
    EXPECT_STREQ(id->index, index);
    EXPECT_EQ(chunk->functions[i].y_values->get_number_of_values(), 16u);
  }
  EXPECT_GT(resolver->mfGetNumberOfIncarnations(), built);
  // Nil is no failure: a values request for an unknown axis type gives nil.
  IDL::Function2D_var channel = IDL::Function2D::_narrow(children[0].reference);
  IDL::FunctionValues_var none = channel->get_values_by_index(0, static_cast<IDL::AxisEnum>(2));
  EXPECT_TRUE(CORBA::is_nil(none));
}

TEST_F(ServantTest, ConstructorFailuresReachTheFirstCallOnTheObjectNotTheListing) {
  IDL::File_var file = mfOpen("fail.rsp", threeChannels());
  // What a constructor throws reaches the call that needed the servant: a file no longer
  // readable as no such object, anything else as worth trying again.
  const std::pair<std::function<void()>, std::function<void(IDL::Base_ptr)>> cases[] = {
      {[] { throw IDL::DBAccessException("gone", "", ""); },
       [](IDL::Base_ptr object) { EXPECT_THROW(object->get_idl_type_id(), CORBA::OBJECT_NOT_EXIST); }},
      {[] { throw std::runtime_error("disk on fire"); },
       [](IDL::Base_ptr object) { EXPECT_THROW(object->get_idl_type_id(), CORBA::TRANSIENT); }},
      {[] {}, [](IDL::Base_ptr object) { EXPECT_THROW(object->get_idl_type_id(), CORBA::OBJECT_NOT_EXIST); }},
  };
  CORBA::ULong channel = 0;
  for (const auto& [fail, expect] : cases) {
    ++channel;
    ChannelConstructorOverride failing(
        [&fail](const IDL::ObjectId*, PortableServer::POA_ptr) -> PortableServer::ServantBase* {
          fail();
          return nullptr;  // the last case: no servant
        });
    IDL::BrowsableStructSeq_var children = file->get_all_children();
    ASSERT_EQ(children->length(), 3u);
    expect(children[channel - 1].reference);
  }
}

TEST_F(ServantTest, QuantityFailuresReachTheFirstCallOnTheQuantity) {
  IDL::File_var file = mfOpen("quantity.rsp", threeChannels());
  IDL::Function2D_var channel =
      IDL::Function2D::_narrow(IDL::BrowsableStructSeq_var(file->get_all_children())[0].reference);
  IDL::FunctionValues_var values = channel->get_values_by_index(0, IDL::Y);
  auto* resolver = CResolverImpl::sfGetResolverImpl();
  // The real quantity type is registered again when the test ends.
  TypeOverride<CRPC3QuantityImpl> failing(
      "RPC3Quantity", IDL::Quantity::_PD_repoId,
      [](const IDL::ObjectId*, PortableServer::POA_ptr) -> PortableServer::ServantBase* {
        throw std::bad_alloc();
      });
  IDL::Quantity_var quantity = values->get_quantity();
  EXPECT_THROW(IDL::Quantity::QuantityAnnotation_var(quantity->get_quantity_annotation()), CORBA::TRANSIENT);
  resolver->mpRegisterType("RPC3Quantity", IDL::Quantity::_PD_repoId,
                           [](const IDL::ObjectId*, PortableServer::POA_ptr)
                               -> PortableServer::ServantBase* { return nullptr; });
  EXPECT_THROW(IDL::Quantity::QuantityAnnotation_var(quantity->get_quantity_annotation()), CORBA::OBJECT_NOT_EXIST);
}

TEST_F(ServantTest, UnreadableFileFailsToOpenWithTheHeaderMessage) {
  mpWriteFile(mDir.mfFile("short.rsp"), mfTruncate(mfBuildRpc3File(threeChannels()), 300));
  try {
    IDL::File_var file = mServer->open_file(mAccessPoint.c_str(), "", "short.rsp");
    FAIL() << "open succeeded";
  } catch (const IDL::DBAccessException& e) {
    EXPECT_NE(std::string(e.message).find("Unable to read RPC3 header for <"), std::string::npos)
        << e.message;
  }
  EXPECT_THROW(IDL::File_var(mServer->open_file(mAccessPoint.c_str(), "", "../etc/passwd")),
               IDL::DBAccessException);
  EXPECT_THROW(IDL::File_var(mServer->open_file(mAccessPoint.c_str(), "..", "x.rsp")),
               IDL::DBAccessException);
  EXPECT_THROW(IDL::File_var(mServer->open_file("no-such-point", "", "x.rsp")),
               IDL::DBAccessException);
}

TEST_F(ServantTest, RootListsAccessPointsAndTheirRpc3Files) {
  mfOpen("b.rsp", threeChannels());
  mfOpen("a.tim", threeChannels());
  mpWriteFile(mDir.mfFile("notes.txt"), std::vector<std::uint8_t>(200, 'n'));
  IDL::StringSeq_var files = mServer->list_files(mAccessPoint.c_str(), "");
  ASSERT_EQ(files->length(), 2u);
  EXPECT_STREQ(files[0], "a.tim");
  EXPECT_STREQ(files[1], "b.rsp");
  IDL::StringSeq_var points = mServer->list_access_points();
  bool found = false;
  for (CORBA::ULong i = 0; i < points->length(); ++i) found |= mAccessPoint == points[i].in();
  EXPECT_TRUE(found);
}

TEST_F(ServantTest, RootListsTheSubDirectoriesThatStayInsideTheAccessPoint) {
  std::filesystem::create_directories(mDir.mfFile("runs/2025"));
  std::filesystem::create_directories(mDir.mfFile("cal"));
  mpWriteFile(mDir.mfFile("plain.rsp"), mfBuildRpc3File(threeChannels()));
  ScratchDir outside;
  std::filesystem::create_symlink(outside.mfText(), mDir.mfFile("out"));
  std::filesystem::create_symlink("runs", mDir.mfFile("inside"));
  const struct {
    const char* sub;
    std::vector<std::string> expected;
  } rows[] = {
      {"", {"cal", "inside", "runs"}},  // files and links that lead out are not directories here
      {"runs", {"2025"}},
      {"runs/2025", {}},
  };
  for (const auto& row : rows) {
    IDL::StringSeq_var names = mServer->list_directories(mAccessPoint.c_str(), row.sub);
    std::vector<std::string> got;
    for (CORBA::ULong i = 0; i < names->length(); ++i) got.push_back(names[i].in());
    EXPECT_EQ(got, row.expected) << "sub-directory \"" << row.sub << "\"";
  }
  EXPECT_THROW(IDL::StringSeq_var(mServer->list_directories(mAccessPoint.c_str(), "out")), IDL::DBAccessException);
  EXPECT_THROW(IDL::StringSeq_var(mServer->list_directories(mAccessPoint.c_str(), "..")), IDL::DBAccessException);
}

TEST_F(ServantTest, AnAccessPointBehindALinkIsListedWhereItsFilesAreOpenedWhenTheLinkIsRetargeted) {
  namespace fs = std::filesystem;
  if (!TamblixHq::NODRA::Framework::CConfinedFileId::sfUsesOpenat2()) GTEST_SKIP() << "no openat2";
  fs::create_directories(mDir.mfFile("real/runs"));
  mpWriteFile(mDir.mfFile("real/kept.rsp"), mfBuildRpc3File(threeChannels()));
  fs::create_directories(mDir.mfFile("other/etc-like"));
  mpWriteFile(mDir.mfFile("other/foreign.rsp"), mfBuildRpc3File(threeChannels()));
  fs::create_symlink(mDir.mfFile("real"), mDir.mfFile("current"));
  const std::string linked = mAccessPoint + "-linked";
  TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(
      linked.c_str(), mDir.mfFile("current").c_str());
  const auto listing = [&] {
    IDL::StringSeq_var files = mServer->list_files(linked.c_str(), "");
    IDL::StringSeq_var directories = mServer->list_directories(linked.c_str(), "");
    std::vector<std::string> names;
    for (CORBA::ULong i = 0; i < files->length(); ++i) names.push_back(files[i].in());
    for (CORBA::ULong i = 0; i < directories->length(); ++i) names.push_back(directories[i].in() + std::string("/"));
    return names;
  };
  const std::vector<std::string> before = listing();
  EXPECT_EQ(before, (std::vector<std::string>{"kept.rsp", "runs/"}));
  fs::remove(mDir.mfFile("current"));
  fs::create_symlink(mDir.mfFile("other"), mDir.mfFile("current"));
  EXPECT_EQ(listing(), before);
  IDL::File_var kept = mServer->open_file(linked.c_str(), "", "kept.rsp");  // still opened there
  EXPECT_EQ(kept->get_number_of_children(), 3u);
}

TEST_F(ServantTest, RootRecognisesEveryHeaderTheReaderReadsAndStaysInsideItsDirectory) {
  // The reader takes the first record as the format by position: a first keyword in lower
  // case or padded with blanks still makes an RPC III file.
  Bytes good = mfBuildRpc3File(threeChannels());
  const Rpc3Record padded = Rpc3Record::sfPadded("format", "BINARY");
  std::copy(padded.mBytes.begin(), padded.mBytes.end(), good.begin());
  mpWriteFile(mDir.mfFile("padded.rsp"), good);
  IDL::StringSeq_var files = mServer->list_files(mAccessPoint.c_str(), "");
  ASSERT_EQ(files->length(), 1u);
  EXPECT_STREQ(files[0], "padded.rsp");
  IDL::File_var file = mServer->open_file(mAccessPoint.c_str(), "", "padded.rsp");
  EXPECT_EQ(file->get_number_of_children(), 3u);

  // A sub-directory that is a link out of the access point is neither listed nor opened.
  ScratchDir outside;
  mpWriteFile(outside.mfFile("secret.rsp"), good);
  std::filesystem::create_symlink(outside.mfText(), mDir.mfFile("out"));
  EXPECT_THROW(IDL::StringSeq_var(mServer->list_files(mAccessPoint.c_str(), "out")),
               IDL::DBAccessException);
  EXPECT_THROW(IDL::File_var(mServer->open_file(mAccessPoint.c_str(), "out", "secret.rsp")),
               IDL::DBAccessException);
  try {
    IDL::StringSeq_var(mServer->list_files(mAccessPoint.c_str(), "/etc"));
    FAIL() << "listed an absolute sub-directory";
  } catch (const IDL::DBAccessException& e) {
    EXPECT_STREQ(e.reason, "absolute sub-directory or file name");
  }
}

TEST_F(ServantTest, EvictedServantsComeBackAndHeadersAreFreed) {
  Rpc3FileLayout layout;
  layout.mChannels = 40;
  layout.mPtsPerFrame = 4;
  layout.mFrames = 2;
  layout.mSample = [](int channel, std::int64_t index) { return channel * 10 + index; };
  auto* resolver = CResolverImpl::sfGetResolverImpl();
  {
    IDL::File_var file = mfOpen("many.rsp", layout);
    resolver->mpSetMaxServants(16);
    IDL::BrowsableStructSeq_var children = file->get_all_children();
    ASSERT_EQ(children->length(), 40u);
    EXPECT_LE(resolver->mfGetNumberOfServants(), 16u);
    // Every reference still works: its servant is built again on the next call.
    std::size_t before = resolver->mfGetNumberOfIncarnations();
    for (CORBA::ULong i = 0; i < 40; ++i) {
      IDL::Function2D_var channel = IDL::Function2D::_narrow(children[i].reference);
      IDL::RealValues_var values =
          IDL::RealValues::_narrow(IDL::FunctionValues_var(channel->get_values_by_index(0, IDL::Y)));
      std::vector<float> got = mfFloats(IDL::RealValueSeqUnion_var(values->get_value_chunk(8, 1)).in());
      ASSERT_EQ(got, std::vector<float>{float((i + 1) * 10 + 8)}) << "channel " << i + 1;
    }
    EXPECT_GT(resolver->mfGetNumberOfIncarnations(), before);
    EXPECT_LE(resolver->mfGetNumberOfServants(), 16u);
  }
  // With every servant gone the file's header is freed.
  resolver->mpSetMaxServants(0);
  auto* registry = CRPC3HeaderRegistry::sfGetHeaderRegistry();
  EXPECT_EQ(registry->mfGetNumberOfEntries(), 0u);
  resolver->mpSetMaxServants(4096);
}

TEST_F(ServantTest, ConcurrentResolvesBuildOneServantPerObject) {
  IDL::File_var file = mfOpen("parallel.rsp", threeChannels());
  IDL::ObjectId_var fileId = file->get_object_id();
  auto* resolver = CResolverImpl::sfGetResolverImpl();
  const std::size_t before = resolver->mfGetNumberOfIncarnations();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (CORBA::ULong k = 1; k <= 3; ++k) {
        IDL::ObjectId_var id =
            TamblixHq::NODRA::Drivers::RPC3::getChannelObjectId(fileId.in(), k, "");
        for (IDL::AxisEnum axis : {IDL::X, IDL::Y}) {
          IDL::FunctionValues_var values =
              TamblixHq::NODRA::Drivers::RPC3::getChannelValues(id.in(), axis);
          EXPECT_EQ(values->get_number_of_values(), 16u);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(resolver->mfGetNumberOfIncarnations() - before, 6u);
}

TEST_F(ServantTest, ObjectsWhoseFileVanishedNoLongerExistAfterEviction) {
  IDL::File_var file = mfOpen("vanish.rsp", threeChannels());
  IDL::RealValues_var values = mfValues(file, 1, IDL::Y);
  std::filesystem::remove(mDir.mfFile("vanish.rsp"));
  auto* resolver = CResolverImpl::sfGetResolverImpl();
  resolver->mpSetMaxServants(0);  // every servant evicted: the next call must rebuild
  resolver->mpSetMaxServants(4096);
  EXPECT_THROW(values->get_number_of_values(), CORBA::OBJECT_NOT_EXIST);
}


// The reading's annotations as "name=value" texts.
std::vector<std::string> readingTexts(const IDL::HeaderReading& reading) {
  std::vector<std::string> texts;
  for (const std::string& text : annotationTexts(reading.readings)) {
    texts.push_back(text.substr(0, text.find('/')) + "=" + text.substr(text.find('=') + 1));
  }
  return texts;
}

TEST_F(ServantTest, TheHeaderReadingIsEveryRecordReadAndTheLayoutTakenFromThem) {
  struct Case {
    Rpc3HeaderForm form;
    bool isFloat;
    const char* format;
    std::vector<std::string> readings;
  };
  // 2 channels: 16 + 12 records and a second OPERATION; filled: 3 FILL_ records more, 8
  // blocks either way.
  const Case cases[] = {
      {Rpc3HeaderForm::ePadded, false, "BINARY",
       {"storage_format=s:BINARY", "byte_order=s:little-endian", "sample_type=s:SHORT_INTEGER",
        "sample_size=h:2", "header_blocks=l:8", "counted_records=l:29", "data_start=l:4096"}},
      {Rpc3HeaderForm::eFilled, true, "binary_ieee_big_end",
       {"storage_format=s:BINARY_IEEE_BIG_END", "byte_order=s:big-endian", "sample_type=s:FLOATING_POINT",
        "sample_size=h:4", "header_blocks=l:8", "counted_records=l:32", "data_start=l:4096"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    Rpc3FileLayout layout;
    layout.mChannels = 2;
    layout.mHeaderForm = c.form;
    layout.mFloat = c.isFloat;
    layout.mFormat = c.format;
    layout.mFrames = 4;
    layout.mExtraKeywords = {{"OPERATION", "first"}, {"OPERATION", "second"}};
    const std::string name = std::string(c.format) + ".rsp";
    IDL::File_var file = mfOpen(name, layout);
    IDL::HeaderReading_var reading = file->get_header_reading();
    EXPECT_EQ(readingTexts(reading.in()), c.readings);
    const CORBA::ULong counted = c.form == Rpc3HeaderForm::eFilled ? 32 : 29;
    ASSERT_EQ(reading->records.length(), counted + 1);
    for (CORBA::ULong i = 0; i < reading->records.length(); ++i) {
      const IDL::HeaderRecord& record = reading->records[i];
      EXPECT_EQ(record.number, i);
      // The second OPERATION is the only repeat; only the record after a filled header's
      // blocks lies in the data.
      EXPECT_EQ(record.dropped, std::string(record.value.in()) == "second") << i;
      EXPECT_EQ(record.from_data, c.form == Rpc3HeaderForm::eFilled && i == counted) << i;
    }
    EXPECT_STREQ(reading->records[0].keyword, "FORMAT");
    EXPECT_STREQ(reading->records[0].value, c.format);

    // Read anew, from the version the object was opened on only.
    layout.mFrames = 5;
    mpWriteFile(mDir.mfFile(name), mfBuildRpc3File(layout));
    try {
      IDL::HeaderReading_var stale = file->get_header_reading();
      ADD_FAILURE() << "a changed file was read as the one opened";
    } catch (const IDL::DBAccessException& e) {
      EXPECT_STREQ(e.reason, "file changed while open");
    }
  }
}


TEST_F(ServantTest, HeadersBeyondTheirBoundOfBytesAreFreedByEvictingTheOldestObjects) {
  CRPC3HeaderRegistry* registry = CRPC3HeaderRegistry::sfGetHeaderRegistry();
  Rpc3FileLayout layout;
  mpWriteFile(mDir.mfFile("0.rsp"), mfBuildRpc3File(layout));
  std::size_t one = 0;
  {
    IDL::File_var probe = mServer->open_file(mAccessPoint.c_str(), "", "0.rsp");
    one = registry->mfGetBytes();
  }
  CResolverImpl::sfGetResolverImpl()->mfEvictOldest(SIZE_MAX);
  ASSERT_GT(one, 0u);
  // Room for about three headers: opening thirty files keeps no more than that.
  registry->mpSetMaxBytes(3 * one);
  std::vector<IDL::File_var> opened;
  for (int i = 1; i <= 30; ++i) {
    const std::string name = std::to_string(i) + ".rsp";
    mpWriteFile(mDir.mfFile(name), mfBuildRpc3File(layout));
    opened.push_back(mServer->open_file(mAccessPoint.c_str(), "", name.c_str()));
    EXPECT_LE(registry->mfGetBytes(), 3 * one + one) << name;  // the bound and the header being read
  }
  // Evicted file objects come back when asked.
  EXPECT_EQ(opened.front()->get_number_of_children(), 1u);
  registry->mpSetMaxBytes(std::size_t{64} << 20);
}

}  // namespace
}  // namespace nodra::test
