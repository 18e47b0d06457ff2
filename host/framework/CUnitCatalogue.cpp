#include "host/framework/CUnitCatalogue.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <udunits2.h>

#include "host/utility/HeaderTextU.h"

namespace TamblixHq::NODRA::Framework {

namespace {

// Exponents by FundamentalQuantity; index 0 (dimensionless) stays 0.
constexpr int kQuantities = IDL::PLANE_ANGLE + 1;
using Exponents = std::array<int, kQuantities>;

struct Alias {
  const char* text;
  Exponents exponents;  // DIMENSIONLESS, L, M, T, I, Θ, N, J, plane angle
  double offset, numerator, denominator;
};

constexpr double kPi = 3.14159265358979323846;

const Alias kAliases[] = {
    {"g", {0, 1, 0, -2, 0, 0, 0, 0, 0}, 0.0, 9.80665, 1.0},
    {"gn", {0, 1, 0, -2, 0, 0, 0, 0, 0}, 0.0, 9.80665, 1.0},
    {"ue", {}, 0.0, 1.0, 1e6},
    {"uE", {}, 0.0, 1.0, 1e6},
    {"microstrain", {}, 0.0, 1.0, 1e6},
    {"deg", {0, 0, 0, 0, 0, 0, 0, 0, 1}, 0.0, kPi, 180.0},
    {"degree", {0, 0, 0, 0, 0, 0, 0, 0, 1}, 0.0, kPi, 180.0},
    {"degrees", {0, 0, 0, 0, 0, 0, 0, 0, 1}, 0.0, kPi, 180.0},
    {"rad", {0, 0, 0, 0, 0, 0, 0, 0, 1}, 0.0, 1.0, 1.0},
    {"Nm", {0, 2, 1, -2, 0, 0, 0, 0, 0}, 0.0, 1.0, 1.0},
    {"kNm", {0, 2, 1, -2, 0, 0, 0, 0, 0}, 0.0, 1000.0, 1.0},
    {"%", {}, 0.0, 1.0, 100.0},
    {"V", {0, 2, 1, -3, -1, 0, 0, 0, 0}, 0.0, 1.0, 1.0},
    {"bar", {0, -1, 1, -2, 0, 0, 0, 0, 0}, 0.0, 100000.0, 1.0},
    {"kph", {0, 1, 0, -1, 0, 0, 0, 0, 0}, 0.0, 1000.0, 3600.0},
};

// The UDUNITS-2 units of the base quantities, by FundamentalQuantity.
const char* const kBaseUnitNames[kQuantities] = {nullptr,  "meter",  "kilogram", "second", "ampere",
                                                 "kelvin", "mole",   "candela",  "radian"};

IDL::Quantity::QuantityAnnotation annotationOf(const std::string& label, const Exponents& exponents,
                                               double offset, double numerator, double denominator) {
  IDL::Quantity::QuantityAnnotation annotation;
  annotation.unit_label = label.c_str();
  annotation.offset = offset;
  annotation.numerator = numerator;
  annotation.denominator = denominator;
  for (int q = 1; q < kQuantities; ++q) {
    if (exponents[q] == 0) continue;
    const CORBA::ULong n = annotation.terms.length();
    annotation.terms.length(n + 1);
    annotation.terms[n].exponent_numerator = static_cast<CORBA::Short>(exponents[q]);
    annotation.terms[n].exponent_denominator = 1;
    annotation.terms[n].quantity = static_cast<IDL::FundamentalQuantity>(q);
  }
  return annotation;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What a walk over a UDUNITS-2 unit collects.
struct Walk {
  const std::array<ut_unit*, kQuantities>* baseUnits;
  Exponents exponents{};
  bool ok = true;
};

ut_status visitUnit(const ut_unit* unit, void* arg);

// Adds `power` to the exponent of the base quantity of a basic unit; fails for one that is
// not a base quantity of ours.
ut_status addBasic(const ut_unit* basic, int power, Walk& walk) {
  for (int q = 1; q < kQuantities; ++q) {
    const ut_unit* base = (*walk.baseUnits)[q];
    if (base != nullptr && ut_compare(basic, base) == 0) {
      walk.exponents[q] += power;
      return UT_SUCCESS;
    }
  }
  walk.ok = false;
  return UT_VISIT_ERROR;
}

const ut_visitor kVisitor = {
    [](const ut_unit* unit, void* arg) { return addBasic(unit, 1, *static_cast<Walk*>(arg)); },
    [](const ut_unit*, int count, const ut_unit* const* basics, const int* powers, void* arg) {
      for (int i = 0; i < count; ++i) {
        if (addBasic(basics[i], powers[i], *static_cast<Walk*>(arg)) != UT_SUCCESS) return UT_VISIT_ERROR;
      }
      return UT_SUCCESS;
    },
    [](const ut_unit*, double, const ut_unit* underlying, double, void* arg) { return visitUnit(underlying, arg); },
    [](const ut_unit*, const ut_unit*, double, void* arg) {
      static_cast<Walk*>(arg)->ok = false;  // a point in time, not a quantity
      return UT_VISIT_ERROR;
    },
    [](const ut_unit*, double, const ut_unit*, void* arg) {
      static_cast<Walk*>(arg)->ok = false;  // a level, not a quantity
      return UT_VISIT_ERROR;
    },
};

ut_status visitUnit(const ut_unit* unit, void* arg) { return ut_accept_visitor(unit, &kVisitor, arg); }

struct UnitFree {
  void operator()(ut_unit* unit) const { ut_free(unit); }
};
using UnitPtr = std::unique_ptr<ut_unit, UnitFree>;

// A factor below one as 1 / denominator when nine digits of that denominator reproduce it.
void setFactor(double factor, IDL::Quantity::QuantityAnnotation& annotation) {
  annotation.numerator = factor;
  annotation.denominator = 1.0;
  if (factor == 0.0 || std::fabs(factor) >= 1.0) return;
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", 1.0 / factor);
  const double denominator = std::strtod(text, nullptr);
  if (std::fabs(1.0 / denominator - factor) <= 1e-12 * std::fabs(factor)) {
    annotation.numerator = 1.0;
    annotation.denominator = denominator;
  }
}

}  // namespace

CUnitCatalogue* CUnitCatalogue::sfGetUnitCatalogue() {
  static CUnitCatalogue* const sCatalogue = new CUnitCatalogue;  // never destroyed
  return sCatalogue;
}

CUnitCatalogue::CUnitCatalogue() {
  std::lock_guard<std::mutex> lock(mMutex);
  ut_set_error_message_handler(ut_ignore);
  mSystem = ut_read_xml(nullptr);
}

bool CUnitCatalogue::mfIsLoaded() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mSystem != nullptr;
}

std::optional<IDL::Quantity::QuantityAnnotation> CUnitCatalogue::mfRead(const std::string& unit,
                                                                       bool udunitsOnly) const {
  // Read as every output shows it ("\xb0C" in Latin-1 is "°C"), so that both spellings are known.
  const std::string text = trimmed(Utility::sfHeaderTextToUtf8(unit));
  if (text == "unknown") return annotationOf(text, Exponents{}, 0.0, 1.0, 1.0);
  if (text.empty()) return std::nullopt;
  if (!udunitsOnly) {
    for (const Alias& alias : kAliases) {
      if (text == alias.text) {
        return annotationOf(text, alias.exponents, alias.offset, alias.numerator, alias.denominator);
      }
    }
  }
  std::lock_guard<std::mutex> lock(mMutex);
  return mfReadUdunits(text);
}

std::optional<IDL::Quantity::QuantityAnnotation> CUnitCatalogue::mfReadUdunits(const std::string& text) const {
  auto* system = static_cast<ut_system*>(mSystem);
  if (system == nullptr) return std::nullopt;
  std::array<ut_unit*, kQuantities> baseUnits{};
  std::array<UnitPtr, kQuantities> owned;
  for (int q = 1; q < kQuantities; ++q) {
    owned[q].reset(ut_get_unit_by_name(system, kBaseUnitNames[q]));
    baseUnits[q] = owned[q].get();
  }
  const UnitPtr unit(ut_parse(system, text.c_str(), UT_UTF8));
  if (!unit) return std::nullopt;
  Walk walk{&baseUnits};
  if (visitUnit(unit.get(), &walk) != UT_SUCCESS || !walk.ok) return std::nullopt;

  // The SI unit of the same dimension, and the conversion to it.
  UnitPtr si(ut_get_dimensionless_unit_one(system));
  for (int q = 1; q < kQuantities && si; ++q) {
    if (walk.exponents[q] == 0) continue;
    const UnitPtr power(ut_raise(baseUnits[q], walk.exponents[q]));
    if (!power) return std::nullopt;
    si.reset(ut_multiply(si.get(), power.get()));
  }
  if (!si) return std::nullopt;
  cv_converter* converter = ut_get_converter(unit.get(), si.get());
  if (converter == nullptr) return std::nullopt;
  const double offset = cv_convert_double(converter, 0.0);
  const double factor = cv_convert_double(converter, 1.0) - offset;
  cv_free(converter);
  if (!std::isfinite(offset) || !std::isfinite(factor) || factor == 0.0) return std::nullopt;

  IDL::Quantity::QuantityAnnotation annotation = annotationOf(text, walk.exponents, offset, 1.0, 1.0);
  setFactor(factor, annotation);
  return annotation;
}

bool CUnitCatalogue::mfInitQuantity(const Utility::CStringU& unit, CQuantityImpl& quantity,
                                    bool udunitsOnly) const {
  const std::optional<IDL::Quantity::QuantityAnnotation> reading = mfRead(unit.mfStd(), udunitsOnly);
  if (!reading) return false;
  quantity.mpSetFrom(*reading);
  return true;
}

bool CUnitCatalogue::mfInitQuantityAnnotation(const Utility::CStringU& unit,
                                              IDL::Quantity::QuantityAnnotation& annotation,
                                              bool udunitsOnly) const {
  std::optional<IDL::Quantity::QuantityAnnotation> reading = mfRead(unit.mfStd(), udunitsOnly);
  if (!reading) return false;
  annotation = *reading;
  return true;
}

}  // namespace TamblixHq::NODRA::Framework
