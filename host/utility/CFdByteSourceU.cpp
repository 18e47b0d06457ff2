#include "host/utility/CFdByteSourceU.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(sizeof(off_t) >= 8, "files larger than 2 GiB need 64-bit off_t");

namespace TamblixHq::NODRA::Utility {

CFdByteSourceU::CFdByteSourceU(int fd) : mFd(fd), mVersion(CFileVersionU::sfOfDescriptor(fd)) {}

std::optional<CFileVersionU> CFdByteSourceU::mfGetCurrentVersion() const {
  return CFileVersionU::sfOfDescriptor(mFd);
}

CFdByteSourceU::~CFdByteSourceU() {
  if (mFd >= 0) ::close(mFd);
}

std::unique_ptr<CFdByteSourceU> CFdByteSourceU::sfOpen(const std::string& path, std::string* error) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<CFdByteSourceU>(fd);
}

std::int64_t CFdByteSourceU::mfReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
  if (mFd < 0 || offset < 0) return -1;
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  // pread may return less than asked before the end (signals, huge requests); keep going
  // until the request is met or the end of the file is reached.
  while (done < n) {
    std::size_t chunk = n - done;
    if (chunk > static_cast<std::size_t>(SSIZE_MAX)) chunk = static_cast<std::size_t>(SSIZE_MAX);
    const auto at = static_cast<std::int64_t>(static_cast<std::uint64_t>(offset) + done);
    if (at < 0) break;  // beyond the largest representable offset
    const ssize_t got = ::pread(mFd, out + done, chunk, static_cast<off_t>(at));
    if (got < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t CFdByteSourceU::mfGetSize() const {
  struct stat status;
  if (mFd < 0 || ::fstat(mFd, &status) != 0) return -1;
  return static_cast<std::int64_t>(status.st_size);
}

int CFdByteSourceU::mfGetFd() const { return mFd; }

}  // namespace TamblixHq::NODRA::Utility
