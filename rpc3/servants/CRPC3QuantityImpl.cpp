#include "rpc3/servants/CRPC3QuantityImpl.h"

#include <memory>

#include "host/framework/CUnitCatalogue.h"
#include "rpc3/format/CRPC3HeaderLease.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Framework::CUnitCatalogue;
using Utility::CStringU;

namespace {

// The channel's unit text, blanks around it removed.
CStringU unitsOf(const CRPC3Header& header, const CStringU& channelText) {
  CStringU keyword("UNITS.CHAN_");
  keyword.mfAddString(channelText);
  return header.mfGetKeywordValue(keyword).mfRemoveBlanks(5);
}

// Seconds: the quantity of every time base.
IDL::Quantity::QuantityAnnotation timeBase() {
  IDL::Quantity::QuantityAnnotation annotation;
  annotation.unit_label = "s";
  annotation.offset = 0.0;
  annotation.numerator = 1.0;
  annotation.denominator = 1.0;
  annotation.terms.length(1);
  annotation.terms[0].exponent_numerator = 1;
  annotation.terms[0].exponent_denominator = 1;
  annotation.terms[0].quantity = IDL::TIME;
  return annotation;
}

}  // namespace

CRPC3QuantityImpl::CRPC3QuantityImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa), CQuantityImpl(id, poa) {
  if (CStringU(id->axis).mfCompare("X") == 0) {
    mpSetFrom(timeBase());
    return;
  }
  const CRPC3HeaderLease header{*id};
  const CUnitCatalogue* catalogue = CUnitCatalogue::sfGetUnitCatalogue();
  if (!catalogue->mfInitQuantity(unitsOf(*header, CStringU(id->index)), *this, false)) {
    catalogue->mfInitQuantity("unknown", *this, false);
  }
}

CRPC3QuantityImpl::~CRPC3QuantityImpl() = default;

IDL::Quantity::QuantityAnnotation* getQuantityAnnotation(const CRPC3Header& header,
                                                         const CStringU& channelText,
                                                         IDL::AxisEnum axis) {
  if (axis == IDL::X) return new IDL::Quantity::QuantityAnnotation(timeBase());
  auto annotation = std::make_unique<IDL::Quantity::QuantityAnnotation>();
  const CUnitCatalogue* catalogue = CUnitCatalogue::sfGetUnitCatalogue();
  if (!catalogue->mfInitQuantityAnnotation(unitsOf(header, channelText), *annotation, false)) {
    catalogue->mfInitQuantityAnnotation("unknown", *annotation, false);
  }
  return annotation.release();
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
