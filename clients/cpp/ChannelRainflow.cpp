#include "clients/cpp/ChannelRainflow.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "clients/cpp/ChunkReader.h"
#include "clients/cpp/FileSource.h"
#include "clients/cpp/ListingOutput.h"
#include "clients/cpp/ProgressBar.h"
#include "host/framework/RainflowReply.h"

namespace TamblixHq::NODRA::Client {

namespace {

using Json = nlohmann::ordered_json;

// Counts: halves times repetitions, shown whole where they are.
std::string countText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", value);
  return text;
}

const char* methodName(Analysis::RainflowMethod method) {
  return method == Analysis::RainflowMethod::kFourPoint ? "four-point" : "astm";
}

std::string fileTitle(const RainflowSource& source) {
  return source.mRepeats == 1 ? source.mFile : source.mFile + " x" + countText(source.mRepeats);
}

Json numbers(const std::vector<double>& values) {
  Json list = Json::array();
  for (double v : values) list.push_back(mfJsonNumber(v));
  return list;
}

Json settingsJson(const Analysis::RainflowSettings& s) {
  return Json{{"method", methodName(s.mMethod)},
              {"gate", mfJsonNumber(s.mGate)},
              {"classes", s.mClasses},
              {"range_min", mfJsonNumber(s.mRangeMin)},
              {"range_max", mfJsonNumber(s.mRangeMax)},
              {"slopes", numbers(s.mSlopes)},
              {"reference_range", mfJsonNumber(s.mReferenceRange)},
              {"reference_cycles", mfJsonNumber(s.mReferenceCycles)},
              {"max_cycles", s.mMaxCycles}};
}

Json damageJson(const Analysis::RainflowResult& r) {
  Json list = Json::array();
  for (std::size_t k = 0; k < r.mDamage.size() && k < r.mSettings.mSlopes.size(); ++k) {
    list.push_back(Json{{"slope", mfJsonNumber(r.mSettings.mSlopes[k])}, {"damage", mfJsonNumber(r.mDamage[k])}});
  }
  return list;
}

// What one counting read, and its cycle totals.
Json readingJson(const Analysis::RainflowResult& r) {
  return Json{{"values", r.mValues},
              {"nan", r.mNaN},
              {"infinite", r.mInfinite},
              {"reversals", r.mReversals},
              {"min", mfJsonNumber(r.mMin)},
              {"max", mfJsonNumber(r.mMax)},
              {"cycle_count", mfJsonNumber(r.mfTotalCycles())},
              {"full_cycles", mfJsonNumber(r.mFullCycles)},
              {"half_cycles", mfJsonNumber(r.mHalfCycles)},
              {"residue_cycles", mfJsonNumber(r.mResidueCycles)},
              {"outside", mfJsonNumber(r.mOutside)}};
}

}  // namespace

RainflowSource mfParseRainflowSource(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return {text, 1};
  const std::string suffix = text.substr(colon + 1);
  if (suffix.empty()) throw UsageError("\"" + text + "\": give the repetitions after \":\" (FILE:REPEATS)");
  errno = 0;
  char* end = nullptr;
  const double repeats = std::strtod(suffix.c_str(), &end);
  if (end != suffix.c_str() + suffix.size() || std::isspace(static_cast<unsigned char>(suffix.front()))) {
    return {text, 1};  // no number: the colon is part of the name
  }
  if (colon == 0) throw UsageError("\"" + text + "\" names no file before its repetitions");
  if (errno == ERANGE || !std::isfinite(repeats) || repeats <= 0) {
    throw UsageError("\"" + text + "\": the repetitions must be a finite number above 0");
  }
  return {text.substr(0, colon), repeats};
}

std::vector<IDL::File_var> mfOpenRainflowFiles(Framework::CHostOrb& orb, const std::vector<RainflowSource>& sources,
                                               const std::string& server) {
  std::vector<std::string> files;
  for (const RainflowSource& source : sources) files.push_back(source.mFile);
  return mfOpenFiles(orb, files, server);
}

namespace {

// A channel of every file, ready to be counted: its function and listing, and the settings
// with the class range that every file is counted in.
struct RainflowChannels {
  std::vector<IDL::Function2D_var> mFunctions;
  std::vector<ChannelListing> mListings;
  Analysis::RainflowSettings mSettings;
  std::uint64_t mWork = 0;  // values the count reads, the range pass included
};

RainflowChannels rainflowChannels(RainflowRun& run, const std::vector<IDL::File_var>& files,
                                  const std::vector<RainflowSource>& sources, CORBA::ULong channel,
                                  const Analysis::RainflowSettings& settings, const RainflowWorkCheck& check,
                                  bool joined, std::unique_ptr<ProgressBar>& progress) {
  const std::string problem = Analysis::mfSettingsProblem(settings);
  if (!problem.empty()) throw UsageError(problem);
  run.mChannel = channel;
  RainflowChannels channels;
  std::uint64_t work = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::optional<ChannelListing> listing = mfReadChannel(files[i].in(), channel);
    if (!listing) {
      throw NoSuchChannel("channel " + std::to_string(channel) + " does not exist in " + sources[i].mFile +
                       " (the file has " + std::to_string(files[i]->get_number_of_children()) + " channels)");
    }
    IDL::Function2D_var function = IDL::Function2D::_narrow(listing->mReference.in());
    if (CORBA::is_nil(function)) {
      throw std::runtime_error("channel " + std::to_string(channel) + " of " + sources[i].mFile +
                               " is not a function of time");
    }
    if (i == 0) {
      run.mLabel = listing->mfAnnotationText("description");
      if (run.mLabel.empty()) run.mLabel = listing->mLabel;
      run.mUnit = listing->mFunction.y_quantity_annotation.unit_label.in();
    }
    channels.mFunctions.push_back(function);
    work += listing->mCount;
    channels.mListings.push_back(std::move(*listing));
  }
  channels.mSettings = settings;
  // A server counting one file alone finds its range itself; here they are counted together.
  const bool findRange = !settings.mHasRange && (files.size() > 1 || joined);
  channels.mWork = findRange ? 2 * work : work;
  if (check) check(channels.mWork);
  progress = std::make_unique<ProgressBar>(channels.mWork);
  if (findRange) {
    // One class range for all: the files' minimum and maximum, reduced where they are.
    std::optional<Analysis::ValueRange> range;
    for (std::size_t i = 0; i < channels.mFunctions.size(); ++i) {
      const CORBA::ULong count = channels.mListings[i].mCount;
      if (count == 0) continue;
      if (check) check(0);
      IDL::DoubleSeq_var extremes = channels.mFunctions[i]->get_reduced_y_data(1, count, count);
      if (extremes->length() == 2 && !std::isnan(extremes[0])) {
        Analysis::mpWiden(range, Analysis::ValueRange{extremes[0], extremes[1]});
      }
      progress->mpAdvance(count);
    }
    Analysis::RainflowSettings& counted = channels.mSettings;
    counted.mHasRange = true;
    counted.mRangeMin = range ? range->mMin : 0;
    counted.mRangeMax = range ? range->mMax : 0;
    if (!std::isfinite(counted.mRangeMin) || !std::isfinite(counted.mRangeMax)) {
      throw UsageError("channel " + std::to_string(channel) + " holds infinite values: give the class range");
    }
  }
  return channels;
}

// Keeps the first kListedResidue reversals of a count's residue, and its whole length.
void cutResidue(RainflowFileCount& count) {
  std::vector<double>& residue = count.mResult.mResidue;
  count.mResidueLength = residue.size();
  if (residue.size() > kListedResidue) {
    residue.resize(kListedResidue);
    residue.shrink_to_fit();
  }
}

}  // namespace

RainflowRun mfCountRainflow(const std::vector<IDL::File_var>& files, const std::vector<RainflowSource>& sources,
                            CORBA::ULong channel, const Analysis::RainflowSettings& settings,
                            const RainflowWorkCheck& check) {
  RainflowRun run;
  std::unique_ptr<ProgressBar> progress;
  const RainflowChannels channels = rainflowChannels(run, files, sources, channel, settings, check, false, progress);
  const IDL::RainflowRequest request = Framework::mfRainflowRequest(channels.mSettings);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (check) check(0);
    IDL::RainflowResult_var reply = channels.mFunctions[i]->count_rainflow(request);
    RainflowFileCount count{sources[i], Framework::mfRainflowResult(reply.in()), 0, ""};
    count.mVersion = IDL::ObjectId_var(files[i]->get_object_id())->extension.in();
    cutResidue(count);
    progress->mpAdvance(channels.mListings[i].mCount);
    Analysis::mpCombine(run.mTotal, count.mResult, sources[i].mRepeats);
    run.mFiles.push_back(std::move(count));
  }
  return run;
}

RainflowRun mfCountRainflowJoined(const std::vector<IDL::File_var>& files, const std::vector<RainflowSource>& sources,
                                  CORBA::ULong channel, const Analysis::RainflowSettings& settings,
                                  unsigned threads, const RainflowWorkCheck& check) {
  for (const RainflowSource& source : sources) {
    if (source.mRepeats != 1) {
      throw UsageError("\"" + fileTitle(source) + "\": files joined into one signal are counted once each");
    }
  }
  RainflowRun run;
  std::unique_ptr<ProgressBar> progress;
  const RainflowChannels channels = rainflowChannels(run, files, sources, channel, settings, check, true, progress);
  const ChannelListing& first = channels.mListings.front();
  for (std::size_t i = 1; i < files.size(); ++i) {
    const ChannelListing& listing = channels.mListings[i];
    const std::string unit = listing.mFunction.y_quantity_annotation.unit_label.in();
    if (listing.mSpacing != first.mSpacing || unit != run.mUnit) {
      throw UsageError("channel " + std::to_string(channel) + " of " + sources[i].mFile + " (every " +
                       mfNumberText(listing.mSpacing) + " s, in \"" + unit + "\") differs from that of " +
                       sources.front().mFile + " (every " + mfNumberText(first.mSpacing) + " s, in \"" + run.mUnit +
                       "\"): only files of one sampling and unit join into one signal");
    }
  }
  Analysis::CParallelRainflowCounter counter = Framework::mfRainflowCounter(channels.mSettings, threads);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (check) check(0);
    IDL::RealValues_var values = IDL::RealValues::_narrow(channels.mListings[i].mFunction.y_values.in());
    if (CORBA::is_nil(values)) {
      throw std::runtime_error("channel " + std::to_string(channel) + " of " + sources[i].mFile +
                               " has no values to read");
    }
    ChunkReader reader({values.in()}, 1, channels.mListings[i].mCount, 65536);
    while (const std::optional<ChunkRow> row = reader.mfNext()) {
      if (check) check(0);
      Framework::mpAddChunk(counter, row->mParts[0].in(), row->mCount);
      progress->mpAdvance(row->mCount);
    }
  }
  std::string names;
  for (const RainflowSource& source : sources) {
    names += (names.empty() ? "" : " + ") + source.mFile;
    run.mJoined.push_back(source.mFile);
  }
  RainflowFileCount count{{names, 1}, counter.mfFinish(), 0, ""};
  cutResidue(count);
  run.mTotal = count.mResult;
  run.mFiles.push_back(std::move(count));
  return run;
}

void mpPrintRainflow(std::ostream& out, const RainflowRun& run) {
  const Analysis::RainflowResult& r = run.mTotal;
  const Analysis::RainflowSettings& s = r.mSettings;
  out << "Rainflow count of channel " << run.mChannel << " (" << run.mLabel;
  if (!run.mUnit.empty()) out << ", " << run.mUnit;
  out << ") of ";
  if (!run.mJoined.empty()) {
    out << run.mFiles.front().mSource.mFile << ", joined into one signal\n";
  } else if (run.mFiles.size() == 1) {
    out << fileTitle(run.mFiles.front().mSource) << "\n";
  } else {
    out << run.mFiles.size() << " files\n";
  }
  out << "method " << (s.mMethod == Analysis::RainflowMethod::kFourPoint ? "four-point" : "ASTM E1049-85")
      << ", gate " << mfFigureText(s.mGate) << ", " << s.mClasses << " classes over [" << mfFigureText(s.mRangeMin) << ", "
      << mfFigureText(s.mRangeMax) << "] (width " << mfFigureText(r.mfClassWidth()) << ")\n";
  out << "values " << r.mValues << " (" << r.mNaN << " NaN, " << r.mInfinite << " infinite), reversals "
      << r.mReversals << ", cycles " << countText(r.mfTotalCycles()) << " (" << countText(r.mFullCycles)
      << " full, " << countText(2 * r.mHalfCycles) << " halves; " << countText(r.mResidueCycles)
      << " from the residue)\n";
  if (r.mOutside > 0) out << "cycles with an end outside the class range: " << countText(r.mOutside) << "\n";
  if (run.mFiles.size() > 1) {
    out << "\n";
    std::vector<std::string> header{"file", "repeats", "values", "reversals", "cycles"};
    std::vector<bool> right{false, true, true, true, true};
    for (double k : s.mSlopes) {
      header.push_back("D(k=" + mfFigureText(k) + ")");
      right.push_back(true);
    }
    CTextTable files(header, right);
    for (const RainflowFileCount& file : run.mFiles) {
      std::vector<std::string> row{file.mSource.mFile, countText(file.mSource.mRepeats),
                                   std::to_string(file.mResult.mValues), std::to_string(file.mResult.mReversals),
                                   countText(file.mResult.mfTotalCycles())};
      for (double d : file.mResult.mDamage) row.push_back(mfFigureText(d));
      files.mpAdd(row);
    }
    files.mpPrint(out);
  }
  out << "\n";
  CTextTable table({"bin", "range", "mean", "count", "cumulative"}, {true, false, true, true, true});
  const std::vector<double> exceedance = r.mfExceedance();
  const double width = r.mfClassWidth();
  for (std::size_t i = 0; i < r.mRangeCounts.size(); ++i) {
    if (r.mRangeCounts[i] == 0) continue;
    const std::string upper = i + 1 == r.mRangeCounts.size() ? "]" : ")";
    table.mpAdd({std::to_string(i + 1),
                 "[" + mfFigureText(static_cast<double>(i) * width) + ", " + mfFigureText(static_cast<double>(i + 1) * width) + upper,
                 mfFigureText(r.mRangeMeanSums[i] / r.mRangeCounts[i]), countText(r.mRangeCounts[i]),
                 countText(exceedance[i])});
  }
  table.mpPrint(out);
  out << "\ndamage";
  if (s.mReferenceRange != 1 || s.mReferenceCycles > 0) {
    out << " (S_ref " << mfFigureText(s.mReferenceRange);
    if (s.mReferenceCycles > 0) out << ", N_ref " << mfFigureText(s.mReferenceCycles);
    out << ")";
  }
  out << ":";
  for (std::size_t k = 0; k < r.mDamage.size(); ++k) {
    out << (k ? ", " : " ") << "k=" << mfFigureText(s.mSlopes[k]) << " " << mfFigureText(r.mDamage[k]);
  }
  out << "\n";
  for (const RainflowFileCount& file : run.mFiles) {
    const std::vector<double>& residue = file.mResult.mResidue;
    out << "residue";
    if (run.mFiles.size() > 1) out << " of " << file.mSource.mFile;
    out << ": " << file.mResidueLength << " reversals, " << countText(file.mResult.mResidueCycles) << " cycles";
    if (!residue.empty()) {
      out << ":";
      constexpr std::size_t kShown = 16;
      for (std::size_t i = 0; i < residue.size() && i < kShown; ++i) out << " " << mfFigureText(residue[i]);
      if (file.mResidueLength > kShown) out << " ...";
    }
    out << "\n";
  }
  if (!r.mCyclesComplete) {
    out << "the cycle list exceeds " << s.mMaxCycles << " distinct cycles: it is left out; the classes are complete\n";
  }
}

Json mfRainflowJson(const RainflowRun& run, bool perFile) {
  const Analysis::RainflowResult& r = run.mTotal;
  Json files = Json::array();
  for (const RainflowFileCount& file : run.mFiles) {
    Json entry{{"file", file.mSource.mFile}, {"repeats", mfJsonNumber(file.mSource.mRepeats)}};
    const Json reading = readingJson(file.mResult);
    for (const auto& item : reading.items()) entry[item.key()] = item.value();
    entry["damage"] = damageJson(file.mResult);
    entry["residue_length"] = file.mResidueLength;
    entry["residue"] = numbers(file.mResult.mResidue);
    if (perFile) {
      // What adds, once, without the repetitions: the client multiplies as it combines.
      const Analysis::RainflowResult& f = file.mResult;
      const unsigned n = f.mSettings.mClasses;
      entry["version"] = file.mVersion;
      Json matrix = Json::array();
      for (unsigned i = 0; i < n && f.mMatrix.size() == std::size_t{n} * n; ++i) {
        matrix.push_back(numbers(std::vector<double>(f.mMatrix.begin() + i * n, f.mMatrix.begin() + (i + 1) * n)));
      }
      entry["matrix"] = std::move(matrix);
      entry["range_counts"] = numbers(f.mRangeCounts);
      entry["range_mean_sums"] = numbers(f.mRangeMeanSums);
      entry["crossings"] = numbers(f.mCrossings);
    }
    files.push_back(std::move(entry));
  }
  Json total = readingJson(r);
  const unsigned n = r.mSettings.mClasses;
  total["class_width"] = mfJsonNumber(r.mfClassWidth());
  Json boundaries = Json::array();
  for (unsigned j = 0; j <= n; ++j) boundaries.push_back(mfJsonNumber(r.mfBoundary(j)));
  total["boundaries"] = std::move(boundaries);
  Json matrix = Json::array();
  for (unsigned i = 0; i < n && r.mMatrix.size() == std::size_t{n} * n; ++i) {
    matrix.push_back(numbers(std::vector<double>(r.mMatrix.begin() + i * n, r.mMatrix.begin() + (i + 1) * n)));
  }
  total["matrix"] = std::move(matrix);
  Json ranges = Json::array();
  const std::vector<double> exceedance = r.mfExceedance();
  for (std::size_t i = 0; i < r.mRangeCounts.size(); ++i) {
    const double count = r.mRangeCounts[i];
    ranges.push_back(Json{{"bin", i + 1},
                          {"from", mfJsonNumber(static_cast<double>(i) * r.mfClassWidth())},
                          {"to", mfJsonNumber(static_cast<double>(i + 1) * r.mfClassWidth())},
                          {"count", mfJsonNumber(count)},
                          {"mean", count > 0 ? mfJsonNumber(r.mRangeMeanSums[i] / count) : Json(nullptr)},
                          {"cumulative", mfJsonNumber(exceedance[i])}});
  }
  total["ranges"] = std::move(ranges);
  Json crossings = Json::array();
  for (std::size_t j = 0; j < r.mCrossings.size(); ++j) {
    crossings.push_back(Json{{"level", mfJsonNumber(r.mfBoundary(static_cast<unsigned>(j)))},
                             {"count", mfJsonNumber(r.mCrossings[j])}});
  }
  total["crossings"] = std::move(crossings);
  total["damage"] = damageJson(r);
  total["cycles_complete"] = r.mCyclesComplete;
  Json cycles = Json::array();
  for (const Analysis::RainflowCycle& c : r.mCycles) {
    cycles.push_back(Json{{"from", mfJsonNumber(c.mFrom)}, {"to", mfJsonNumber(c.mTo)}, {"count", mfJsonNumber(c.mCount)}});
  }
  total["cycles"] = std::move(cycles);
  Json document{{"channel", run.mChannel},
                {"label", run.mLabel},
                {"unit", run.mUnit},
                {"settings", settingsJson(r.mSettings)},
                {"files", std::move(files)},
                {"total", std::move(total)}};
  if (!run.mJoined.empty()) document["joined"] = run.mJoined;
  return document;
}

void mpWriteMatrixCsv(std::ostream& out, const Analysis::RainflowResult& r) {
  const unsigned n = r.mSettings.mClasses;
  const double width = r.mfClassWidth();
  const auto middle = [&](unsigned i) { return mfNumberText(r.mSettings.mRangeMin + (i + 0.5) * width); };
  out << "from\\to";
  for (unsigned j = 0; j < n; ++j) out << "," << middle(j);
  out << "\n";
  for (unsigned i = 0; i < n && r.mMatrix.size() == std::size_t{n} * n; ++i) {
    out << middle(i);
    for (unsigned j = 0; j < n; ++j) out << "," << mfNumberText(r.mMatrix[std::size_t{i} * n + j]);
    out << "\n";
  }
}

}  // namespace TamblixHq::NODRA::Client
