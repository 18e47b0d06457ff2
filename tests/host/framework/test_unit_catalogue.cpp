// Unit texts as measurement files write them, read into SI terms, label and transform.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "host/framework/CUnitCatalogue.h"

namespace {

using TamblixHq::NODRA::Framework::CUnitCatalogue;
namespace IDL = ::TAMBLIX::NODRA::Framework;

// Terms as "quantity^numerator/denominator" texts, in order.
std::vector<std::string> termsOf(const IDL::Quantity::QuantityAnnotation& a) {
  static const char* const names[] = {"1", "L", "M", "T", "I", "K", "N", "J", "A"};
  std::vector<std::string> out;
  for (CORBA::ULong i = 0; i < a.terms.length(); ++i) {
    out.push_back(std::string(names[a.terms[i].quantity]) + "^" + std::to_string(a.terms[i].exponent_numerator) +
                  "/" + std::to_string(a.terms[i].exponent_denominator));
  }
  return out;
}

double si(const IDL::Quantity::QuantityAnnotation& a, double value) {
  return a.offset + value * a.numerator / a.denominator;
}

TEST(UnitCatalogue, UnitTextsGiveTheirSiTermsAndTransform) {
  const CUnitCatalogue* catalogue = CUnitCatalogue::sfGetUnitCatalogue();
  ASSERT_TRUE(catalogue->mfIsLoaded());
  struct Case {
    const char* text;
    const char* label;
    std::vector<std::string> terms;
    double offset, numerator, denominator;
  } cases[] = {
      {"kN", "kN", {"L^1/1", "M^1/1", "T^-2/1"}, 0, 1000, 1},
      {"m/s^2", "m/s^2", {"L^1/1", "T^-2/1"}, 0, 1, 1},
      {"mm", "mm", {"L^1/1"}, 0, 1, 1000},
      {"MPa", "MPa", {"L^-1/1", "M^1/1", "T^-2/1"}, 0, 1e6, 1},
      {"sr", "sr", {"A^2/1"}, 0, 1, 1},  // the steradian is the square radian
      {"  kN\t", "kN", {"L^1/1", "M^1/1", "T^-2/1"}, 0, 1000, 1},
      {"degC", "degC", {"K^1/1"}, 273.15, 1, 1},
      {"\xc2\xb0" "C", "\xc2\xb0" "C", {"K^1/1"}, 273.15, 1, 1},  // the degree sign in UTF-8
      {"\xb0" "C", "\xc2\xb0" "C", {"K^1/1"}, 273.15, 1, 1},       // and in Latin-1, read as UTF-8 shows it
      {"s", "s", {"T^1/1"}, 0, 1, 1},
      {"Hz", "Hz", {"T^-1/1"}, 0, 1, 1},
      {"A", "A", {"I^1/1"}, 0, 1, 1},
      {"mV", "mV", {"L^2/1", "M^1/1", "T^-3/1", "I^-1/1"}, 0, 1, 1000},
      // The alias table: habits UDUNITS-2 reads otherwise or not at all.
      {"g", "g", {"L^1/1", "T^-2/1"}, 0, 9.80665, 1},
      {"ue", "ue", {}, 0, 1, 1e6},
      {"microstrain", "microstrain", {}, 0, 1, 1e6},
      {"deg", "deg", {"A^1/1"}, 0, M_PI, 180},
      {"Nm", "Nm", {"L^2/1", "M^1/1", "T^-2/1"}, 0, 1, 1},
      {"%", "%", {}, 0, 1, 100},
      {"V", "V", {"L^2/1", "M^1/1", "T^-3/1", "I^-1/1"}, 0, 1, 1},
      {"bar", "bar", {"L^-1/1", "M^1/1", "T^-2/1"}, 0, 100000, 1},
      {"kph", "kph", {"L^1/1", "T^-1/1"}, 0, 1000, 3600},
      {"unknown", "unknown", {}, 0, 1, 1},
  };
  for (const Case& c : cases) {
    const auto reading = catalogue->mfRead(c.text);
    ASSERT_TRUE(reading.has_value()) << c.text;
    EXPECT_STREQ(reading->unit_label, c.label);
    EXPECT_EQ(termsOf(*reading), c.terms) << c.text;
    EXPECT_DOUBLE_EQ(reading->offset, c.offset) << c.text;
    EXPECT_DOUBLE_EQ(reading->numerator / reading->denominator, c.numerator / c.denominator) << c.text;
  }
}

TEST(UnitCatalogue, UnknownTextsAreRefusedAndLeaveTheQuantityAlone) {
  const CUnitCatalogue* catalogue = CUnitCatalogue::sfGetUnitCatalogue();
  for (const char* text : {"", "   ", "Newtn", "kNN", "m/", "seconds since 1970-01-01"}) {
    EXPECT_FALSE(catalogue->mfRead(text).has_value()) << "'" << text << "'";
    IDL::Quantity::QuantityAnnotation annotation;
    annotation.unit_label = "kept";
    EXPECT_FALSE(catalogue->mfInitQuantityAnnotation(text, annotation, false));
    EXPECT_STREQ(annotation.unit_label, "kept");
  }
  // Only UDUNITS-2's reading, when asked for: "g" is a gram then.
  const auto gram = catalogue->mfRead("g", true);
  ASSERT_TRUE(gram.has_value());
  EXPECT_EQ(termsOf(*gram), (std::vector<std::string>{"M^1/1"}));
  EXPECT_DOUBLE_EQ(si(*gram, 1000.0), 1.0);
}

TEST(UnitCatalogue, TransformsConvertToSiExactlyWhereTheyCan) {
  const CUnitCatalogue* catalogue = CUnitCatalogue::sfGetUnitCatalogue();
  const auto mm = catalogue->mfRead("mm");
  EXPECT_EQ(mm->numerator, 1.0);
  EXPECT_EQ(mm->denominator, 1000.0);
  const auto fahrenheit = catalogue->mfRead("degF");
  ASSERT_TRUE(fahrenheit.has_value());
  EXPECT_NEAR(si(*fahrenheit, 32.0), 273.15, 1e-9);
  EXPECT_NEAR(si(*fahrenheit, 212.0), 373.15, 1e-9);
  EXPECT_EQ(fahrenheit->denominator, 1.8);
  const auto kph = catalogue->mfRead("km/h");
  EXPECT_NEAR(si(*kph, 36.0), 10.0, 1e-12);
}

TEST(UnitCatalogue, QuantitiesTakeTheReadingWholeAndConcurrentReadersAgree) {
  const CUnitCatalogue* catalogue = CUnitCatalogue::sfGetUnitCatalogue();
  IDL::ObjectId id;
  id.type_id = "Quantity";
  TamblixHq::NODRA::Framework::CQuantityImpl quantity(&id, PortableServer::POA::_nil());
  quantity.mpAddQuantity(IDL::MASS, 3, 1);  // replaced, not added to
  ASSERT_TRUE(catalogue->mfInitQuantity("kN", quantity, false));
  IDL::Quantity::QuantityAnnotation_var annotation = quantity.get_quantity_annotation();
  EXPECT_EQ(termsOf(annotation.in()), (std::vector<std::string>{"L^1/1", "M^1/1", "T^-2/1"}));
  EXPECT_EQ(si(annotation.in(), 2.0), 2000.0);
  CORBA::String_var label = quantity.get_unit_label();
  EXPECT_STREQ(label, "kN");
  EXPECT_FALSE(catalogue->mfInitQuantity("Newtn", quantity, false));
  label = quantity.get_unit_label();
  EXPECT_STREQ(label, "kN");

  // Many threads at once through the one UDUNITS-2 system.
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        const auto mpa = catalogue->mfRead(i % 2 ? "MPa" : "mm/s");
        if (!mpa || mpa->terms.length() != (i % 2 ? 3u : 2u)) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
