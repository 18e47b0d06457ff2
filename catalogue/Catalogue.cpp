#include "catalogue/Catalogue.h"

#include <cmath>
#include <limits>

#include "CPostgresCatalogue.h"
#include "CSqliteCatalogue.h"
#include "SqlFilter.h"

namespace TamblixHq::NODRA::Catalogue {

CCatalogue::~CCatalogue() = default;

double SummaryRow::mfMean() const {
  std::uint64_t n = mValues > mNaN ? mValues - mNaN : 0;
  return n == 0 ? std::numeric_limits<double>::quiet_NaN() : mSum / static_cast<double>(n);
}

double SummaryRow::mfRms() const {
  std::uint64_t n = mValues > mNaN ? mValues - mNaN : 0;
  return n == 0 ? std::numeric_limits<double>::quiet_NaN() : std::sqrt(mSumOfSquares / static_cast<double>(n));
}

std::unique_ptr<CCatalogue> mfOpenCatalogue(const std::string& url) {
  auto startsWith = [&](const char* prefix) { return url.rfind(prefix, 0) == 0; };
  if (startsWith("postgresql://") || startsWith("postgres://")) return std::make_unique<CPostgresCatalogue>(url);
  std::string path = startsWith("sqlite:") ? url.substr(7) : url;
  if (path.empty()) throw CatalogueError("cannot open catalogue \"" + url + "\": no file named");
  if (!startsWith("sqlite:") && url.find("://") != std::string::npos)
    throw CatalogueError("cannot open catalogue " + mfRedactedUrl(url) +
                         ": not a catalogue URL (PATH, sqlite:PATH, postgresql://...)");
  return std::make_unique<CSqliteCatalogue>(path, url);
}

}  // namespace TamblixHq::NODRA::Catalogue
