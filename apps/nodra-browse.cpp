// nodra-browse: lists an RPC III file's channels and exports a channel's values.
//
//   nodra-browse FILE                       file annotations and the table of channels
//   nodra-browse dump FILE --channel N      time,value CSV of a channel
//
// By default the file is served by an ORB inside this process; --server URL browses the
// files of a running nodra-server instead (FILE is then ACCESS_POINT/NAME).

#include <CLI/CLI.hpp>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "host/framework/CHostOrb.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CLoggerU.h"
#include "rpc3/servants/RPC3Registration.h"

namespace {

namespace FW = TamblixHq::NODRA::Framework;
namespace IDL = ::TAMBLIX::NODRA::Framework;
namespace fs = std::filesystem;

struct Options {
  std::string file;
  std::string server;
  bool json = false;
  unsigned channel = 0;
  unsigned long start = 1;
  unsigned long count = 0;  // 0: to the end
  unsigned long chunk = 65536;
};

std::string annotationText(const IDL::DSVariantUnion& value) {
  switch (value._d()) {
    case 0: return value.bool_value() ? "true" : "false";
    case 2: return std::to_string(value.short_value());
    case 3: return std::to_string(value.long_value());
    case 5: {
      char text[64];
      std::snprintf(text, sizeof text, "%.9g", value.double_value());
      return text;
    }
    case 6: return static_cast<const char*>(value.string_value());
    default: return "";
  }
}

std::string annotation(const IDL::AnnotationSeq& all, const char* name) {
  for (CORBA::ULong i = 0; i < all.length(); ++i) {
    if (std::string(all[i].definition.name) == name) return annotationText(all[i].value);
  }
  return "";
}

// The file object: through the embedded ORB's root or the remote server's.
IDL::File_ptr openFile(FW::CHostOrb& orb, const Options& options) {
  if (options.server.empty()) {
    fs::path path = fs::absolute(options.file);
    TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(
        "local", path.parent_path().string());
    FW::CDataServerImpl& server = orb.mpServeDataObjects({});
    TamblixHq::NODRA::Drivers::RPC3::registerRPC3Types(*FW::CResolverImpl::sfGetResolverImpl(),
                                                       &server);
    orb.mpActivate();
    IDL::DataServer_var local = orb.mfGetRoot();
    return local->open_file("local", "", path.filename().string().c_str());
  }
  CORBA::Object_var object = orb.mfOrb()->string_to_object(options.server.c_str());
  IDL::DataServer_var remote = IDL::DataServer::_narrow(object);
  std::size_t slash = options.file.find('/');
  std::string point = slash == std::string::npos ? "" : options.file.substr(0, slash);
  std::string name = slash == std::string::npos ? options.file : options.file.substr(slash + 1);
  return remote->open_file(point.c_str(), "", name.c_str());
}

int list(IDL::File_ptr file, const Options& options) {
  IDL::AnnotationSeq_var fileAnnotations = file->get_all_annotations();
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  nlohmann::json out;
  out["file"] = options.file;
  out["channels"] = nlohmann::json::array();
  for (CORBA::ULong i = 0; i < children->length(); ++i) {
    IDL::Function2D_var channel = IDL::Function2D::_narrow(children[i].reference);
    IDL::AnnotationSeq_var a = channel->get_all_annotations();
    IDL::FunctionValues_var y = channel->get_values_by_index(0, IDL::Y);
    IDL::FunctionValues_var x = channel->get_values_by_index(0, IDL::X);
    IDL::EquidistantValues_var time = IDL::EquidistantValues::_narrow(x);
    double spacing = CORBA::is_nil(time) ? 0 : time->get_equidistant_value_annotation().spacing;
    out["channels"].push_back({{"number", std::stoul(std::string(children[i].id.index))},
                               {"description", annotation(a.in(), "description")},
                               {"units", annotation(a.in(), "units")},
                               {"scale", annotation(a.in(), "scale")},
                               {"lower_limit", annotation(a.in(), "lower_limit")},
                               {"upper_limit", annotation(a.in(), "upper_limit")},
                               {"values", CORBA::is_nil(y) ? 0u : y->get_number_of_values()},
                               {"sampling_rate_hz", spacing > 0 ? 1.0 / spacing : 0.0}});
  }
  for (CORBA::ULong i = 0; i < fileAnnotations->length(); ++i) {
    out["annotations"][static_cast<const char*>(fileAnnotations[i].definition.name)] =
        annotationText(fileAnnotations[i].value);
  }
  if (options.json) {
    std::cout << out.dump(2) << "\n";
    return 0;
  }
  std::cout << options.file << ": " << children->length() << " channels\n";
  for (auto& [name, value] : out["annotations"].items()) {
    std::cout << "  " << name << ": " << value.get<std::string>() << "\n";
  }
  std::printf("%4s  %-32s %-8s %10s %8s %8s %12s %10s\n", "#", "description", "unit", "scale",
              "lower", "upper", "values", "rate [Hz]");
  for (auto& c : out["channels"]) {
    std::printf("%4lu  %-32s %-8s %10s %8s %8s %12lu %10.6g\n", c["number"].get<unsigned long>(),
                c["description"].get<std::string>().c_str(), c["units"].get<std::string>().c_str(),
                c["scale"].get<std::string>().c_str(), c["lower_limit"].get<std::string>().c_str(),
                c["upper_limit"].get<std::string>().c_str(), c["values"].get<unsigned long>(),
                c["sampling_rate_hz"].get<double>());
  }
  return 0;
}

int dump(IDL::File_ptr file, const Options& options) {
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  if (options.channel == 0 || options.channel > children->length()) {
    std::cerr << "nodra-browse: channel " << options.channel << " does not exist (the file has "
              << children->length() << " channels)\n";
    return 2;
  }
  IDL::Function2D_var channel = IDL::Function2D::_narrow(children[options.channel - 1].reference);
  IDL::FunctionValues_var yv = channel->get_values_by_index(0, IDL::Y);
  IDL::FunctionValues_var xv = channel->get_values_by_index(0, IDL::X);
  IDL::RealValues_var y = IDL::RealValues::_narrow(yv);
  IDL::RealValues_var x = IDL::RealValues::_narrow(xv);
  const unsigned long total = y->get_number_of_values();
  const unsigned long first = std::max(1ul, options.start);
  // The count may be anything a user types: clip without overflowing.
  const unsigned long last =
      options.count == 0 || options.count - 1 >= total - std::min(first, total)
          ? total
          : first + options.count - 1;
  std::printf("time,value\n");
  for (unsigned long start = first; start <= last; start += options.chunk) {
    CORBA::ULong n = static_cast<CORBA::ULong>(std::min(options.chunk, last - start + 1));
    IDL::RealValueSeqUnion_var t = x->get_value_chunk(start, n);
    IDL::RealValueSeqUnion_var v = y->get_value_chunk(start, n);
    const IDL::DoubleSeq& times = t->double_sequence();
    const IDL::FloatSeq& values = v->float_sequence();
    // Shortest texts that read back as the same double and float.
    char line[80];
    for (CORBA::ULong i = 0; i < values.length(); ++i) {
      char* end = std::to_chars(line, line + 32, times[i]).ptr;
      *end++ = ',';
      end = std::to_chars(end, line + 64, values[i]).ptr;
      *end++ = '\n';
      std::fwrite(line, 1, static_cast<std::size_t>(end - line), stdout);
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments, orbArguments;
  FW::CHostOrb::sfSplitArguments(argc, argv, arguments, orbArguments);
  Options options;
  CLI::App app{"Lists the channels of an RPC III file and exports their values."};
  app.add_option("file", options.file, "RPC III file (with --server: ACCESS_POINT/NAME)");
  app.add_flag("--json", options.json, "machine-readable output");
  app.add_option("--server", options.server, "browse a running server, e.g. corbaloc::host:2810/NodraServer");
  CLI::App* dumpCommand = app.add_subcommand("dump", "time,value CSV of one channel");
  dumpCommand->add_option("file", options.file, "RPC III file")->required();
  dumpCommand->add_option("-c,--channel", options.channel, "channel number, from 1")->required();
  dumpCommand->add_option("--start", options.start, "first value, from 1");
  dumpCommand->add_option("--count", options.count, "number of values (default: to the end)");
  dumpCommand->add_option("--server", options.server, "browse a running server");
  app.footer(FW::CHostOrb::kOrbOptionsHelp);
  try {
    std::vector<const char*> programArgv;
    for (const std::string& argument : arguments) programArgv.push_back(argument.c_str());
    app.parse(static_cast<int>(programArgv.size()), programArgv.data());
    if (options.file.empty()) throw CLI::RequiredError("file");
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  // Servants report failures through the exception; the logger's copy would repeat it.
  TamblixHq::NODRA::Utility::CLoggerU::sfGetLoggerU(0)->mpSetEnabled(false);
  std::unique_ptr<FW::CHostOrb> orb;
  try {
    // The embedded objects need no network: listen on loopback only.
    FW::CHostOrb::Settings settings;
    settings.endpoint = "giop:tcp:127.0.0.1:";
    orb = std::make_unique<FW::CHostOrb>(arguments[0], orbArguments, settings);
  } catch (const CORBA::SystemException& e) {
    std::cerr << "nodra-browse: the ORB refused its options (" << e._name() << "); "
              << FW::CHostOrb::kOrbOptionsHelp << "\n";
    return 2;
  }
  int status = 1;
  try {
    IDL::File_var file = openFile(*orb, options);
    status = dumpCommand->parsed() ? dump(file, options) : list(file, options);
  } catch (const IDL::DBAccessException& e) {
    std::cerr << "nodra-browse: " << e.message << " (reason: " << e.reason << "; at " << e.place
              << ")\n";
  } catch (const IDL::MemAllocException& e) {
    std::cerr << "nodra-browse: " << e.message << " (reason: " << e.reason << "; at " << e.place
              << ")\n";
  } catch (const CORBA::TRANSIENT&) {
    std::cerr << "nodra-browse: cannot reach the server at " << options.server
              << ": is it running?\n";
  } catch (const CORBA::Exception& e) {
    std::cerr << "nodra-browse: " << e._name() << "\n";
  }
  return status;
}
