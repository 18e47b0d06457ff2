// Descriptors of the access points' directories, each opened once and kept: files are opened
// beneath the descriptor, so a link or directory put in place of an access point's path
// later does not move the access point (a directory that was removed is opened anew). Safe
// for concurrent use.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace TamblixHq::NODRA::Framework {

class CAccessPointDirectories {
public:
  // Created on first use and never destroyed; its descriptors live as long as the process.
  static CAccessPointDirectories& sfGet();

  CAccessPointDirectories(const CAccessPointDirectories&) = delete;
  CAccessPointDirectories& operator=(const CAccessPointDirectories&) = delete;

  // An open directory: its descriptor is closed once no one holds it.
  class CDirectory {
  public:
    explicit CDirectory(int fd) : mFd(fd) {}
    ~CDirectory();
    CDirectory(const CDirectory&) = delete;
    CDirectory& operator=(const CDirectory&) = delete;
    int mfFd() const { return mFd; }

  private:
    int mFd;
  };

  // The directory `directory` names, as configured, opened with O_PATH; null when it cannot
  // be opened now (it is tried again next time).
  std::shared_ptr<const CDirectory> mfOpen(const std::string& directory);
  // Opens the directory of every access point configured now, so that they are pinned
  // from the start rather than from their first use.
  void mpPinConfigured();

private:
  CAccessPointDirectories() = default;
  // Closes the descriptors of directories no access point names any more. REQUIRES: mMutex.
  void mpForgetUnconfigured();

  std::mutex mMutex;  // guards mDescriptors
  std::unordered_map<std::string, std::shared_ptr<const CDirectory>> mDescriptors;
};

}  // namespace TamblixHq::NODRA::Framework
