// Shared set-up of the servant tests: a scratch access point of their own, RPC III files
// written into it, and the objects of a file reached through real references.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/framework/CObjectIdCodec.h"
#include "host/framework/CResolverImpl.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CLoggerU.h"
#include "host/utility/CObjectIdU.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {

namespace IDL = ::TAMBLIX::NODRA::Framework;

// Each test gets an access point name of its own: servants are cached by identifier, and
// identifiers name access points, not directories.
class ServantTest : public ::testing::Test {
protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    mAccessPoint = "AP" + std::to_string(++counter);
    TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(
        mAccessPoint.c_str(), mDir.mfText().c_str());
    TamblixHq::NODRA::Utility::CLoggerU::sfGetLoggerU(0)->mpSetSink(
        [this](const std::string& line) { mLogged.push_back(line); });
    mServer = IDL::DataServer::_duplicate(OrbHarness::sfGet().mServerRef);
  }
  void TearDown() override {
    TamblixHq::NODRA::Utility::CLoggerU::sfGetLoggerU(0)->mpSetSink(nullptr);
  }

  IDL::File_ptr mfOpen(const std::string& name, const Rpc3FileLayout& layout) {
    mpWriteFile(mDir.mfFile(name), mfBuildRpc3File(layout));
    return mServer->open_file(mAccessPoint.c_str(), "", name.c_str());
  }

  // The file object of `name` resolved from an identifier whose fields 4, 8 and 10 are the
  // given texts (open_file leaves them empty). Reads the header only, whatever it holds.
  IDL::File_ptr mfResolveFile(const std::string& name, const char* domain = "",
                              const char* axis = "", const char* extension = "") {
    TamblixHq::NODRA::Utility::CObjectIdU builder;
    std::unique_ptr<IDL::ObjectId> id(builder.mfGetCorrectObjectId(
        mAccessPoint.c_str(), "", name.c_str(), "RPC3", domain, "RPC3File", "", name.c_str(),
        axis, "", extension));
    IDL::Base_var base = TamblixHq::NODRA::Framework::CResolverImpl::sfGetResolverImpl()->mfResolve(*id);
    return IDL::File::_narrow(base);
  }

  // `name` opened through an access point of its own whose name is so long that the
  // identifier of a channel labelled 90 characters is longer than any the server writes,
  // while a channel labelled one character and its objects stay within. Channel 1 is short;
  // channel k + 2 is long when longLabels[k].
  IDL::File_ptr mfOpenUnderLongName(const std::string& name, const std::vector<bool>& longLabels) {
    Rpc3FileLayout layout;
    layout.mChannelTexts = {{"s", "", "", "", ""}};
    for (bool isLong : longLabels) layout.mChannelTexts.push_back({isLong ? std::string(90, 'L') : "s", "", "", "", ""});
    layout.mChannels = static_cast<int>(layout.mChannelTexts.size());
    mpWriteFile(mDir.mfFile(name), mfBuildRpc3File(layout));
    // Channel 1's identifier under the short name measures the room left.
    IDL::File_var probe = mServer->open_file(mAccessPoint.c_str(), "", name.c_str());
    IDL::BrowsableStructSeq_var children = probe->get_all_children();
    const std::size_t size = TamblixHq::NODRA::Framework::CObjectIdCodec::sfEncode(children[0].id).size();
    const std::string longName =
        mAccessPoint + std::string(TamblixHq::NODRA::Framework::CObjectIdCodec::kMaxEncodedSize - size - 20, 'a');
    TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(
        longName.c_str(), mDir.mfText().c_str());
    return mServer->open_file(longName.c_str(), "", name.c_str());
  }

  // The values object of an axis of channel k (from 1) of a file, through the file's
  // child list and the channel's get_values_by_index.
  static IDL::RealValues_ptr mfValues(IDL::File_ptr file, CORBA::ULong channel, IDL::AxisEnum axis) {
    IDL::BrowsableStructSeq_var children = file->get_all_children();
    if (channel == 0 || channel > children->length()) return IDL::RealValues::_nil();
    IDL::Function2D_var function = IDL::Function2D::_narrow(children[channel - 1].reference);
    IDL::FunctionValues_var values = function->get_values_by_index(0, axis);
    return IDL::RealValues::_narrow(values);
  }

  static std::vector<float> mfFloats(const IDL::RealValueSeqUnion& values) {
    EXPECT_EQ(values._d(), IDL::SINGLE_PRECISION);
    const IDL::FloatSeq& seq = values.float_sequence();
    return std::vector<float>(seq.get_buffer(), seq.get_buffer() + seq.length());
  }

  static std::vector<double> mfDoubles(const IDL::RealValueSeqUnion& values) {
    EXPECT_EQ(values._d(), IDL::DOUBLE_PRECISION);
    const IDL::DoubleSeq& seq = values.double_sequence();
    return std::vector<double>(seq.get_buffer(), seq.get_buffer() + seq.length());
  }

  ScratchDir mDir;
  std::string mAccessPoint;
  std::vector<std::string> mLogged;
  IDL::DataServer_var mServer;
};

// The value a reader must return for a stored sample: the scale rounded to float, the exact
// product rounded once.
inline float expectedValue(const Rpc3FileLayout& layout, int channel, std::int64_t index,
                           double scale) {
  double raw = layout.mSample ? layout.mSample(channel, index) : 0.0;
  double sample = layout.mFloat ? static_cast<double>(static_cast<float>(raw))
                                : static_cast<double>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, raw))));
  return static_cast<float>(sample * static_cast<double>(static_cast<float>(scale)));
}

// Another constructor for a type id for one scope; the real servant type again afterwards.
template <class Servant>
class TypeOverride {
public:
  TypeOverride(const char* typeId, const char* repositoryId,
               TamblixHq::NODRA::Framework::CResolverImpl::Constructor constructor)
      : mTypeId(typeId), mRepositoryId(repositoryId) {
    TamblixHq::NODRA::Framework::CResolverImpl::sfGetResolverImpl()->mpRegisterType(
        mTypeId, mRepositoryId, std::move(constructor));
  }
  ~TypeOverride() {
    TamblixHq::NODRA::Framework::CResolverImpl::sfGetResolverImpl()->mpRegisterType<Servant>(
        mTypeId, mRepositoryId);
  }
  TypeOverride(const TypeOverride&) = delete;
  TypeOverride& operator=(const TypeOverride&) = delete;

private:
  std::string mTypeId;
  std::string mRepositoryId;
};

// An annotation as one text, "name/group/owner=kind:value" (kinds b h l d s), so that whole
// lists compare and print at once.
inline std::string annotationText(const IDL::Annotation& a) {
  std::string text = std::string(a.definition.name.in()) + "/" + a.definition.group.in() + "/" +
                     a.definition.owner_type.in() + "=";
  char number[40];
  switch (a.value._d()) {
    case 0: return text + "b:" + (a.value.bool_value() ? "1" : "0");
    case 2: return text + "h:" + std::to_string(a.value.short_value());
    case 3: return text + "l:" + std::to_string(a.value.long_value());
    case 5:
      std::snprintf(number, sizeof number, "%.17g", a.value.double_value());
      return text + "d:" + number;
    case 6: return text + "s:" + a.value.string_value();
    default: return text + "?" + std::to_string(a.value._d());
  }
}

inline std::vector<std::string> annotationTexts(const IDL::AnnotationSeq& annotations) {
  std::vector<std::string> texts;
  for (CORBA::ULong i = 0; i < annotations.length(); ++i) texts.push_back(annotationText(annotations[i]));
  return texts;
}

// The eleven fields of an identifier joined by '|', to compare identifiers whole.
inline std::string idText(const IDL::ObjectId& id) {
  std::string text;
  for (int field = 0; field <= 10; ++field) {
    if (field) text += '|';
    text += TamblixHq::NODRA::Utility::CObjectIdU::sfGetField(id, field).mfStd();
  }
  return text;
}

// A quantity annotation as one text: "label (offset,numerator,denominator) quantity^n/d ...".
inline std::string quantityText(const IDL::Quantity::QuantityAnnotation& q) {
  char transform[96];
  std::snprintf(transform, sizeof transform, " (%.17g,%.17g,%.17g)", q.offset, q.numerator,
                q.denominator);
  std::string text = std::string(q.unit_label.in()) + transform;
  for (CORBA::ULong i = 0; i < q.terms.length(); ++i) {
    text += " " + std::to_string(static_cast<int>(q.terms[i].quantity)) + "^" +
            std::to_string(q.terms[i].exponent_numerator) + "/" +
            std::to_string(q.terms[i].exponent_denominator);
  }
  return text;
}

}  // namespace nodra::test
