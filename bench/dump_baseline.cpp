// The hand-written floor for dumping one channel as CSV: the channel's frames read with
// pread, each 2-byte little-endian sample scaled, and the same text `nodra-browse dump`
// prints written with std::to_chars. It knows the layout from its arguments rather than
// from the header, and checks nothing: it is what the dump costs at the least.
//
//   dump_baseline FILE HEADER_LINE CHANNELS CHANNEL FRAMES PTS_PER_FRAME PTS_PER_GROUP
//                 HEADER_BLOCKS SCALE DELTA_T  > out.csv

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void writeAll(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, data, size);
    if (n <= 0) std::exit(1);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 11) {
    std::fprintf(stderr, "usage: dump_baseline FILE HEADER_LINE CHANNELS CHANNEL FRAMES PTS_PER_FRAME "
                         "PTS_PER_GROUP HEADER_BLOCKS SCALE DELTA_T\n");
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY);
  if (fd < 0) return 1;
  const std::string header = std::string(argv[2]) + "\n";
  const std::int64_t channels = std::atoll(argv[3]), channel = std::atoll(argv[4]);
  const std::int64_t frames = std::atoll(argv[5]), P = std::atoll(argv[6]), G = std::atoll(argv[7]);
  const std::int64_t headerBytes = std::atoll(argv[8]) * 512;
  const float scale = std::strtof(argv[9], nullptr);
  const double deltaT = std::strtod(argv[10], nullptr);

  std::vector<std::int16_t> frame(static_cast<std::size_t>(P));
  std::vector<char> out(1 << 20);
  std::size_t used = 0;
  writeAll(header.data(), header.size());
  const std::int64_t framesPerGroup = G / P;
  std::int64_t index = 0;
  for (std::int64_t f = 0; f < frames; ++f) {
    const std::int64_t group = f / framesPerGroup, inGroup = f % framesPerGroup;
    const std::int64_t offset = headerBytes + 2 * (group * G * channels + (channel - 1) * G + inGroup * P);
    const auto bytes = static_cast<std::size_t>(P * 2);
    if (::pread(fd, frame.data(), bytes, offset) != static_cast<ssize_t>(bytes)) return 1;
    for (std::int64_t k = 0; k < P; ++k, ++index) {
      if (out.size() - used < 64) {
        writeAll(out.data(), used);
        used = 0;
      }
      char* at = out.data() + used;
      char* const end = out.data() + out.size();
      at = std::to_chars(at, end, static_cast<double>(index) * deltaT).ptr;
      *at++ = ',';
      at = std::to_chars(at, end, static_cast<float>(frame[static_cast<std::size_t>(k)]) * scale).ptr;
      *at++ = '\n';
      used = static_cast<std::size_t>(at - out.data());
    }
  }
  writeAll(out.data(), used);
  ::close(fd);
  return 0;
}
