// Confinement of data files: how names become keys and paths, every reason a name is
// refused, and what the file system may do under a name that was accepted.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "host/files/CConfinedFileId.h"
#include "host/utility/CAccessPointMapU.h"
#include "nodra/Framework.hh"
#include "tests/support/ScratchDir.h"

using namespace TamblixHq::NODRA;
using Framework::CConfinedFileId;
using Utility::CStringU;

namespace {

class ConfinedFileId : public ::testing::Test {
protected:
  void SetUp() override { mMap->mpClear(); }
  void TearDown() override { mMap->mpClear(); }
  Utility::CAccessPointMapU* const mMap = Utility::CAccessPointMapU::sfGetAccessPointMapU();
};

TEST_F(ConfinedFileId, KeysJoinWithBackslashesAsGivenAndPathsUseSlashes) {
  mMap->mpSetAccessPoint("AP", "/data/x");
  mMap->mpSetAccessPoint("Slash", "/data/y/");
  mMap->mpSetAccessPoint("Back", "/data/a\\b");  // a directory whose name holds a backslash
  struct Case {
    const char *accessPoint, *sub, *name, *key, *path;
  } cases[] = {
      {"AP", "sub", "f.rsp", "/data/x\\sub\\f.rsp", "/data/x/sub/f.rsp"},
      {"AP", "", "f.rsp", "/data/x\\f.rsp", "/data/x/f.rsp"},
      {"Slash", "", "f.rsp", "/data/y/\\f.rsp", "/data/y//f.rsp"},
      {"Back", "s\\t", "f.rsp", "/data/a\\b\\s\\t\\f.rsp", "/data/a\\b/s/t/f.rsp"},  // served as given
      {"AP", "a\\b", "", "/data/x\\a\\b\\", "/data/x/a/b/"},
      {"AP", "a/b", "F.RSP", "/data/x\\a/b\\F.RSP", "/data/x/a/b/F.RSP"},
      {"AP", "", "...", "/data/x\\...", "/data/x/..."},  // dots that are a name, not a step up
      {"AP", "..x", "a..b", "/data/x\\..x\\a..b", "/data/x/..x/a..b"},
  };
  for (const Case& c : cases) {
    const CConfinedFileId id(c.accessPoint, c.sub, c.name);
    EXPECT_FALSE(id.mfIsRefused()) << c.key << ": " << id.mfGetRefusalText();
    EXPECT_EQ(id.mfGetKey().mfStd(), c.key);
    EXPECT_EQ(id.mfGetPath(), c.path);
    // A key names the same file again.
    const CConfinedFileId again = CConfinedFileId::sfFromKey(id.mfGetKey());
    EXPECT_FALSE(again.mfIsRefused()) << c.key;
    EXPECT_EQ(again.mfGetKey(), id.mfGetKey());
    EXPECT_EQ(again.mfGetPath(), id.mfGetPath());
    EXPECT_EQ(again.mfGetAccessPoint(), id.mfGetAccessPoint());
    EXPECT_EQ(again.mfGetFileName(), id.mfGetFileName());
  }
  // From an identifier's fields 0 to 2, and a sibling in the same directory.
  TAMBLIX::NODRA::Framework::ObjectId fields;
  fields.access_point = "AP";
  fields.sub_directory = "sub";
  fields.file_name = "f.rsp";
  const CConfinedFileId fromFields(fields);
  EXPECT_EQ(fromFields.mfGetKey().mfStd(), "/data/x\\sub\\f.rsp");
  EXPECT_EQ(fromFields.mfSibling("f.rsp.notes").mfGetPath(), "/data/x/sub/f.rsp.notes");
  EXPECT_EQ(fromFields.mfSibling("../f").mfGetRefusal(), CConfinedFileId::eDotDot);
}

TEST_F(ConfinedFileId, KeysBelongToTheLongestAccessPointDirectoryThatBeginsThem) {
  mMap->mpSetAccessPoint("AP", "/data/x");
  mMap->mpSetAccessPoint("Deep", "/data/x/deep");
  mMap->mpSetAccessPoint("Back", "/data/x\\");
  EXPECT_EQ(CConfinedFileId::sfFromKey("/data/x/deep\\f").mfGetAccessPoint().mfStd(), "Deep");
  EXPECT_EQ(CConfinedFileId::sfFromKey("/data/x\\deep\\f").mfGetAccessPoint().mfStd(), "AP");
  EXPECT_EQ(CConfinedFileId::sfFromKey("/data/x\\deep\\f").mfGetSubDirectory().mfStd(), "deep");
  EXPECT_EQ(CConfinedFileId::sfFromKey("/data/x\\\\f").mfGetAccessPoint().mfStd(), "Back");
  for (const char* outside : {"/data/xy\\f", "/data/x", "/data/x/f", "relative\\f", "\\f", ""}) {
    const CConfinedFileId id = CConfinedFileId::sfFromKey(outside);
    EXPECT_EQ(id.mfGetRefusal(), CConfinedFileId::eNoAccessPointKey) << outside;
    EXPECT_EQ(id.mfGetRefusalText(), "outside every access point");
    EXPECT_EQ(id.mfGetKey().mfStd(), outside);
  }
}

TEST_F(ConfinedFileId, EveryRefusalHasItsReason) {
  mMap->mpSetAccessPoint("AP", "/data/x");
  mMap->mpSetAccessPoint("EMPTY", "");
  const std::string withNul("f.rsp\0.txt", 10);
  struct Case {
    CStringU accessPoint, sub, name;
    CConfinedFileId::eRefusal refusal;
    const char* text;
  } cases[] = {
      {"nowhere", "", "f.rsp", CConfinedFileId::eUnknownAccessPoint, "unknown access point \"nowhere\""},
      {"EMPTY", "", "f.rsp", CConfinedFileId::eUnknownAccessPoint, "unknown access point \"EMPTY\""},
      {"AP", "", CStringU(withNul), CConfinedFileId::eNulByte, "path contains a NUL byte"},
      {"AP", "/etc", "passwd", CConfinedFileId::eAbsolute, "absolute sub-directory or file name"},
      {"AP", "", "\\secret", CConfinedFileId::eAbsolute, "absolute sub-directory or file name"},
      {"AP", "..", "f.rsp", CConfinedFileId::eDotDot, "path contains a '..' component"},
      {"AP", "a/../..", "f.rsp", CConfinedFileId::eDotDot, "path contains a '..' component"},
      {"AP", "a\\..", "f.rsp", CConfinedFileId::eDotDot, "path contains a '..' component"},
      {"AP", "", "..", CConfinedFileId::eDotDot, "path contains a '..' component"},
      {"AP", "sub", "..\\..\\f", CConfinedFileId::eDotDot, "path contains a '..' component"},
      // Other names of a file that has one: each would be a header and servants of its own.
      {"AP", ".", "f.rsp", CConfinedFileId::eAlias, "path contains an empty or '.' component"},
      {"AP", "./.", "f.rsp", CConfinedFileId::eAlias, "path contains an empty or '.' component"},
      {"AP", "sub//", "f.rsp", CConfinedFileId::eAlias, "path contains an empty or '.' component"},
      {"AP", "sub\\", "f.rsp", CConfinedFileId::eAlias, "path contains an empty or '.' component"},
      {"AP", "sub/./deep", "f.rsp", CConfinedFileId::eAlias, "path contains an empty or '.' component"},
      {"AP", "sub", ".", CConfinedFileId::eAlias, "path contains an empty or '.' component"},
      {"AP", "", "a//f.rsp", CConfinedFileId::eAlias, "path contains an empty or '.' component"},
  };
  for (const Case& c : cases) {
    const CConfinedFileId id(c.accessPoint, c.sub, c.name);
    EXPECT_EQ(id.mfGetRefusal(), c.refusal) << c.sub.mfStd() << " " << c.name.mfStd();
    EXPECT_EQ(id.mfGetRefusalText(), c.text);
    // A refused name is never looked up on disk, and says why.
    std::string real = "untouched", error;
    EXPECT_FALSE(id.mfResolve(real, error));
    EXPECT_EQ(real, "untouched");
    EXPECT_EQ(error, c.text);
  }
  // Names of one component, as the root object and side files require.
  EXPECT_TRUE(CConfinedFileId::sfIsPlainName("f.rsp"));
  EXPECT_TRUE(CConfinedFileId::sfIsPlainName(".."));  // refused as a component, not here
  for (const char* name : {"", "a/b", "a\\b", "/f"}) EXPECT_FALSE(CConfinedFileId::sfIsPlainName(name)) << name;
  // A key that climbs out after a real access point is refused the same way.
  EXPECT_EQ(CConfinedFileId::sfFromKey("/data/x\\sub\\..\\..\\etc\\passwd").mfGetRefusal(),
            CConfinedFileId::eDotDot);
  EXPECT_EQ(CConfinedFileId::sfFromKey("/data/x\\\\etc\\passwd").mfGetRefusal(),
            CConfinedFileId::eAbsolute);
}

// An access point "AP" on <scratch>/ap with files, links and a FIFO; a secret beside it.
class ConfinedOnDisk : public ConfinedFileId {
protected:
  void SetUp() override {
    ConfinedFileId::SetUp();
    namespace fs = std::filesystem;
    mAp = mScratch.mfMakeDir("ap");
    mScratch.mfWriteFile("ap/sub/data.bin", "data");
    mScratch.mfWriteFile("ap/top.bin", "top");
    mScratch.mfWriteFile("outside/secret.bin", "secret");
    mScratch.mfWriteFile("outside/data.bin", "not the data");
    fs::create_symlink("../outside/secret.bin", mAp + "/link-out.bin");
    fs::create_symlink(mScratch.mfFile("outside"), mAp + "/dir-out");
    fs::create_symlink("sub/data.bin", mAp + "/alias.bin");
    fs::create_symlink("sub", mAp + "/alias-dir");
    ASSERT_EQ(::mkfifo((mAp + "/fifo").c_str(), 0600), 0);
    mMap->mpSetAccessPoint("AP", mAp.c_str());
  }

  // "opened", or why the file was not: the one outcome a connection sees, the same beneath
  // the directory's descriptor (openat2) and in two steps (resolve, then open).
  static std::string fOutcome(const CConfinedFileId& id) {
    std::string real, error, twoSteps;
    if (!id.mfResolve(real, error)) {
      twoSteps = error;
    } else {
      twoSteps = CConfinedFileId::sfOpenResolved(real, error) ? "opened" : error;
    }
    if (!CConfinedFileId::sfUsesOpenat2()) return twoSteps;
    const std::string beneath = id.mfOpen(error) ? "opened" : error;
    EXPECT_EQ(beneath, twoSteps);
    return beneath;
  }

  nodra::test::ScratchDir mScratch;
  std::string mAp;
};

TEST_F(ConfinedOnDisk, OnlyRegularFilesReallyInsideTheAccessPointOpen) {
  struct Case {
    const char *sub, *name, *outcome;
  } cases[] = {
      {"sub", "data.bin", "opened"},
      {"", "top.bin", "opened"},
      {"", "alias.bin", "opened"},         // a link that stays inside
      {"alias-dir", "data.bin", "opened"}, // a directory link that stays inside
      {"", "link-out.bin", "path leads outside its access point"},
      {"dir-out", "secret.bin", "path leads outside its access point"},
      {"", "missing.bin", "no such file"},
      {"top.bin", "x", "no such file"},
      {"", "sub", "not a regular file"},
      {"", "", "not a regular file"},  // the access point's directory itself
      {"", "fifo", "not a regular file"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fOutcome(CConfinedFileId("AP", c.sub, c.name)), c.outcome) << c.sub << "/" << c.name;
  }
  // Real paths are what handles are pooled by: a link and its target agree.
  std::string viaLink, direct, error;
  ASSERT_TRUE(CConfinedFileId("AP", "", "alias.bin").mfResolve(viaLink, error));
  ASSERT_TRUE(CConfinedFileId("AP", "sub", "data.bin").mfResolve(direct, error));
  EXPECT_EQ(viaLink, direct);
  // The directory itself resolves, for listings.
  std::string directory;
  EXPECT_TRUE(CConfinedFileId("AP", "sub", "").mfResolve(directory, error)) << error;

  mMap->mpSetAccessPoint("GONE", mScratch.mfFile("gone").c_str());
  EXPECT_EQ(fOutcome(CConfinedFileId("GONE", "", "f")), "access point directory unavailable");
}

TEST_F(ConfinedOnDisk, AnAccessPointStaysWhereItWasWhenALinkNamingItIsRetargeted) {
  namespace fs = std::filesystem;
  if (!CConfinedFileId::sfUsesOpenat2()) GTEST_SKIP() << "the kernel has no openat2";
  fs::create_directories(mScratch.mfFile("other"));
  mScratch.mfWriteFile("other/top.bin", "another");
  fs::create_symlink(mAp, mScratch.mfFile("current"));
  mMap->mpSetAccessPoint("LINKED", mScratch.mfFile("current").c_str());
  std::string error;
  const auto before = CConfinedFileId("LINKED", "", "top.bin").mfOpen(error);
  ASSERT_NE(before, nullptr) << error;
  fs::remove(mScratch.mfFile("current"));
  fs::create_symlink(mScratch.mfFile("other"), mScratch.mfFile("current"));
  const auto after = CConfinedFileId("LINKED", "", "top.bin").mfOpen(error);
  ASSERT_NE(after, nullptr) << error;
  EXPECT_EQ(after->mfGetVersion(), before->mfGetVersion());  // the same file as before
  // Its version is learnt beneath the same directory.
  EXPECT_EQ(CConfinedFileId("LINKED", "", "top.bin").mfGetVersion(), before->mfGetVersion());
}

TEST_F(ConfinedOnDisk, ADirectorySwappedForALinkIsNeverLeftFor) {
  namespace fs = std::filesystem;
  fs::rename(mAp + "/sub", mAp + "/sub-moved");
  fs::create_symlink(mScratch.mfFile("outside"), mAp + "/sub");
  for (bool beneath : {true, false}) {
    CConfinedFileId::sfUseOpenat2(beneath);
    std::string error;
    EXPECT_EQ(CConfinedFileId("AP", "sub", "data.bin").mfOpen(error), nullptr) << beneath;
    EXPECT_EQ(error, "path leads outside its access point") << beneath;
  }
  CConfinedFileId::sfUseOpenat2(true);
  fs::remove(mAp + "/sub");
  fs::rename(mAp + "/sub-moved", mAp + "/sub");
}

TEST_F(ConfinedOnDisk, ADirectorySwappedForALinkAfterTheCheckIsCaughtAtTheOpen) {
  std::string real, error;
  ASSERT_TRUE(CConfinedFileId("AP", "sub", "data.bin").mfResolve(real, error)) << error;
  namespace fs = std::filesystem;
  fs::rename(mAp + "/sub", mAp + "/sub-moved");
  fs::create_symlink(mScratch.mfFile("outside"), mAp + "/sub");
  EXPECT_EQ(CConfinedFileId::sfOpenResolved(real, error), nullptr);
  EXPECT_EQ(error, "path leads outside its access point");
  // The last component swapped for a link is refused by the open itself.
  fs::remove(mAp + "/sub");
  fs::rename(mAp + "/sub-moved", mAp + "/sub");
  fs::remove(mAp + "/sub/data.bin");
  fs::create_symlink(mScratch.mfFile("outside/data.bin"), mAp + "/sub/data.bin");
  EXPECT_EQ(CConfinedFileId::sfOpenResolved(real, error), nullptr);
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
