// Reads the unit texts of measurement files into quantities: a unit label, the SI base
// quantities the unit is made of and the affine transform to SI. Backed by the UDUNITS-2
// database, loaded once, behind an alias table of test-rig habits. Process-wide; safe for
// concurrent use (calls into UDUNITS-2, which is not thread-safe, are serialised).
//
// A unit text (blanks around it ignored) is first read as UTF-8, else Latin-1, as every
// output shows header texts (HeaderTextU.h), then in this order:
//  1. "unknown": the label "unknown", no terms, the identity transform (0, 1, 1).
//  2. Unless only UDUNITS-2 is asked for, the alias table, for test-rig habits that
//     UDUNITS-2 reads otherwise or not at all (terms; transform offset, numerator,
//     denominator):
//       g, gn        standard gravity: length, time^-2; 0, 9.80665, 1 (UDUNITS-2: gram)
//       ue, uE, microstrain
//                    strain: dimensionless; 0, 1, 1000000
//       deg, degree, degrees
//                    plane angle; 0, pi, 180
//       rad          plane angle; 0, 1, 1
//       Nm, kNm      torque: length^2, mass, time^-2; 0, 1 (or 1000), 1 (UDUNITS-2:
//                    nanometre)
//       %            dimensionless; 0, 1, 100
//       V            volt: length^2, mass, time^-3, current^-1; 0, 1, 1
//       bar          pressure: length^-1, mass, time^-2; 0, 100000, 1
//       kph          speed: length, time^-1; 0, 1000, 3600
//  3. UDUNITS-2's own reading of the text ("kN", "m/s^2", "mm", "MPa", "degC", ...), with
//     the radian as plane angle (the steradian its square).
// Texts read by neither, the empty text, and timestamp or logarithmic units
// are not known.
//
// What a known unit gives:
//  - terms: one QuantityTerm per SI base quantity with a non-zero exponent, in the order of
//    FundamentalQuantity (length, mass, time, electric current, temperature, amount of
//    substance, luminous intensity, plane angle); the exponent as numerator / denominator,
//    in lowest terms (UDUNITS-2 units have whole exponents). A dimensionless unit has none.
//  - transform: SI value = offset + value * numerator / denominator. From UDUNITS-2, a
//    factor below one is written as 1 / denominator when nine digits of it reproduce the
//    factor (mm: 0, 1, 1000; degF: 255.372..., 1, 1.8).
//  - label: the unit text in UTF-8 (see above), blanks around it removed.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "host/framework/CQuantityImpl.h"
#include "host/utility/CStringU.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

class CUnitCatalogue {
public:
  // Created, and the UDUNITS-2 database read, on first use; never destroyed.
  static CUnitCatalogue* sfGetUnitCatalogue();

  CUnitCatalogue(const CUnitCatalogue&) = delete;
  CUnitCatalogue& operator=(const CUnitCatalogue&) = delete;

  // The reading of a unit text; nullopt when it is not known. `udunitsOnly` skips the
  // alias table.
  std::optional<IDL::Quantity::QuantityAnnotation> mfRead(const std::string& unit,
                                                          bool udunitsOnly = false) const;

  // Sets label, terms and transform of `quantity` from a unit text; false, leaving the
  // quantity unchanged, when the text is not known.
  bool mfInitQuantity(const Utility::CStringU& unit, CQuantityImpl& quantity, bool udunitsOnly) const;
  // The same for an annotation record.
  bool mfInitQuantityAnnotation(const Utility::CStringU& unit,
                                IDL::Quantity::QuantityAnnotation& annotation,
                                bool udunitsOnly) const;

  // False when the UDUNITS-2 database could not be read: then only "unknown" and the
  // aliases are known.
  bool mfIsLoaded() const;

private:
  CUnitCatalogue();

  // UDUNITS-2's reading. REQUIRES: mMutex held.
  std::optional<IDL::Quantity::QuantityAnnotation> mfReadUdunits(const std::string& text) const;

  mutable std::mutex mMutex;  // serialises every UDUNITS-2 call
  void* mSystem = nullptr;     // ut_system*, read once; guarded by mMutex
};

}  // namespace TamblixHq::NODRA::Framework
