// Base implementation of function records: the function class of a function and the record
// annotation answered from it. The derived servant sets the class while it is constructed.
// Safe to share between threads once constructed.
#pragma once

#include "host/framework/CBaseImpl.h"

namespace TamblixHq::NODRA::Framework {

class CFunctionRecordImpl : public virtual POA_TAMBLIX::NODRA::Framework::FunctionRecord,
                            public virtual CBaseImpl {
public:
  CFunctionRecordImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CFunctionRecordImpl() override;

  // FunctionRecord: the framework's default record of the function class.
  IDL::FunctionRecord::FunctionRecordAnnotation* get_function_record_annotation() override;

  IDL::FunctionRecord::FunctionClassEnum mfGetFunctionClass() const { return mFunctionClass; }

protected:
  // The class of the function; UNDEFINED_FUNCTION until set.
  virtual void mpSetFunctionClass(IDL::FunctionRecord::FunctionClassEnum functionClass);
  // Adds "function_class" (the class as a 32-bit integer) once, then runs the base's hook.
  void mpFillAnnotationContainer() override;

private:
  IDL::FunctionRecord::FunctionClassEnum mFunctionClass = IDL::FunctionRecord::UNDEFINED_FUNCTION;
  bool mAnnotationsFilled = false;  // guarded by the base's fill serialisation
};

// The default record annotation of a function class: the class, its name in words (for
// SAMPLED_TIME_HISTORY "sampled time history") and an empty comment. New; caller owns.
IDL::FunctionRecord::FunctionRecordAnnotation* getFunctionRecordAnnotation(
    IDL::FunctionRecord::FunctionClassEnum functionClass);

}  // namespace TamblixHq::NODRA::Framework
