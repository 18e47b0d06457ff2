#include "clients/cpp/ChannelDump.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "clients/cpp/ChannelWindow.h"
#include "clients/cpp/ChunkReader.h"
#include "clients/cpp/FileSource.h"
#include "clients/cpp/ProgressBar.h"

namespace TamblixHq::NODRA::Client {

namespace {

// The values objects of `channels`, in order.
std::vector<IDL::RealValues_var> valuesOf(const std::vector<const ChannelListing*>& channels) {
  std::vector<IDL::RealValues_var> values;
  values.reserve(channels.size());
  for (const ChannelListing* channel : channels) {
    values.emplace_back(IDL::RealValues::_narrow(channel->mFunction.y_values));
    if (CORBA::is_nil(values.back())) {
      throw std::runtime_error("channel " + std::to_string(channel->mNumber) + " has no values to read");
    }
  }
  return values;
}

std::vector<IDL::RealValues_ptr> pointersTo(const std::vector<IDL::RealValues_var>& values) {
  std::vector<IDL::RealValues_ptr> pointers;
  for (const IDL::RealValues_var& v : values) pointers.push_back(v.in());
  return pointers;
}

// Value i of a part as the shortest text of the precision it came in.
char* writeValue(char* at, char* end, const IDL::RealValueSeqUnion& part, CORBA::ULong i) {
  return part._d() == IDL::DOUBLE_PRECISION ? std::to_chars(at, end, part.double_sequence()[i]).ptr
                                            : std::to_chars(at, end, part.float_sequence()[i]).ptr;
}

// Values [0, count) of a part as little-endian float32 bytes to `sink`, through `scratch`
// where they must be converted (doubles, or a big-endian host).
void sendFloat32(const ByteSink& sink, const IDL::RealValueSeqUnion& part, CORBA::ULong count,
                 std::vector<char>& scratch) {
  const bool doubles = part._d() == IDL::DOUBLE_PRECISION;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (!doubles) {
    sink(reinterpret_cast<const char*>(part.float_sequence().get_buffer()), 4 * static_cast<std::size_t>(count));
    return;
  }
#endif
  scratch.resize(4 * static_cast<std::size_t>(count));
  char* out = scratch.data();
  for (CORBA::ULong i = 0; i < count; ++i) {
    const float value = doubles ? static_cast<float>(part.double_sequence()[i]) : part.float_sequence()[i];
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int b = 0; b < 4; ++b) *out++ = static_cast<char>((bits >> (8 * b)) & 0xFF);
  }
  sink(scratch.data(), scratch.size());
}

// Turns lines of a row into text a piece at a time, two pieces at once when the machine has
// the cores: the caller formats one while a helper thread formats the next, and both are
// written in order. Shortest-text conversion is nearly all a dump's work, and the reading
// is already overlapped by the chunk reader. Pieces are bounded in bytes, so memory stays
// flat whatever the channels.
class PairedFormatter {
public:
  // Writes the text of lines [begin, end) from `at`; answers where the text ends.
  using Format = std::function<char*(CORBA::ULong begin, CORBA::ULong end, char* at)>;

  PairedFormatter(std::size_t longestLine)
      : mLongestLine(longestLine),
        mPieceLines(static_cast<CORBA::ULong>(std::max<std::size_t>(1, (std::size_t{1} << 20) / longestLine))),
        mParallel(std::thread::hardware_concurrency() > 1) {}
  ~PairedFormatter() {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mStopping = true;
    }
    mChanged.notify_all();
    if (mHelper.joinable()) mHelper.join();
  }
  PairedFormatter(const PairedFormatter&) = delete;
  PairedFormatter& operator=(const PairedFormatter&) = delete;

  // Formats lines [0, count) with `format` and sends the text to `sink` in line order.
  void mpWrite(CORBA::ULong count, const Format& format, const ByteSink& sink) {
    if (mOwn.size() < mPieceLines * mLongestLine) mOwn.resize(mPieceLines * mLongestLine);
    for (CORBA::ULong begin = 0; begin < count;) {
      const CORBA::ULong middle = begin + std::min(mPieceLines, count - begin);
      const CORBA::ULong end = middle + std::min(mPieceLines, count - middle);
      if (mParallel && end > middle) mpStart(format, middle, end);
      // Whatever happens here, the helper is done with the row before this returns.
      struct Wait {
        PairedFormatter& formatter;
        ~Wait() { formatter.mfFinish(); }
      } wait{*this};
      char* own = format(begin, middle, mOwn.data());
      sink(mOwn.data(), static_cast<std::size_t>(own - mOwn.data()));
      if (end > middle) {
        const std::size_t helped = mfFinish();
        if (mParallel) {
          sink(mHelped.data(), helped);
        } else {
          own = format(middle, end, mOwn.data());
          sink(mOwn.data(), static_cast<std::size_t>(own - mOwn.data()));
        }
      }
      begin = end;
    }
  }

private:
  void mpStart(const Format& format, CORBA::ULong begin, CORBA::ULong end) {
    if (mHelped.size() < mPieceLines * mLongestLine) mHelped.resize(mPieceLines * mLongestLine);
    if (!mHelper.joinable()) mHelper = std::thread([this] { mpHelp(); });
    std::lock_guard<std::mutex> lock(mMutex);
    mJob = Job{&format, begin, end};
    mChanged.notify_all();
  }
  // Waits for the helper's piece, if any; answers its bytes.
  std::size_t mfFinish() {
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait(lock, [&] { return !mJob; });
    return mHelpedBytes;
  }
  void mpHelp() {
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
      mChanged.wait(lock, [&] { return mStopping || (mJob && !mWorking); });
      if (mStopping) return;
      const Job job = *mJob;
      mWorking = true;
      lock.unlock();
      char* end = (*job.format)(job.begin, job.end, mHelped.data());
      lock.lock();
      mHelpedBytes = static_cast<std::size_t>(end - mHelped.data());
      mWorking = false;
      mJob.reset();
      mChanged.notify_all();
    }
  }

  struct Job {
    const Format* format;
    CORBA::ULong begin, end;
  };
  const std::size_t mLongestLine;
  const CORBA::ULong mPieceLines;
  const bool mParallel;
  std::vector<char> mOwn, mHelped;
  std::thread mHelper;
  std::mutex mMutex;  // guards what follows
  std::condition_variable mChanged;
  std::optional<Job> mJob;  // the helper's piece, until it is formatted
  bool mWorking = false;
  std::size_t mHelpedBytes = 0;
  bool mStopping = false;
};

}  // namespace

std::string mfCsvCell(const std::string& text, char delimiter) {
  const bool formula = !text.empty() && std::string_view("=@+-\t\r").find(text.front()) != std::string_view::npos;
  if (!formula && text.find_first_of("\"\r\n") == std::string::npos && text.find(delimiter) == std::string::npos) {
    return text;
  }
  std::string quoted = formula ? "\"'" : "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

CsvStyle mfCsvStyle(const std::optional<std::string>& delimiter, bool decimalComma) {
  CsvStyle style;
  style.mDecimalComma = decimalComma;
  style.mDelimiter = decimalComma ? ';' : ',';
  if (!delimiter) return style;
  const std::string& text = *delimiter;
  style.mDelimiter = text == "tab" ? '\t' : text.empty() ? '\0' : text.front();
  const bool oneCharacter = text == "tab" || text.size() == 1;
  if (!oneCharacter || std::string_view("0123456789.-+\"\r\n").find(style.mDelimiter) != std::string_view::npos) {
    throw UsageError("the delimiter must be one character other than a digit, '.', '+', '-', '\"' or a line end, "
                     "or tab; got \"" + text + "\"");
  }
  if (decimalComma && style.mDelimiter == ',') throw UsageError("a decimal comma needs a delimiter other than \",\"");
  return style;
}

ValueSelection mfSelectValues(const ChannelListing& channel, const ValueRequest& request, const char* startName) {
  const bool byNumber = request.mStart || request.mCount;
  if (byNumber && (request.mFrom || request.mTo)) {
    throw UsageError("values are chosen by number (start, count) or by time (from, to), not both");
  }
  const CORBA::ULong total = channel.mCount;
  ValueSelection selection;
  if (request.mFrom || request.mTo) {
    if (request.mFrom && request.mTo && *request.mFrom > *request.mTo) {
      throw UsageError("from (" + mfNumberText(*request.mFrom) + " s) lies after to (" + mfNumberText(*request.mTo) +
                       " s)");
    }
    const WindowPlan plan = mfPlanWindow(
        channel, WindowRequest{request.mFrom, request.mTo, std::numeric_limits<CORBA::ULong>::max()});
    selection.mStart = plan.mStart;
    selection.mCount = plan.mCount;
    return selection;
  }
  selection.mStart = std::max<CORBA::ULong>(1, request.mStart.value_or(1));
  if (selection.mStart > total && total > 0) {
    throw UsageError(std::string(startName) + " " + std::to_string(selection.mStart) +
                     " lies beyond the last value (" + std::to_string(total) + ")");
  }
  // Clipped without overflow whatever count a user types.
  const CORBA::ULong available = total >= selection.mStart ? total - selection.mStart + 1 : 0;
  selection.mCount = request.mCount ? std::min(*request.mCount, available) : available;
  return selection;
}

void mpRequireCommonTimeBase(const std::vector<const ChannelListing*>& channels) {
  if (channels.empty()) throw UsageError("no channel asked for");
  const ChannelListing& base = *channels[0];
  for (const ChannelListing* channel : channels) {
    // NaN would differ from itself below: say what is wrong with the channel instead.
    if (!std::isfinite(channel->mSpacing) || !(channel->mSpacing > 0) || !std::isfinite(channel->mFirst)) {
      throw UsageError("channel " + std::to_string(channel->mNumber) +
                       " has no usable time base: its time step (DELTA_T) is " + mfNumberText(channel->mSpacing) +
                       " and its first time " + mfNumberText(channel->mFirst) +
                       "; the step must be a finite positive number");
    }
  }
  for (const ChannelListing* channel : channels) {
    if (channel->mCount != base.mCount || channel->mFirst != base.mFirst || channel->mSpacing != base.mSpacing) {
      throw UsageError("channels " + std::to_string(base.mNumber) + " and " + std::to_string(channel->mNumber) +
                       " have different time bases; ask for them separately");
    }
  }
}

std::string mfCsvHeader(const std::vector<const ChannelListing*>& channels, const CsvStyle& style) {
  std::string unit = channels.empty() ? "s" : channels[0]->mFunction.x_quantity_annotation.unit_label.in();
  std::string header = mfCsvCell("time [" + unit + "]", style.mDelimiter);
  for (const ChannelListing* channel : channels) {
    header += style.mDelimiter;
    header += mfCsvCell(channel->mfAnnotationText("description") + " [" +
                            channel->mFunction.y_quantity_annotation.unit_label.in() + "]",
                        style.mDelimiter);
  }
  return header;
}

void mpWriteCsv(const ByteSink& sink, const std::vector<const ChannelListing*>& channels,
                const ValueSelection& selection, bool progress, const CsvStyle& style, CORBA::ULong chunk) {
  const std::vector<IDL::RealValues_var> values = valuesOf(channels);
  const ChannelListing& base = *channels.at(0);
  const std::string header = mfCsvHeader(channels, style) + "\n";
  sink(header.data(), header.size());
  std::optional<ProgressBar> bar;
  if (progress) bar.emplace(selection.mCount);
  const std::size_t longestLine = 32 + 32 * values.size();
  PairedFormatter formatter(longestLine);
  ChunkReader reader(pointersTo(values), selection.mStart, selection.mCount, chunk);
  while (const std::optional<ChunkRow> row = reader.mfNext()) {
    const PairedFormatter::Format lines = [&](CORBA::ULong begin, CORBA::ULong end, char* at) {
      char* const limit = at + static_cast<std::size_t>(end - begin) * longestLine;
      for (CORBA::ULong i = begin; i < end; ++i) {
        char* const line = at;
        at = std::to_chars(at, limit, base.mfTime(row->mStart + i)).ptr;
        for (const IDL::RealValueSeqUnion_var& part : row->mParts) {
          *at++ = style.mDelimiter;
          at = writeValue(at, limit, part.in(), i);
        }
        if (style.mDecimalComma) std::replace(line, at, '.', ',');
        *at++ = '\n';
      }
      return at;
    };
    formatter.mpWrite(row->mCount, lines, sink);
    if (bar) bar->mpAdvance(row->mCount);
  }
}

void mpWriteFloat32(const ByteSink& sink, const std::vector<const ChannelListing*>& channels,
                    const ValueSelection& selection, CORBA::ULong chunk) {
  std::vector<char> scratch;
  for (const IDL::RealValues_var& values : valuesOf(channels)) {
    ChunkReader reader({values.in()}, selection.mStart, selection.mCount, chunk);
    while (const std::optional<ChunkRow> row = reader.mfNext()) {
      sendFloat32(sink, row->mParts[0].in(), row->mCount, scratch);
    }
  }
}

std::string mfNpyHeader(CORBA::ULong rows, std::size_t columns) {
  const std::string shape = columns == 1 ? "(" + std::to_string(rows) + ",)"
                                         : "(" + std::to_string(rows) + ", " + std::to_string(columns) + ")";
  std::string dict = "{'descr': '<f4', 'fortran_order': " + std::string(columns == 1 ? "False" : "True") +
                     ", 'shape': " + shape + ", }";
  // Magic, version 1.0, a 2-byte length, then the dictionary padded with spaces to a
  // multiple of 64 bytes in all, ending in a newline.
  const std::size_t prefix = 10;
  const std::size_t total = (prefix + dict.size() + 1 + 63) / 64 * 64;
  dict.append(total - prefix - dict.size() - 1, ' ');
  dict += '\n';
  std::string header = "\x93NUMPY";
  header += '\x01';
  header += '\x00';
  header += static_cast<char>(dict.size() & 0xFF);
  header += static_cast<char>((dict.size() >> 8) & 0xFF);
  return header + dict;
}

void mpDumpCsv(std::FILE* out, const std::vector<const ChannelListing*>& channels, const ValueRequest& request,
               const CsvStyle& style, CORBA::ULong chunk) {
  if (channels.empty()) throw UsageError("no channel to dump");
  mpRequireCommonTimeBase(channels);
  const ChannelListing& base = *channels[0];
  const ValueSelection selection = mfSelectValues(base, request);
  if (selection.mCount == 0 && (request.mFrom || request.mTo) && base.mCount > 0) {
    throw UsageError("no values lie between " + (request.mFrom ? mfNumberText(*request.mFrom) + " s" : "the start") +
                     " and " + (request.mTo ? mfNumberText(*request.mTo) + " s" : "the end") +
                     ": the channels' values run from " + mfNumberText(base.mfTime(1)) + " s to " +
                     mfNumberText(base.mfTime(base.mCount)) + " s");
  }
  const ByteSink toFile = [out](const char* bytes, std::size_t size) {
    std::fwrite(bytes, 1, size, out);
    if (std::ferror(out)) throw OutputError(errno);
  };
  mpWriteCsv(toFile, channels, selection, true, style, chunk);
  std::fflush(out);
  if (std::ferror(out)) throw OutputError(errno);
}

OutputError::OutputError(int error)
    : std::runtime_error(std::string("cannot write the output: ") + std::strerror(error)), mError(error) {}

void mpCheckOutput(const std::ostream& out) {
  if (!out) throw OutputError(errno);
}

}  // namespace TamblixHq::NODRA::Client
