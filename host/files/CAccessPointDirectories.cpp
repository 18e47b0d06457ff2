#include "host/files/CAccessPointDirectories.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "host/utility/CAccessPointMapU.h"

namespace TamblixHq::NODRA::Framework {

namespace {

// Descriptors kept before those of directories no longer configured are closed.
constexpr std::size_t kPruneAbove = 64;

}  // namespace

CAccessPointDirectories& CAccessPointDirectories::sfGet() {
  static CAccessPointDirectories* const sDirectories = new CAccessPointDirectories;
  return *sDirectories;
}

CAccessPointDirectories::CDirectory::~CDirectory() { ::close(mFd); }

std::shared_ptr<const CAccessPointDirectories::CDirectory> CAccessPointDirectories::mfOpen(
    const std::string& directory) {
  std::lock_guard<std::mutex> lock(mMutex);
  const auto found = mDescriptors.find(directory);
  if (found != mDescriptors.end()) {
    struct stat status;
    if (::fstat(found->second->mfFd(), &status) == 0 && status.st_nlink > 0) return found->second;
    mDescriptors.erase(found);  // removed since: the path's directory now, if any
  }
  int fd;
  do {
    fd = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  auto opened = std::make_shared<const CDirectory>(fd);
  if (mDescriptors.size() >= kPruneAbove) mpForgetUnconfigured();
  mDescriptors.emplace(directory, opened);
  return opened;
}

void CAccessPointDirectories::mpPinConfigured() {
  for (const auto& [name, directory] : Utility::CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPoints()) {
    mfOpen(directory.mfStd());
  }
}

void CAccessPointDirectories::mpForgetUnconfigured() {
  std::set<std::string> configured;
  for (const auto& [name, directory] : Utility::CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPoints()) {
    configured.insert(directory.mfStd());
  }
  for (auto it = mDescriptors.begin(); it != mDescriptors.end();) {
    if (configured.count(it->first) == 0) {
      it = mDescriptors.erase(it);  // closed once its last holder lets go
    } else {
      ++it;
    }
  }
}

}  // namespace TamblixHq::NODRA::Framework
