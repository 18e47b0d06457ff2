// Base implementation of two-dimensional functions (X and Y values): reduced views of the Y
// values for plots of any length, read in bounded chunks, their rainflow count, and the X
// range, answered through the derived servant's values objects. Safe to share between
// threads.
#pragma once

#include "host/framework/CBrowsableImpl.h"

namespace TamblixHq::NODRA::Framework {

class CFunction2DImpl : public virtual POA_TAMBLIX::NODRA::Framework::Function2D,
                        public virtual CBrowsableImpl {
public:
  CFunction2DImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CFunction2DImpl() override;

  // The base has no values objects: nil.
  IDL::FunctionValues_ptr get_values_by_id(const char* id, IDL::AxisEnum axis) override;
  IDL::FunctionValues_ptr get_values_by_index(CORBA::UShort index, IDL::AxisEnum axis) override;
  // Every step-th Y value of the chunk (start, count), clipped as get_value_chunk clips,
  // from its first value on, as doubles. A step of 0 reads as 1.
  IDL::RealValueSeqUnion* get_reduced_y_values(CORBA::ULong start, CORBA::ULong count,
                                               CORBA::ULong step) override;
  // Minimum and maximum of each block of blockSize Y values of the chunk (the last block
  // may be shorter), in pairs; NaN values are left out, and a block of nothing else gives
  // NaN twice. A block size of 0 reads as 1.
  IDL::DoubleSeq* get_reduced_y_data(CORBA::ULong start, CORBA::ULong count,
                                     CORBA::ULong blockSize) override;
  // First and last X value (0, 0 without values).
  IDL::MinMax get_x_min_max() override;
  IDL::StringSeq* get_axis_ids() override;
  CORBA::UShort get_number_of_axes() override;
  IDL::FunctionRecord_ptr get_function_record() override;
  // Rainflow counting of all Y values, read kReadChunk values a call through the Y values
  // object as any client reads them; without a class range in the request, a first pass
  // finds the values' minimum and maximum. Memory stays bounded: the counter's state, one
  // chunk and the reply. A request the counting library refuses, a residue beyond its
  // bound and a reply beyond the reply limit raise DBAccessException.
  IDL::RainflowResult* count_rainflow(const IDL::RainflowRequest& request) override;

  // Values read per call while reducing or counting.
  static constexpr CORBA::ULong kReadChunk = 64 * 1024;

private:
  // The Y values object, with the chunk (start, count) clipped to its values: [first,
  // first + n). DBAccessException naming `place` when there is none.
  IDL::RealValues_ptr mfYValues(CORBA::ULong start, CORBA::ULong count, CORBA::ULong& first,
                                CORBA::ULong& n, const char* place);
};

}  // namespace TamblixHq::NODRA::Framework
