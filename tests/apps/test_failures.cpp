// The one classification of failures: each exception's kind, the programs' exit status, the
// routes' HTTP status and the line a program prints.

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <new>
#include <string>

#include "apps/web/RouteSupport.h"
#include "catalogue/Catalogue.h"
#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/Failure.h"
#include "clients/cpp/FileListing.h"

namespace {

namespace Client = TamblixHq::NODRA::Client;
namespace IDL = ::TAMBLIX::NODRA::Framework;
using Client::FailureKind;

struct Row {
  const char* mName;
  std::function<void()> mThrow;
  FailureKind mKind;
  int mExitStatus;
  int mHttpStatus;
  const char* mLine;         // without --verbose
  const char* mVerboseLine;  // with it
};

TEST(Failures, EachExceptionHasItsKindStatusesAndSentence) {
  const Row rows[] = {
      {"usage", [] { throw Client::UsageError("--range takes MIN,MAX"); }, FailureKind::kUsage, 2, 400,
       "--range takes MIN,MAX", "--range takes MIN,MAX"},
      {"no such channel", [] { throw Client::NoSuchChannel("channel 9 does not exist"); }, FailureKind::kNotFound, 2,
       404, "channel 9 does not exist", "channel 9 does not exist"},
      {"reason repeated", [] { throw IDL::DBAccessException("Unable to open a.rsp: no such file", "no such file", "X::open"); },
       FailureKind::kData, 1, 422, "Unable to open a.rsp: no such file", "Unable to open a.rsp: no such file [at X::open]"},
      {"reason adds", [] { throw IDL::DBAccessException("Unable to read a.rsp", "FORMAT missing", "R::read"); },
       FailureKind::kData, 1, 422, "Unable to read a.rsp (reason: FORMAT missing)",
       "Unable to read a.rsp (reason: FORMAT missing) [at R::read]"},
      {"local open", [] { throw Client::OpenError("Unable to open x: it is a directory"); }, FailureKind::kData, 1, 422,
       "Unable to open x: it is a directory", "Unable to open x: it is a directory"},
      {"too many channels", [] { throw Client::ListingTooLarge("2000000 channels"); }, FailureKind::kData, 1, 422,
       "2000000 channels", "2000000 channels"},
      {"unreachable", [] { throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO); }, FailureKind::kUnreachable, 1, 502,
       "cannot reach the server at corbaloc::h:1/S: is it running?",
       "cannot reach the server at corbaloc::h:1/S: is it running?"},
      {"timeout", [] { throw CORBA::TIMEOUT(0, CORBA::COMPLETED_NO); }, FailureKind::kUnreachable, 1, 502,
       "the server at corbaloc::h:1/S did not answer within 7 s (--timeout)",
       "the server at corbaloc::h:1/S did not answer within 7 s (--timeout)"},
      {"server failed", [] { throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO); }, FailureKind::kServer, 1, 502,
       "the server at corbaloc::h:1/S failed: MARSHAL (no detail)",
       "the server at corbaloc::h:1/S failed: MARSHAL (no detail)"},
      {"catalogue", [] { throw TamblixHq::NODRA::Catalogue::CatalogueError("database is locked"); },
       FailureKind::kUnavailable, 1, 503, "database is locked", "database is locked"},
      {"memory", [] { throw std::bad_alloc(); }, FailureKind::kUnavailable, 1, 503,
       "not enough memory for what was asked", "not enough memory for what was asked"},
      {"reader left", [] { throw Client::OutputError(EPIPE); }, FailureKind::kOutputClosed, 1, 503,
       "cannot write the output: Broken pipe", "cannot write the output: Broken pipe"},
      {"disk full", [] { throw Client::OutputError(ENOSPC); }, FailureKind::kInternal, 1, 500,
       "cannot write the output: No space left on device", "cannot write the output: No space left on device"},
      {"ours", [] { throw std::logic_error("a fault"); }, FailureKind::kInternal, 1, 500, "a fault", "a fault"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mName);
    std::exception_ptr error;
    try {
      row.mThrow();
    } catch (...) {
      error = std::current_exception();
    }
    const Client::Failure failure = Client::mfClassifyFailure(error, {"corbaloc::h:1/S", 7});
    EXPECT_EQ(failure.mKind, row.mKind);
    EXPECT_EQ(Client::mfExitStatus(failure.mKind), row.mExitStatus);
    EXPECT_EQ(TamblixHq::NODRA::Web::httpStatus(failure.mKind), row.mHttpStatus);
    EXPECT_EQ(Client::mfFailureLine(failure, false), row.mLine);
    EXPECT_EQ(Client::mfFailureLine(failure, true), row.mVerboseLine);
  }
}

TEST(Failures, TheViewerNamesItsOwnDataServerWithoutAUrl) {
  const auto line = [](std::exception_ptr e) {
    return Client::mfClassifyFailure(e, {"", 30}).mMessage;
  };
  EXPECT_EQ(line(std::make_exception_ptr(CORBA::TRANSIENT(0, CORBA::COMPLETED_NO))),
            "cannot reach the data server: is it running?");
}

// The CSV styles a command line or a query may ask for.
TEST(CsvStyle, DelimitersAndDecimalCommas) {
  struct Case {
    std::optional<std::string> mDelimiter;
    bool mComma;
    char mExpected;  // 0: refused
  };
  const Case cases[] = {{std::nullopt, false, ','}, {std::nullopt, true, ';'}, {";", false, ';'},
                        {"tab", true, '\t'},        {"|", true, '|'},         {",", true, 0},
                        {".", false, 0},            {"7", false, 0},          {"ab", false, 0},
                        {"", false, 0},             {"\"", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mDelimiter.value_or("(none)") + (c.mComma ? " with comma" : ""));
    if (c.mExpected == 0) {
      EXPECT_THROW(Client::mfCsvStyle(c.mDelimiter, c.mComma), Client::UsageError);
      continue;
    }
    const Client::CsvStyle style = Client::mfCsvStyle(c.mDelimiter, c.mComma);
    EXPECT_EQ(style.mDelimiter, c.mExpected);
    EXPECT_EQ(style.mDecimalComma, c.mComma);
  }
  EXPECT_EQ(Client::mfCsvCell("a;b", ';'), "\"a;b\"");
  EXPECT_EQ(Client::mfCsvCell("a,b", ';'), "a,b");
}

// Channel numbers and ranges need no listing (labels do: see the browse programs' tests).
TEST(ChannelNumbers, NumbersAndRangesInTheirOrder) {
  const auto numbers = [](std::vector<std::string> texts) {
    return Client::mfChannelNumbers(IDL::File::_nil(), "f.rsp", texts);
  };
  EXPECT_EQ(numbers({"3", "1-2", "5-5"}), (std::vector<CORBA::ULong>{3, 1, 2, 5}));
  for (const char* refused : {"3-1", "", "1-20000", "99999999999"}) {
    SCOPED_TRACE(refused);
    EXPECT_THROW(numbers({refused}), Client::UsageError);
  }
}

}  // namespace
