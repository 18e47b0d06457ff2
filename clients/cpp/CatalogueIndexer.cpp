#include "clients/cpp/CatalogueIndexer.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "clients/cpp/ListingOutput.h"

namespace TamblixHq::NODRA::Client {

namespace {

using Json = nlohmann::ordered_json;

// A file to look at: where it lies, as the root object names it.
struct FileTask {
  std::string mAccessPoint;
  std::string mSubDirectory;
  std::string mName;
  std::string mfPath() const { return mSubDirectory.empty() ? mName : mSubDirectory + "/" + mName; }
};

// The tasks the walk finds, handed to the readers; bounded, so that the walk waits for them.
class CTaskQueue {
public:
  explicit CTaskQueue(std::size_t capacity) : mCapacity(capacity) {}
  void mpPush(FileTask task) {
    std::unique_lock<std::mutex> lock(mMutex);
    mRoom.wait(lock, [&] { return mTasks.size() < mCapacity; });
    mTasks.push_back(std::move(task));
    mReady.notify_one();
  }
  void mpClose() {
    std::lock_guard<std::mutex> lock(mMutex);
    mClosed = true;
    mReady.notify_all();
  }
  std::optional<FileTask> mfPop() {
    std::unique_lock<std::mutex> lock(mMutex);
    mReady.wait(lock, [&] { return mClosed || !mTasks.empty(); });
    if (mTasks.empty()) return std::nullopt;
    FileTask task = std::move(mTasks.front());
    mTasks.pop_front();
    mRoom.notify_one();
    return task;
  }

private:
  const std::size_t mCapacity;
  std::mutex mMutex;
  std::condition_variable mReady, mRoom;
  std::deque<FileTask> mTasks;
  bool mClosed = false;
};

std::string annotationText(const Json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

// "L1 M1 T-2" from the listing's quantity terms ([exponent numerator, denominator, name]).
std::string unitTerms(const Json& channel) {
  std::string text;
  const Json terms = channel.value("quantity", Json::object()).value("terms", Json::array());
  for (const Json& term : terms) {
    if (!term.is_array() || term.size() != 3) continue;
    const std::string name = term[2].get<std::string>();
    text += (text.empty() ? "" : " ") + name.substr(0, 1) + std::to_string(term[0].get<int>());
    if (term[1].get<int>() != 1) text += "/" + std::to_string(term[1].get<int>());
  }
  return text;
}

double number(const Json& value) {
  if (value.is_number()) return value.get<double>();
  if (value.is_string()) return std::stod(value.get<std::string>());  // "inf", "nan"
  return std::numeric_limits<double>::quiet_NaN();
}

// The version of a file as the server keys it: its object identifier's version field.
std::string versionOf(IDL::File_ptr file) { return IDL::ObjectId_var(file->get_object_id())->extension.in(); }

// The reason of what a file threw, in one sentence.
std::string failureText(std::exception_ptr thrown) {
  try {
    std::rethrow_exception(thrown);
  } catch (const IDL::DBAccessException& e) {
    return std::string(e.message.in()) + " (" + e.reason.in() + ")";
  } catch (const IDL::MemAllocException& e) {
    return e.message.in();
  } catch (const CORBA::Exception& e) {
    return e._name();
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace

Catalogue::FileEntry mfCatalogueEntry(const std::string& accessPoint, const std::string& path,
                                      const std::string& version, const FileListing& listing,
                                      const std::vector<ChannelStats>& stats) {
  Catalogue::FileEntry entry;
  entry.mAccessPoint = accessPoint;
  entry.mPath = path;
  entry.mVersion = version;
  const Json document = mfListingJson(listing);
  for (const Json& annotation : document["file"]["annotations"]) {
    entry.mAnnotations.push_back({annotation["name"].get<std::string>(), annotation["type"].get<std::string>(),
                                  annotationText(annotation["value"])});
    if (annotation.contains("iso8601")) entry.mRecorded = annotation["iso8601"].get<std::string>();
  }
  std::size_t i = 0;
  for (const Json& channel : document["channels"]) {
    Catalogue::ChannelEntry c;
    c.mNumber = channel["number"].get<std::int64_t>();
    c.mLabel = channel["label"].get<std::string>();
    c.mUnit = channel["unit"].get<std::string>();
    c.mUnitTerms = unitTerms(channel);
    const Json record = channel.value("function_record", Json::object());
    c.mRate = number(record.value("sampling_frequency", Json()));
    c.mPoint = record.value("point", "");
    c.mDirection = mfDirectionText(
        static_cast<IDL::MeasurementFunctionRecord::PointDirectionEnum>(record.value("direction", 0)));
    c.mValues = channel["values"]["count"].get<std::uint64_t>();
    c.mFirstTime = number(channel["values"]["first"]);
    c.mSpacing = number(channel["values"]["spacing"]);
    if (i < stats.size()) {
      const ChannelStats& s = stats[i];
      c.mStats = {s.mCount, s.mNaN, s.mMin, s.mMax, s.mMean, s.mRms, s.mSum, s.mSumSquares};
    }
    entry.mChannels.push_back(std::move(c));
    ++i;
  }
  return entry;
}

IndexReport mfIndexAccessPoints(IDL::DataServer_ptr root, const std::string& catalogueUrl,
                                const std::vector<std::string>& accessPoints, const IndexSettings& settings) {
  std::vector<std::string> points = accessPoints;
  if (points.empty()) {
    IDL::StringSeq_var all = root->list_access_points();
    for (CORBA::ULong i = 0; i < all->length(); ++i) points.emplace_back(all[i].in());
  }
  const unsigned threads = std::max(1u, settings.mThreads);
  const auto stopped = [&] { return settings.mStop && settings.mStop->load(); };
  IndexReport report;
  std::mutex reportMutex;
  std::exception_ptr catalogueFailure;
  CTaskQueue tasks(2 * threads);
  const auto count = [&](std::uint64_t IndexReport::*figure) {
    std::lock_guard<std::mutex> lock(reportMutex);
    ++(report.*figure);
    if (settings.mProgress) settings.mProgress(report);
  };

  // Each reader: its own catalogue connection; a file whose version is recorded already is
  // passed over, any other is read whole and recorded, its failure recorded as its error.
  const auto read = [&] {
    std::unique_ptr<Catalogue::CCatalogue> catalogue;
    try {
      catalogue = Catalogue::mfOpenCatalogue(catalogueUrl);
    } catch (...) {
      std::lock_guard<std::mutex> lock(reportMutex);
      if (!catalogueFailure) catalogueFailure = std::current_exception();
    }
    while (std::optional<FileTask> task = tasks.mfPop()) {
      if (!catalogue || stopped()) continue;
      const std::string path = task->mfPath();
      std::string version;
      try {
        IDL::File_var file =
            root->open_file(task->mAccessPoint.c_str(), task->mSubDirectory.c_str(), task->mName.c_str());
        version = versionOf(file.in());
        if (catalogue->mfVersionOf(task->mAccessPoint, path) == version) {
          count(&IndexReport::mUnchanged);
          continue;
        }
        const FileListing listing = mfReadListing(file.in());
        const std::vector<ChannelStats> stats = mfReadStats(mfPointersTo(listing.mChannels));
        Catalogue::FileEntry entry = mfCatalogueEntry(task->mAccessPoint, path, version, listing, stats);
        entry.mServedBy = settings.mServedBy;
        catalogue->mpPut(entry);
        count(&IndexReport::mIndexed);
      } catch (const Catalogue::CatalogueError&) {
        std::lock_guard<std::mutex> lock(reportMutex);
        if (!catalogueFailure) catalogueFailure = std::current_exception();
      } catch (...) {
        Catalogue::FileEntry failed;
        failed.mAccessPoint = task->mAccessPoint;
        failed.mPath = path;
        failed.mVersion = version;
        failed.mError = failureText(std::current_exception());
        failed.mServedBy = settings.mServedBy;
        try {
          catalogue->mpPut(failed);
          count(&IndexReport::mFailed);
        } catch (...) {
          std::lock_guard<std::mutex> lock(reportMutex);
          if (!catalogueFailure) catalogueFailure = std::current_exception();
        }
      }
    }
  };
  std::vector<std::thread> readers;
  for (unsigned i = 0; i < threads; ++i) readers.emplace_back(read);

  // The walk, a directory at a time; each access point's paths kept for the removal.
  std::map<std::string, std::vector<std::string>> present;
  std::exception_ptr walkFailure;
  try {
    for (const std::string& point : points) {
      std::vector<std::string>& paths = present[point];
      std::deque<std::string> directories{""};
      while (!directories.empty() && !stopped()) {
        const std::string sub = directories.front();
        directories.pop_front();
        IDL::StringSeq_var subDirectories = root->list_directories(point.c_str(), sub.c_str());
        for (CORBA::ULong i = 0; i < subDirectories->length(); ++i) {
          directories.push_back(sub.empty() ? std::string(subDirectories[i].in()) : sub + "/" + subDirectories[i].in());
        }
        IDL::StringSeq_var files = root->list_files(point.c_str(), sub.c_str());
        for (CORBA::ULong i = 0; i < files->length() && !stopped(); ++i) {
          FileTask task{point, sub, files[i].in()};
          paths.push_back(task.mfPath());
          count(&IndexReport::mSeen);
          tasks.mpPush(std::move(task));
        }
      }
    }
  } catch (...) {
    walkFailure = std::current_exception();
  }
  tasks.mpClose();
  for (std::thread& reader : readers) reader.join();
  if (catalogueFailure) std::rethrow_exception(catalogueFailure);
  if (walkFailure) std::rethrow_exception(walkFailure);
  if (!stopped()) {
    std::unique_ptr<Catalogue::CCatalogue> catalogue = Catalogue::mfOpenCatalogue(catalogueUrl);
    for (const auto& [point, paths] : present) report.mRemoved += catalogue->mpRemoveOthers(point, paths);
    if (settings.mProgress) settings.mProgress(report);
  }
  return report;
}

}  // namespace TamblixHq::NODRA::Client
