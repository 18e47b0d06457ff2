#include "host/framework/CFunction2DImpl.h"

#include <algorithm>

#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

namespace {

IDL::DoubleSeq toDoubles(const IDL::RealValueSeqUnion& values) {
  IDL::DoubleSeq out;
  if (values._d() == IDL::DOUBLE_PRECISION) return values.double_sequence();
  const IDL::FloatSeq& in = values.float_sequence();
  out.length(in.length());
  for (CORBA::ULong i = 0; i < in.length(); ++i) out[i] = in[i];
  return out;
}

IDL::RealValues_ptr realValues(IDL::FunctionValues_ptr values) {
  return IDL::RealValues::_narrow(values);
}

}  // namespace

CFunction2DImpl::CFunction2DImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa), CBrowsableImpl(id, poa) {}

CFunction2DImpl::~CFunction2DImpl() = default;

IDL::FunctionValues_ptr CFunction2DImpl::get_values_by_id(const char*, IDL::AxisEnum) {
  return IDL::FunctionValues::_nil();
}

IDL::FunctionValues_ptr CFunction2DImpl::get_values_by_index(CORBA::UShort, IDL::AxisEnum) {
  return IDL::FunctionValues::_nil();
}

IDL::DoubleSeq CFunction2DImpl::mfYValues(CORBA::ULong start, CORBA::ULong count,
                                          const char* place) {
  IDL::FunctionValues_var values = get_values_by_index(0, IDL::Y);
  IDL::RealValues_var real = realValues(values);
  if (CORBA::is_nil(real)) {
    Utility::raiseLogged<IDL::DBAccessException>("The function has no Y values",
                                                 "get_values_by_index returned nil", place);
  }
  IDL::RealValueSeqUnion_var chunk = real->get_value_chunk(start, count);
  return toDoubles(chunk.in());
}

IDL::RealValueSeqUnion* CFunction2DImpl::get_reduced_y_values(CORBA::ULong start,
                                                              CORBA::ULong count,
                                                              CORBA::ULong step) {
  IDL::DoubleSeq all = mfYValues(start, count, "CFunction2DImpl::get_reduced_y_values");
  step = std::max<CORBA::ULong>(step, 1);
  IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
  result->double_sequence(IDL::DoubleSeq());
  IDL::DoubleSeq& out = result->double_sequence();
  out.length(all.length() / step + (all.length() % step != 0));
  for (CORBA::ULong k = 0; k < out.length(); ++k) out[k] = all[k * step];
  return result._retn();
}

IDL::DoubleSeq* CFunction2DImpl::get_reduced_y_data(CORBA::ULong start, CORBA::ULong count,
                                                    CORBA::ULong blockSize) {
  IDL::DoubleSeq all = mfYValues(start, count, "CFunction2DImpl::get_reduced_y_data");
  blockSize = std::max<CORBA::ULong>(blockSize, 1);
  auto* out = new IDL::DoubleSeq;
  CORBA::ULong blocks = all.length() / blockSize + (all.length() % blockSize != 0);
  out->length(2 * blocks);
  for (CORBA::ULong b = 0; b < blocks; ++b) {
    CORBA::ULong begin = b * blockSize;
    CORBA::ULong end = begin + std::min(blockSize, all.length() - begin);
    double lo = all[begin], hi = all[begin];
    for (CORBA::ULong i = begin + 1; i < end; ++i) {
      lo = std::min(lo, static_cast<double>(all[i]));
      hi = std::max(hi, static_cast<double>(all[i]));
    }
    (*out)[2 * b] = lo;
    (*out)[2 * b + 1] = hi;
  }
  return out;
}

IDL::MinMax CFunction2DImpl::get_x_min_max() {
  IDL::MinMax range{0.0, 0.0};
  IDL::FunctionValues_var values = get_values_by_index(0, IDL::X);
  IDL::RealValues_var real = realValues(values);
  if (CORBA::is_nil(real)) return range;
  CORBA::ULong n = real->get_number_of_values();
  if (n == 0) return range;
  IDL::RealValueSeqUnion_var first = real->get_value_chunk(1, 1);
  IDL::RealValueSeqUnion_var last = real->get_value_chunk(n, 1);
  double a = toDoubles(first.in())[0];
  double b = toDoubles(last.in())[0];
  range.min = std::min(a, b);
  range.max = std::max(a, b);
  return range;
}

IDL::StringSeq* CFunction2DImpl::get_axis_ids() {
  auto* ids = new IDL::StringSeq;
  ids->length(2);
  (*ids)[0] = "X";
  (*ids)[1] = "Y";
  return ids;
}

CORBA::UShort CFunction2DImpl::get_number_of_axes() { return 2; }

IDL::FunctionRecord_ptr CFunction2DImpl::get_function_record() {
  return IDL::FunctionRecord::_nil();
}

}  // namespace TamblixHq::NODRA::Framework
