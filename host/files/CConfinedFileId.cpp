#include "host/files/CConfinedFileId.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "host/files/CAccessPointDirectories.h"
#include "host/utility/CAccessPointMapU.h"

namespace TamblixHq::NODRA::Framework {

namespace {

constexpr char kKeySeparator = '\\';

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::string toSlashes(std::string text) {
  std::replace(text.begin(), text.end(), kKeySeparator, '/');
  return text;
}

// True when a component of `text` (either separator) is `component`.
bool hasComponent(const std::string& text, std::string_view component) {
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = begin;
    while (end < text.size() && !isSeparator(text[end])) ++end;
    if (std::string_view(text).substr(begin, end - begin) == component) return true;
    if (end == text.size()) return false;
    begin = end + 1;
  }
}

bool realPathOf(const std::string& path, std::string& real) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return false;
  real.assign(resolved);
  std::free(resolved);
  return true;
}

// True when `real` is `realDirectory` or lies below it.
bool isAtOrBelow(const std::string& real, const std::string& realDirectory) {
  if (real.compare(0, realDirectory.size(), realDirectory) != 0) return false;
  if (real.size() == realDirectory.size()) return true;
  return realDirectory.back() == '/' || real[realDirectory.size()] == '/';
}

std::atomic<bool> gHideDirectories{false};
std::atomic<bool> gUseOpenat2{true};

int openat2Beneath(int directory, const std::string& path, int flags) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long fd;
  do {
    fd = ::syscall(SYS_openat2, directory, path.c_str(), &how, sizeof how);
  } while (fd < 0 && errno == EINTR);
  return static_cast<int>(fd);
}

}  // namespace

void CConfinedFileId::sfHideDirectories(bool hide) { gHideDirectories = hide; }

Utility::CStringU CConfinedFileId::mfGetShownKey() const {
  if (!gHideDirectories || mKey.mfStd().compare(0, mDirectory.mfGetLength(), mDirectory.mfStd()) != 0) return mKey;
  return Utility::CStringU(mAccessPoint.mfStd() + mKey.mfStd().substr(mDirectory.mfGetLength()));
}

std::string CConfinedFileId::mfGetShownPath() const {
  if (!gHideDirectories || mPath.compare(0, mDirectory.mfGetLength(), mDirectory.mfStd()) != 0) return mPath;
  return mAccessPoint.mfStd() + mPath.substr(mDirectory.mfGetLength());
}

CConfinedFileId::CConfinedFileId(const Utility::CStringU& accessPoint,
                                 const Utility::CStringU& subDirectory,
                                 const Utility::CStringU& fileName)
    : mAccessPoint(accessPoint),
      mSubDirectory(subDirectory),
      mFileName(fileName),
      mDirectory(Utility::CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPointValue(accessPoint)) {
  mpBuildKey();
  mpCheckAndBuild();
}

CConfinedFileId::CConfinedFileId(const ::TAMBLIX::NODRA::Framework::ObjectId& id)
    : CConfinedFileId(Utility::CStringU(id.access_point), Utility::CStringU(id.sub_directory),
                      Utility::CStringU(id.file_name)) {}

CConfinedFileId CConfinedFileId::sfFromKey(const Utility::CStringU& key) {
  CConfinedFileId identity;
  identity.mKey = key;
  std::size_t matched = 0;
  for (const auto& [name, directory] :
       Utility::CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPoints()) {
    const std::string& text = directory.mfStd();
    // An access point without a directory would begin every key.
    if (text.empty() || text.size() < matched || key.mfGetLength() <= text.size() ||
        key.mfStd().compare(0, text.size(), text) != 0 || key.mfStd()[text.size()] != kKeySeparator) {
      continue;
    }
    matched = text.size();
    identity.mAccessPoint = name;
    identity.mDirectory = directory;
  }
  if (matched == 0) {
    identity.mPath = toSlashes(key.mfStd());
    identity.mpRefuse(eNoAccessPointKey, "outside every access point");
    return identity;
  }
  // The rest splits at its last separator into sub-directory and file name.
  const std::string rest = key.mfStd().substr(matched + 1);
  std::size_t last = rest.size();
  while (last > 0 && !isSeparator(rest[last - 1])) --last;
  identity.mSubDirectory = Utility::CStringU(rest.substr(0, last == 0 ? 0 : last - 1));
  identity.mFileName = Utility::CStringU(rest.substr(last));
  identity.mpCheckAndBuild();
  return identity;
}

bool CConfinedFileId::sfIsPlainName(const std::string& name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), isSeparator);
}

CConfinedFileId CConfinedFileId::mfSibling(const Utility::CStringU& fileName) const {
  CConfinedFileId sibling(*this);
  sibling.mFileName = fileName;
  sibling.mpBuildKey();
  sibling.mRefusal = eConfined;
  sibling.mRefusalText.clear();
  sibling.mpCheckAndBuild();
  return sibling;
}

void CConfinedFileId::mpBuildKey() {
  mKey = mDirectory;
  if (!mSubDirectory.mfIsEmpty()) mKey.mfAddChar(kKeySeparator).mfAddString(mSubDirectory);
  mKey.mfAddChar(kKeySeparator).mfAddString(mFileName);
}

void CConfinedFileId::mpRefuse(eRefusal refusal, std::string text) {
  if (mRefusal != eConfined) return;  // the first reason found stands
  mRefusal = refusal;
  mRefusalText = std::move(text);
}

void CConfinedFileId::mpCheckAndBuild() {
  const std::string& sub = mSubDirectory.mfStd();
  const std::string& name = mFileName.mfStd();
  mPath = mDirectory.mfStd();
  if (!sub.empty()) mPath += "/" + toSlashes(sub);
  mPath += "/" + toSlashes(name);
  if (mDirectory.mfIsEmpty()) {
    mpRefuse(eUnknownAccessPoint, "unknown access point \"" + mAccessPoint.mfStd() + "\"");
  }
  if (mKey.mfStd().find('\0') != std::string::npos) {
    mpRefuse(eNulByte, "path contains a NUL byte");
  }
  if ((!sub.empty() && isSeparator(sub.front())) || (!name.empty() && isSeparator(name.front()))) {
    mpRefuse(eAbsolute, "absolute sub-directory or file name");
  }
  if (hasComponent(sub, "..") || hasComponent(name, "..")) {
    mpRefuse(eDotDot, "path contains a '..' component");
  }
  if ((!sub.empty() && (hasComponent(sub, "") || hasComponent(sub, "."))) ||
      (!name.empty() && (hasComponent(name, "") || hasComponent(name, ".")))) {
    mpRefuse(eAlias, "path contains an empty or '.' component");
  }
}

bool CConfinedFileId::sfUsesOpenat2() { return gUseOpenat2; }
void CConfinedFileId::sfUseOpenat2(bool use) { gUseOpenat2 = use; }

int CConfinedFileId::mfOpenBeneath(int flags, std::string& error) const {
  if (mfIsRefused()) {
    error = mRefusalText;
    return -1;
  }
  if (!gUseOpenat2) return -2;
  const auto directory = CAccessPointDirectories::sfGet().mfOpen(mDirectory.mfStd());
  if (!directory) {
    error = "access point directory unavailable";
    return -1;
  }
  std::string relative = mSubDirectory.mfIsEmpty() ? "" : toSlashes(mSubDirectory.mfStd()) + "/";
  relative += toSlashes(mFileName.mfStd());
  const int fd = openat2Beneath(directory->mfFd(), relative.empty() ? "." : relative, flags | O_CLOEXEC);
  if (fd >= 0) return fd;
  switch (errno) {
    case ENOSYS:
    case EPERM:  // a filter that does not know the call
      gUseOpenat2 = false;
      return -2;
    case EXDEV:
    case ELOOP:
      error = "path leads outside its access point";
      break;
    case ENOENT:
    case ENOTDIR:
      error = "no such file";
      break;
    default:
      error = std::string("cannot open: ") + std::strerror(errno);
  }
  return -1;
}

std::unique_ptr<Utility::CFdByteSourceU> CConfinedFileId::mfOpen(std::string& error) const {
  // O_NONBLOCK: a FIFO in the directory must not hang the open.
  const int fd = mfOpenBeneath(O_RDONLY | O_NONBLOCK | O_NOCTTY, error);
  if (fd == -2) {
    std::string realPath;
    return mfResolve(realPath, error) ? sfOpenResolved(realPath, error) : nullptr;
  }
  if (fd < 0) return nullptr;
  auto source = std::make_unique<Utility::CFdByteSourceU>(fd);
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    error = "not a regular file";
    return nullptr;
  }
  return source;
}

bool CConfinedFileId::mfIsReachable(std::string& error) const {
  const int fd = mfOpenBeneath(O_PATH, error);
  if (fd == -2) {
    std::string realPath;
    return mfResolve(realPath, error);
  }
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int CConfinedFileId::mfOpenDirectory(std::string& error) const {
  const int fd = mfOpenBeneath(O_RDONLY | O_DIRECTORY | O_NONBLOCK, error);
  if (fd != -2) return fd;
  std::string realPath;
  if (!mfResolve(realPath, error)) return -1;
  int opened;
  do {
    opened = ::open(realPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  } while (opened < 0 && errno == EINTR);
  if (opened < 0) {
    error = (errno == ENOENT || errno == ENOTDIR) ? "no such file" : std::string("cannot open: ") + std::strerror(errno);
    return -1;
  }
  // As sfOpenResolved: a directory swapped for a link since the check is caught here.
  char path[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(opened);
  const ssize_t length = ::readlink(link.c_str(), path, sizeof path);
  if (length >= 0 && realPath.compare(0, std::string::npos, path, static_cast<std::size_t>(length)) != 0) {
    ::close(opened);
    error = "path leads outside its access point";
    return -1;
  }
  return opened;
}

std::optional<Utility::CFileVersionU> CConfinedFileId::mfGetVersion() const {
  std::string error;
  const int fd = mfOpenBeneath(O_PATH, error);
  if (fd == -2) {
    std::string realPath;
    if (!mfResolve(realPath, error)) return std::nullopt;
    return Utility::CFileVersionU::sfOfPath(realPath);
  }
  if (fd < 0) return std::nullopt;
  const std::optional<Utility::CFileVersionU> version = Utility::CFileVersionU::sfOfDescriptor(fd);
  ::close(fd);
  return version;
}

bool CConfinedFileId::mfResolve(std::string& realPath, std::string& error) const {
  if (mfIsRefused()) {
    error = mRefusalText;
    return false;
  }
  std::string realDirectory;
  if (!realPathOf(mDirectory.mfStd(), realDirectory)) {
    error = "access point directory unavailable";
    return false;
  }
  std::string real;
  if (!realPathOf(mPath, real)) {
    error = (errno == ENOENT || errno == ENOTDIR) ? "no such file" : std::strerror(errno);
    return false;
  }
  if (!isAtOrBelow(real, realDirectory)) {
    error = "path leads outside its access point";
    return false;
  }
  realPath = std::move(real);
  return true;
}

std::unique_ptr<Utility::CFdByteSourceU> CConfinedFileId::sfOpenResolved(const std::string& realPath,
                                                                        std::string& error) {
  // O_NOFOLLOW: the resolved path has no link left, so a link found now was swapped in
  // after the check. O_NONBLOCK: a FIFO swapped in must not hang the open.
  int fd;
  do {
    fd = ::open(realPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = std::string("cannot open: ") + std::strerror(errno);
    return nullptr;
  }
  auto source = std::make_unique<Utility::CFdByteSourceU>(fd);
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    error = "not a regular file";
    return nullptr;
  }
  // O_NOFOLLOW guards only the last component: a directory swapped for a link between the
  // check and the open would lead elsewhere. The descriptor's own path tells.
  char opened[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), opened, sizeof opened);
  if (length >= 0 && realPath.compare(0, std::string::npos, opened, static_cast<std::size_t>(length)) != 0) {
    error = "path leads outside its access point";
    return nullptr;
  }
  return source;
}

}  // namespace TamblixHq::NODRA::Framework
