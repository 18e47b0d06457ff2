#include "host/framework/CFunctionRecordImpl.h"

namespace TamblixHq::NODRA::Framework {

namespace {

const char* className(IDL::FunctionRecord::FunctionClassEnum functionClass) {
  static const char* const names[] = {
      "undefined function",   "general function",        "time response",
      "auto spectrum",        "cross spectrum",          "frequency response",
      "transmissibility",     "coherence",               "auto correlation",
      "cross correlation",    "power spectral density",  "energy spectral density",
      "probability density",  "sampled time history",    "order function",
      "histogram"};
  const auto index = static_cast<unsigned>(functionClass);
  return index < sizeof names / sizeof names[0] ? names[index] : "";
}

}  // namespace

IDL::FunctionRecord::FunctionRecordAnnotation* getFunctionRecordAnnotation(
    IDL::FunctionRecord::FunctionClassEnum functionClass) {
  auto* annotation = new IDL::FunctionRecord::FunctionRecordAnnotation;
  annotation->function_class = functionClass;
  annotation->name = className(functionClass);
  annotation->comment = "";
  return annotation;
}

CFunctionRecordImpl::CFunctionRecordImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa) {}

CFunctionRecordImpl::~CFunctionRecordImpl() = default;

IDL::FunctionRecord::FunctionRecordAnnotation* CFunctionRecordImpl::get_function_record_annotation() {
  return getFunctionRecordAnnotation(mFunctionClass);
}

void CFunctionRecordImpl::mpSetFunctionClass(IDL::FunctionRecord::FunctionClassEnum functionClass) {
  mFunctionClass = functionClass;
}

void CFunctionRecordImpl::mpFillAnnotationContainer() {
  if (!mAnnotationsFilled) {
    IDL::DSVariantUnion value;
    value.long_value(static_cast<CORBA::Long>(mFunctionClass));
    mpAddAnnotation("function_class", value);
    mAnnotationsFilled = true;
  }
  CBaseImpl::mpFillAnnotationContainer();
}

}  // namespace TamblixHq::NODRA::Framework
