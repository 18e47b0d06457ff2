// nodra._native: the client code bound for Python. A Session reads local files in this
// process (an ORB of its own serves them, as nodra-browse does) or the files of a
// nodra-server over IIOP; a NativeFile gives its listing, values, statistics and counts as
// the viewer's routes give them, so that the Python classes above it are the same for
// every route. Values are read with the interpreter's lock released, straight into the
// array that Python receives.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Rainflow.h"
#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/ChannelRainflow.h"
#include "clients/cpp/ChannelStats.h"
#include "clients/cpp/FileListing.h"
#include "clients/cpp/FileSource.h"
#include "clients/cpp/ListingOutput.h"
#include "clients/cpp/ClientSession.h"

namespace py = pybind11;

namespace {

namespace Client = ::TamblixHq::NODRA::Client;
namespace Analysis = ::TamblixHq::NODRA::Analysis;
namespace IDL = ::TAMBLIX::NODRA::Framework;

// The Python classes errors are raised as, given by the package when it loads.
struct ErrorClasses {
  py::object mUsage, mData, mConnection;
};
ErrorClasses& errorClasses() {
  static ErrorClasses* classes = new ErrorClasses();  // lives as long as the interpreter
  return *classes;
}

void raise(const py::object& type, const py::tuple& arguments) { PyErr_SetObject(type.ptr(), arguments.ptr()); }

// Each exception of the client code as the package's error of its kind.
void translate(std::exception_ptr thrown) {
  const ErrorClasses& classes = errorClasses();
  try {
    std::rethrow_exception(thrown);
  } catch (const Client::UsageError& e) {
    raise(classes.mUsage, py::make_tuple(e.what()));
  } catch (const IDL::DBAccessException& e) {
    raise(classes.mData, py::make_tuple(e.message.in(), e.reason.in(), e.place.in()));
  } catch (const IDL::MemAllocException& e) {
    raise(classes.mData, py::make_tuple(e.message.in(), e.reason.in(), e.place.in()));
  } catch (const Client::ListingTooLarge& e) {
    raise(classes.mData, py::make_tuple(e.what()));
  } catch (const Client::Unreachable& e) {
    raise(classes.mConnection, py::make_tuple(e.what()));
  } catch (const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    raise(classes.mData, py::make_tuple(std::string("the data server failed: ") + e._name() + " (" +
                                        (minor ? minor : "no detail") + ")"));
  } catch (const CORBA::Exception& e) {
    raise(classes.mData, py::make_tuple(std::string(e._name())));
  } catch (const std::invalid_argument& e) {
    raise(classes.mUsage, py::make_tuple(e.what()));
  } catch (const std::bad_alloc&) {
    PyErr_SetString(PyExc_MemoryError, "not enough memory for the values asked for");
  } catch (const std::exception& e) {
    raise(classes.mData, py::make_tuple(e.what()));
  }
}

// Runs `work` without the interpreter's lock, the session's errors turned into their
// sentences (unreachable servers, timeouts) first.
template <class Work>
auto released(Client::ClientSession& session, Work work) {
  py::gil_scoped_release unlocked;
  return session.mfGuard(work);
}

// Values a call when Python reads: as large as a reply may be without waiting for a slot of
// the large replies (1 MiB of float32), so that a whole channel costs few calls.
constexpr CORBA::ULong kReadChunk = 256 * 1024;

py::object pythonOfJson(const std::string& json) { return py::module_::import("json").attr("loads")(json); }

// A file as the package reads it: its listing read once, its channels read by number.
class NativeFile {
public:
  NativeFile(std::shared_ptr<Client::ClientSession> session, std::string path)
      : mSession(std::move(session)), mPath(std::move(path)) {
    released(*mSession, [&] {
      mFile = mSession->mfOpen(mPath);
      mListing = Client::mfReadListing(mFile.in());
      mDocument = Client::mfListingJson(mListing);
      mDocument["path"] = mPath;
      return 0;
    });
  }

  py::object mfDocument() const { return pythonOfJson(mDocument.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)); }

  // Values `first` (from 0) to `first + count` of the channels `numbers`: a float32 array,
  // one column each (column after column in memory) or 1-D for one channel.
  py::array mfRead(const std::vector<CORBA::ULong>& numbers, std::uint64_t first, std::uint64_t count) {
    const std::vector<const Client::ChannelListing*> channels = mfChannels(numbers);
    Client::mpRequireCommonTimeBase(channels);
    if (first > channels[0]->mCount || count > channels[0]->mCount - first) {
      throw Client::UsageError("values " + std::to_string(first) + " to " + std::to_string(first + count) +
                               " lie beyond the " + std::to_string(channels[0]->mCount) + " of channel " +
                               std::to_string(channels[0]->mNumber));
    }
    const Client::ValueSelection selection{static_cast<CORBA::ULong>(first + 1), static_cast<CORBA::ULong>(count)};
    py::array_t<float, py::array::f_style> values =
        channels.size() == 1 ? py::array_t<float, py::array::f_style>(static_cast<py::ssize_t>(count))
                             : py::array_t<float, py::array::f_style>(
                                   {static_cast<py::ssize_t>(count), static_cast<py::ssize_t>(channels.size())});
    char* into = reinterpret_cast<char*>(values.mutable_data());
    const std::size_t length = 4 * count * channels.size();
    std::size_t filled = 0;
    released(*mSession, [&] {
      Client::mpWriteFloat32(
          [&](const char* bytes, std::size_t size) {
            if (size > length - filled) throw std::runtime_error("the server answered more values than asked for");
            std::memcpy(into + filled, bytes, size);
            filled += size;
          },
          channels, selection, kReadChunk);
      return 0;
    });
    if (filled != length) throw std::runtime_error("the values of " + mPath + " ended early");
    return std::move(values);
  }

  // The values whose times lie in [t0, t1] (either may be None): (first from 0, count).
  py::tuple mfSelect(const std::vector<CORBA::ULong>& numbers, std::optional<double> t0, std::optional<double> t1) {
    const std::vector<const Client::ChannelListing*> channels = mfChannels(numbers);
    Client::mpRequireCommonTimeBase(channels);
    Client::ValueRequest request;
    request.mFrom = t0;
    request.mTo = t1;
    const Client::ValueSelection selection = Client::mfSelectValues(*channels[0], request, "start");
    return py::make_tuple(std::uint64_t{selection.mStart} - 1, selection.mCount);
  }

  py::object mfStats(const std::vector<CORBA::ULong>& numbers) {
    const std::vector<const Client::ChannelListing*> channels = mfChannels(numbers);
    const std::string json = released(*mSession, [&] {
      nlohmann::ordered_json reply{{"path", mPath}};
      reply["channels"] = Client::mfStatsJson(channels, Client::mfReadStats(channels))["channels"];
      return reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    });
    return pythonOfJson(json);
  }

  const std::string& mfPath() const { return mPath; }

private:
  std::vector<const Client::ChannelListing*> mfChannels(const std::vector<CORBA::ULong>& numbers) const {
    if (numbers.empty()) throw Client::UsageError("no channel asked for");
    Client::mpRefuseRepeatedChannels(numbers);
    std::vector<const Client::ChannelListing*> channels;
    for (CORBA::ULong number : numbers) {
      if (number < 1 || number > mListing.mChannels.size()) {
        throw Client::NoSuchChannel("channel " + std::to_string(number) + " does not exist (the file has " +
                                    std::to_string(mListing.mChannels.size()) + " channels)");
      }
      channels.push_back(&mListing.mChannels[number - 1]);
    }
    return channels;
  }

  std::shared_ptr<Client::ClientSession> mSession;
  std::string mPath;
  IDL::File_var mFile;
  Client::FileListing mListing;
  nlohmann::ordered_json mDocument;
};

// Rainflow settings from the package's keyword arguments (None: the default).
Analysis::RainflowSettings rainflowSettings(const py::dict& options) {
  Analysis::RainflowSettings settings;
  for (const auto& [key, value] : options) {
    if (value.is_none()) continue;
    const std::string name = py::str(key);
    if (name == "classes") {
      settings.mClasses = value.cast<unsigned>();
    } else if (name == "range") {
      const std::vector<double> range = value.cast<std::vector<double>>();
      if (range.size() != 2) throw Client::UsageError("range is (MIN, MAX)");
      settings.mHasRange = true;
      settings.mRangeMin = range[0];
      settings.mRangeMax = range[1];
    } else if (name == "gate") {
      settings.mGate = value.cast<double>();
    } else if (name == "method") {
      const std::string method = value.cast<std::string>();
      if (method != "astm" && method != "four-point") {
        throw Client::UsageError("method is \"astm\" or \"four-point\", not \"" + method + "\"");
      }
      settings.mMethod = method == "astm" ? Analysis::RainflowMethod::kAstm : Analysis::RainflowMethod::kFourPoint;
    } else if (name == "slopes") {
      settings.mSlopes = value.cast<std::vector<double>>();
    } else if (name == "reference_range") {
      settings.mReferenceRange = value.cast<double>();
    } else if (name == "reference_cycles") {
      settings.mReferenceCycles = value.cast<double>();
    } else if (name == "max_cycles") {
      settings.mMaxCycles = value.cast<std::size_t>();
    } else if (name == "join") {
      continue;  // how the files are counted, not a setting
    } else {
      throw Client::UsageError("rainflow takes no option \"" + name + "\"");
    }
  }
  const std::string problem = Analysis::mfSettingsProblem(settings);
  if (!problem.empty()) throw Client::UsageError(problem);
  return settings;
}

}  // namespace

PYBIND11_MODULE(_native, module) {
  module.doc() = "The nodra client code in process: local files and nodra-server over IIOP.";
  module.def("set_errors", [](py::object usage, py::object data, py::object connection) {
    errorClasses() = ErrorClasses{std::move(usage), std::move(data), std::move(connection)};
  });
  py::register_exception_translator(translate);

  py::class_<Client::ClientSession, std::shared_ptr<Client::ClientSession>>(module, "Session")
      .def_static("local", [] { return Client::ClientSession::sfLocal(); },
                  "The session of local files, served in this process.")
      .def_static(
          "remote",
          [](const std::string& url) {
            py::gil_scoped_release unlocked;
            return Client::ClientSession::sfRemote(url);
          },
          "The session of the nodra-server at `url` (corbaloc::HOST:PORT/NodraServer, corbaname:... or IOR:...).")
      .def_property_readonly("url", &Client::ClientSession::mfUrl)
      .def("list",
           [](Client::ClientSession& session, const std::string& directory) {
             return pythonOfJson(released(session, [&] { return session.mfListJson(directory); }));
           })
      .def("open",
           [](std::shared_ptr<Client::ClientSession> session, const std::string& path) {
             return std::make_unique<NativeFile>(session, path);
           })
      .def("rainflow", [](Client::ClientSession& session, const std::vector<std::string>& sources,
                          CORBA::ULong channel, const py::dict& options) {
        const Analysis::RainflowSettings settings = rainflowSettings(options);
        const bool join = options.contains("join") && py::bool_(options["join"]);
        return pythonOfJson(released(session, [&] {
          std::vector<Client::RainflowSource> parsedSources;
          std::vector<IDL::File_var> files;
          for (const std::string& text : sources) {
            parsedSources.push_back(Client::mfParseRainflowSource(text));
            files.push_back(session.mfOpen(parsedSources.back().mFile));
          }
          const Client::RainflowRun run =
              join ? Client::mfCountRainflowJoined(files, parsedSources, channel, settings, 0)
                   : Client::mfCountRainflow(files, parsedSources, channel, settings);
          return Client::mfRainflowJson(run).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        }));
      });

  py::class_<NativeFile>(module, "NativeFile")
      .def_property_readonly("path", &NativeFile::mfPath)
      .def("document", &NativeFile::mfDocument, "The listing, as the viewer's /api/file gives it.")
      .def("read", &NativeFile::mfRead, py::arg("numbers"), py::arg("first"), py::arg("count"))
      .def("select", &NativeFile::mfSelect, py::arg("numbers"), py::arg("t0"), py::arg("t1"))
      .def("stats", &NativeFile::mfStats, py::arg("numbers"));
}
