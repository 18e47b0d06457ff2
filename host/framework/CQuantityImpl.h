// Base implementation of quantity objects: the unit label, the transform to SI and the SI
// base quantities of a physical quantity, which the derived servant sets while it is
// constructed (directly, or through CUnitCatalogue). Safe to share between threads once
// constructed.
#pragma once

#include "host/framework/CBaseImpl.h"
#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Framework {

class CQuantityImpl : public virtual POA_TAMBLIX::NODRA::Framework::Quantity,
                      public virtual CBaseImpl {
public:
  CQuantityImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CQuantityImpl() override;

  // Quantity
  char* get_unit_label() override;
  // Label, transform (SI = offset + value * numerator / denominator) and terms.
  IDL::Quantity::QuantityAnnotation* get_quantity_annotation() override;

  // Multiplies the quantity by quantity^(numerator / denominator): appends one term.
  void mpAddQuantity(IDL::FundamentalQuantity quantity, CORBA::Short numerator,
                     CORBA::Short denominator);
  // The transform to SI: SI = offset + value * numerator / denominator.
  void mpSetUnitTransform(double offset, double numerator, double denominator);
  void mpSetUnitLabel(const Utility::CStringU& label);
  // Back to a dimensionless quantity: no terms, the identity transform, an empty label.
  void mpClear();
  // Label, transform and terms of an annotation record, replacing the quantity's.
  void mpSetFrom(const IDL::Quantity::QuantityAnnotation& annotation);

  // The annotation record as it stands (for builders that describe a quantity without
  // constructing its servant).
  const IDL::Quantity::QuantityAnnotation& mfGetAnnotation() const { return mAnnotation; }

protected:
  // Adds the annotation "unit_label" (the label text) once, then runs the base's hook.
  void mpFillAnnotationContainer() override;

private:
  IDL::Quantity::QuantityAnnotation mAnnotation;  // written only while constructing
  bool mAnnotationsFilled = false;                // guarded by the base's fill serialisation
};

}  // namespace TamblixHq::NODRA::Framework
