#include "host/framework/CQuantityImpl.h"

namespace TamblixHq::NODRA::Framework {

CQuantityImpl::CQuantityImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa) {
  mpClear();
}

CQuantityImpl::~CQuantityImpl() = default;

char* CQuantityImpl::get_unit_label() { return CORBA::string_dup(mAnnotation.unit_label); }

IDL::Quantity::QuantityAnnotation* CQuantityImpl::get_quantity_annotation() {
  return new IDL::Quantity::QuantityAnnotation(mAnnotation);
}

void CQuantityImpl::mpAddQuantity(IDL::FundamentalQuantity quantity, CORBA::Short numerator,
                                  CORBA::Short denominator) {
  const CORBA::ULong n = mAnnotation.terms.length();
  mAnnotation.terms.length(n + 1);
  mAnnotation.terms[n].exponent_numerator = numerator;
  mAnnotation.terms[n].exponent_denominator = denominator;
  mAnnotation.terms[n].quantity = quantity;
}

void CQuantityImpl::mpSetUnitTransform(double offset, double numerator, double denominator) {
  mAnnotation.offset = offset;
  mAnnotation.numerator = numerator;
  mAnnotation.denominator = denominator;
}

void CQuantityImpl::mpSetUnitLabel(const Utility::CStringU& label) {
  mAnnotation.unit_label = label.mfGetString();
}

void CQuantityImpl::mpClear() {
  mAnnotation.unit_label = "";
  mAnnotation.terms.length(0);
  mpSetUnitTransform(0.0, 1.0, 1.0);
}

void CQuantityImpl::mpSetFrom(const IDL::Quantity::QuantityAnnotation& annotation) {
  mpClear();
  mpSetUnitLabel(Utility::CStringU(annotation.unit_label.in()));
  for (CORBA::ULong i = 0; i < annotation.terms.length(); ++i) {
    mpAddQuantity(annotation.terms[i].quantity, annotation.terms[i].exponent_numerator,
                  annotation.terms[i].exponent_denominator);
  }
  mpSetUnitTransform(annotation.offset, annotation.numerator, annotation.denominator);
}

void CQuantityImpl::mpFillAnnotationContainer() {
  if (!mAnnotationsFilled) {
    IDL::DSVariantUnion value;
    value.string_value(mAnnotation.unit_label);
    mpAddAnnotation("unit_label", value);
    mAnnotationsFilled = true;
  }
  CBaseImpl::mpFillAnnotationContainer();
}

}  // namespace TamblixHq::NODRA::Framework
