// A data file as clients and drivers name it (access point, sub-directory, file name),
// checked once against confinement: the only place that decides which files may be opened.
// It gives the header registry's key and the path to open, and opens the file only while
// it really lies inside its access point's directory. Immutable; safe to share.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/utility/CFdByteSourceU.h"
#include "host/utility/CFileVersionU.h"
#include "host/utility/CStringU.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

class CConfinedFileId {
public:
  // Why a name is refused before any file is looked at.
  enum eRefusal {
    eConfined = 0,        // not refused
    eUnknownAccessPoint,  // the access point has no directory
    eNulByte,             // a NUL byte would end the path early
    eAbsolute,            // the sub-directory or file name starts with a separator
    eDotDot,              // a ".." component would climb out
    eNoAccessPointKey,    // a key that no access point's directory begins
    eAlias                // an empty or "." component: another name of a file with one already
  };

  // Backslashes and '/' both separate components of the sub-directory and the file name;
  // the access point's directory is taken as it stands. The directory is looked up once,
  // here. An empty file name names the directory itself (for listings). Each file has one
  // name: empty and "." components are refused.
  CConfinedFileId(const Utility::CStringU& accessPoint, const Utility::CStringU& subDirectory,
                  const Utility::CStringU& fileName);
  // Fields 0, 1 and 2 of an identifier.
  explicit CConfinedFileId(const ::TAMBLIX::NODRA::Framework::ObjectId& id);
  // The file whose key (see mfGetKey) is `key`, kept as given; for connections made from a
  // path. The access point whose directory and a backslash begin the key, the longest
  // such directory first.
  static CConfinedFileId sfFromKey(const Utility::CStringU& key);

  // True for a name of one component: not empty, no separator.
  static bool sfIsPlainName(const std::string& name);

  // A file beside this one: same access point and sub-directory.
  CConfinedFileId mfSibling(const Utility::CStringU& fileName) const;

  bool mfIsRefused() const { return mRefusal != eConfined; }
  eRefusal mfGetRefusal() const { return mRefusal; }
  // One line saying why the name is refused; "" when it is not.
  const std::string& mfGetRefusalText() const { return mRefusalText; }

  const Utility::CStringU& mfGetAccessPoint() const { return mAccessPoint; }
  const Utility::CStringU& mfGetSubDirectory() const { return mSubDirectory; }
  const Utility::CStringU& mfGetFileName() const { return mFileName; }
  // "<access point directory>\<sub-directory>\<file name>", or without "\<sub-directory>"
  // when it is empty; no separator removed or doubled. Names the file's shared header and
  // its failure messages.
  const Utility::CStringU& mfGetKey() const { return mKey; }
  // The path to open: the access point's directory as configured, then the sub-directory
  // and file name with every backslash turned into '/'.
  const std::string& mfGetPath() const { return mPath; }

  // The key and the path as messages that leave the process show them: with the access
  // point's name in place of its directory once sfHideDirectories(true) was called (a
  // server's clients need not learn where its files lie), otherwise as they are.
  Utility::CStringU mfGetShownKey() const;
  std::string mfGetShownPath() const;
  static void sfHideDirectories(bool hide);

  // The real path (links resolved) of the file, if it lies at or below its access point's
  // real directory now; otherwise false with a one-line reason: the refusal, "access point
  // directory unavailable", "no such file" or "path leads outside its access point".
  bool mfResolve(std::string& realPath, std::string& error) const;
  // The version of the file as it is now; nullopt when it is refused or cannot be reached.
  std::optional<Utility::CFileVersionU> mfGetVersion() const;

  // Opens the file read-only beneath its access point's directory descriptor
  // (CAccessPointDirectories), the kernel refusing any step out of it (openat2 with
  // RESOLVE_BENEATH): links that stay inside are followed, nothing swapped in between a
  // check and the open can lead out. Where the kernel has no openat2, mfResolve and
  // sfOpenResolved do the same in two steps. Null with a one-line reason otherwise: the
  // refusal, "access point directory unavailable", "no such file", "path leads outside its
  // access point", "not a regular file" or "cannot open: ...".
  std::unique_ptr<Utility::CFdByteSourceU> mfOpen(std::string& error) const;

  // Whether the file can be reached now beneath its access point's directory descriptor, as
  // mfOpen would reach it (links that stay inside followed); false with mfOpen's reasons.
  bool mfIsReachable(std::string& error) const;

  // Opens the directory this names (an empty file name names the sub-directory itself) for
  // reading its entries, beneath its access point's directory descriptor as mfOpen opens
  // files, so that a listing shows the directory files are opened in. The descriptor, which
  // the caller closes, or -1 with a one-line reason as mfOpen gives them.
  int mfOpenDirectory(std::string& error) const;

  // Whether openat2 is used (tests switch it off to check the other way).
  static bool sfUsesOpenat2();
  static void sfUseOpenat2(bool use);

  // Opens a real path that mfResolve gave, read-only, without following a link swapped in
  // since, and only if the descriptor still names that path's regular file; null with a
  // one-line reason otherwise ("not a regular file", "path leads outside its access point",
  // "cannot open: ...").
  static std::unique_ptr<Utility::CFdByteSourceU> sfOpenResolved(const std::string& realPath,
                                                                  std::string& error);

private:
  CConfinedFileId() = default;
  // The key rule: directory, "\" + sub-directory unless empty, "\" + file name.
  void mpBuildKey();
  // Checks the names and fills key and path. REQUIRES: mDirectory, mSubDirectory and
  // mFileName set.
  void mpCheckAndBuild();
  void mpRefuse(eRefusal refusal, std::string text);
  // A descriptor of the file opened beneath its access point with `flags` (O_PATH or
  // O_RDONLY...), or -1 with the reason in `error`; -2 when openat2 is not there.
  int mfOpenBeneath(int flags, std::string& error) const;

  Utility::CStringU mAccessPoint, mSubDirectory, mFileName;
  Utility::CStringU mDirectory;  // the access point's directory when this was made
  Utility::CStringU mKey;
  std::string mPath;
  eRefusal mRefusal = eConfined;
  std::string mRefusalText;
};

}  // namespace TamblixHq::NODRA::Framework
