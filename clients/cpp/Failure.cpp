#include "clients/cpp/Failure.h"

#include <new>
#include <stdexcept>

#include "catalogue/Catalogue.h"
#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/FileListing.h"
#include "clients/cpp/FileSource.h"
#include "host/framework/CHostOrb.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Client {

namespace {

Failure dataFailure(const char* message, const char* reason, const char* place) {
  return {FailureKind::kData, message ? message : "", reason ? reason : "", place ? place : ""};
}

std::string serverName(const FailureContext& context) {
  return context.mServer.empty() ? "the data server" : "the server at " + context.mServer;
}

std::string unreachable(const CORBA::SystemException& e, bool timedOut, const FailureContext& context) {
  if (timedOut || Framework::CHostOrb::sfIsTimeout(e)) {
    return serverName(context) + " did not answer within " + std::to_string(context.mTimeoutSeconds) +
           " s (--timeout)";
  }
  return "cannot reach " + serverName(context) + ": is it running?";
}

}  // namespace

Failure mfClassifyFailure(std::exception_ptr error, const FailureContext& context) {
  try {
    std::rethrow_exception(error);
  } catch (const NoSuchChannel& e) {
    return {FailureKind::kNotFound, e.what(), "", ""};
  } catch (const UsageError& e) {
    return {FailureKind::kUsage, e.what(), "", ""};
  } catch (const OutputError& e) {
    return {e.mfReaderLeft() ? FailureKind::kOutputClosed : FailureKind::kInternal, e.what(), "", ""};
  } catch (const OpenError& e) {
    return {FailureKind::kData, e.what(), "", ""};
  } catch (const ListingTooLarge& e) {
    return {FailureKind::kData, e.what(), "", ""};
  } catch (const Catalogue::CatalogueError& e) {
    return {FailureKind::kUnavailable, e.what(), "", ""};
  } catch (const IDL::DBAccessException& e) {
    return dataFailure(e.message, e.reason, e.place);
  } catch (const IDL::MemAllocException& e) {
    return dataFailure(e.message, e.reason, e.place);
  } catch (const CORBA::TIMEOUT& e) {
    return {FailureKind::kUnreachable, unreachable(e, true, context), "", ""};
  } catch (const CORBA::TRANSIENT& e) {
    return {FailureKind::kUnreachable, unreachable(e, false, context), "", ""};
  } catch (const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    return {FailureKind::kServer,
            serverName(context) + " failed: " + e._name() + " (" + (minor ? minor : "no detail") + ")", "", ""};
  } catch (const CORBA::Exception& e) {
    return {FailureKind::kInternal, e._name(), "", ""};
  } catch (const std::bad_alloc&) {
    return {FailureKind::kUnavailable, "not enough memory for what was asked", "", ""};
  } catch (const std::exception& e) {
    return {FailureKind::kInternal, e.what(), "", ""};
  } catch (...) {
    return {FailureKind::kInternal, "an unknown failure", "", ""};
  }
}

int mfExitStatus(FailureKind kind) {
  return kind == FailureKind::kUsage || kind == FailureKind::kNotFound ? 2 : 1;
}

std::string mfFailureLine(const Failure& failure, bool verbose) {
  std::string line = failure.mMessage;
  // A data error's reason often repeats its message's tail ("Unable to open X: no such file"
  // with reason "no such file").
  if (!failure.mReason.empty() && line.find(failure.mReason) == std::string::npos) {
    line += " (reason: " + failure.mReason + ")";
  }
  if (verbose && !failure.mPlace.empty()) line += " [at " + failure.mPlace + "]";
  return line;
}

}  // namespace TamblixHq::NODRA::Client
