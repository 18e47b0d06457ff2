#include "apps/client/ChannelDump.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

#include "apps/client/FileSource.h"
#include "apps/client/ProgressBar.h"

namespace TamblixHq::NODRA::Client {

namespace {

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// One chunk of a channel's values as floats or doubles, as the object answers them.
struct Column {
  IDL::RealValues_var mValues;
  IDL::RealValueSeqUnion_var mChunk;

  void mpRead(CORBA::ULong start, CORBA::ULong count) { mChunk = mValues->get_value_chunk(start, count); }
  CORBA::ULong mfLength() const {
    return mChunk->_d() == IDL::DOUBLE_PRECISION ? mChunk->double_sequence().length()
                                                 : mChunk->float_sequence().length();
  }
  char* mfWrite(char* at, char* end, CORBA::ULong i) const {
    return mChunk->_d() == IDL::DOUBLE_PRECISION
               ? std::to_chars(at, end, mChunk->double_sequence()[i]).ptr
               : std::to_chars(at, end, mChunk->float_sequence()[i]).ptr;
  }
};

void checkWritten(std::FILE* out) {
  if (std::ferror(out)) throw std::runtime_error(std::string("cannot write the output: ") + std::strerror(errno));
}

}  // namespace

std::string mfCsvHeader(const std::vector<const ChannelListing*>& channels) {
  std::string unit = channels.empty() ? "s" : channels[0]->mFunction.x_quantity_annotation.unit_label.in();
  std::string header = csvField("time [" + unit + "]");
  for (const ChannelListing* channel : channels) {
    header += ',';
    header += csvField(channel->mfAnnotationText("description") + " [" +
                       channel->mFunction.y_quantity_annotation.unit_label.in() + "]");
  }
  return header;
}

void mpDumpCsv(std::FILE* out, const std::vector<const ChannelListing*>& channels,
               const DumpRange& range) {
  if (channels.empty()) throw UsageError("no channel to dump");
  const ChannelListing& base = *channels[0];
  std::vector<Column> columns(channels.size());
  for (std::size_t c = 0; c < channels.size(); ++c) {
    const ChannelListing& channel = *channels[c];
    if (channel.mCount != base.mCount || channel.mFirst != base.mFirst ||
        channel.mSpacing != base.mSpacing) {
      throw UsageError("channels " + std::to_string(base.mNumber) + " and " +
                       std::to_string(channel.mNumber) +
                       " have different time bases; dump them separately");
    }
    columns[c].mValues = IDL::RealValues::_narrow(channel.mFunction.y_values);
    if (CORBA::is_nil(columns[c].mValues)) {
      throw std::runtime_error("channel " + std::to_string(channel.mNumber) + " has no values to read");
    }
  }
  const CORBA::ULong total = base.mCount;
  const CORBA::ULong first = std::max<CORBA::ULong>(1, range.mStart);
  if (first > total && total > 0) {
    throw UsageError("--start " + std::to_string(first) + " lies beyond the last value (" +
                     std::to_string(total) + ")");
  }
  // Clipped without overflow whatever count a user types.
  const CORBA::ULong available = total >= first ? total - first + 1 : 0;
  const CORBA::ULong wanted = range.mCount ? std::min(*range.mCount, available) : available;
  const CORBA::ULong chunk = std::max<CORBA::ULong>(1, range.mChunk);

  const std::string header = mfCsvHeader(channels) + "\n";
  std::fwrite(header.data(), 1, header.size(), out);
  // An empty range still asks the objects, so that a channel they cannot read is reported
  // rather than printed empty.
  if (wanted == 0) {
    for (Column& column : columns) column.mpRead(first, 0);
  }
  ProgressBar progress(wanted);
  // Lines are gathered in a block and written a block at a time.
  const std::size_t longestLine = 32 + 32 * columns.size();
  std::vector<char> block(std::max<std::size_t>(1 << 18, 4 * longestLine));
  char* const blockEnd = block.data() + block.size();
  char* at = block.data();
  auto writeBlock = [&] {
    std::fwrite(block.data(), 1, static_cast<std::size_t>(at - block.data()), out);
    checkWritten(out);
    at = block.data();
  };
  for (CORBA::ULong done = 0; done < wanted;) {
    const CORBA::ULong start = first + done;
    const CORBA::ULong n = std::min(chunk, wanted - done);
    CORBA::ULong got = n;
    for (Column& column : columns) {
      column.mpRead(start, n);
      got = std::min(got, column.mfLength());
    }
    if (got == 0) throw std::runtime_error("the server answered no values at " + std::to_string(start));
    for (CORBA::ULong i = 0; i < got; ++i) {
      if (static_cast<std::size_t>(blockEnd - at) < longestLine) writeBlock();
      at = std::to_chars(at, blockEnd, base.mfTime(start + i)).ptr;
      for (const Column& column : columns) {
        *at++ = ',';
        at = column.mfWrite(at, blockEnd, i);
      }
      *at++ = '\n';
    }
    writeBlock();
    done += got;
    progress.mpAdvance(got);
  }
  std::fflush(out);
  checkWritten(out);
}

}  // namespace TamblixHq::NODRA::Client
