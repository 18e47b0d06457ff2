#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "host/files/CBinaryFilePtrConnID.h"
#include "host/files/CFilePool.h"
#include "host/files/CFilePtrConnGuard.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CObjectIdU.h"
#include "tests/support/ScratchDir.h"

using namespace TamblixHq::NODRA;
using Framework::CBinaryFilePtrConnID;
using Framework::CFilePool;
using Framework::CFilePtrConnGuard;
using Utility::CStringU;

namespace {

std::vector<std::uint8_t> fBytes(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
  return bytes;
}

std::vector<std::uint8_t> fReadAll(Utility::CFileU& file) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.mfGetSize()));
  bytes.resize(file.mfRead(bytes.data(), 1, bytes.size()));
  return bytes;
}

// An access point "AP" on <scratch>/ap, with files inside and a secret file beside it.
class FileConnection : public ::testing::Test {
protected:
  void SetUp() override {
    mAp = mScratch.mfMakeDir("ap");
    mData = fBytes(300, 1);
    mScratch.mfWriteFile("ap/sub/data.bin", mData);
    mScratch.mfWriteFile("ap/top.bin", fBytes(40, 2));
    mSecret = mScratch.mfWriteFile("outside/secret.bin", fBytes(40, 3));
    mScratch.mfWriteFile("apx/file.bin", fBytes(40, 4));
    Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpClear();
    Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint("AP", mAp.c_str());
    mPool.mpCloseIdle();
    mPool.mpSetMaxOpenFiles(CFilePool::kDefaultMaxOpenFiles);
  }
  void TearDown() override {
    mPool.mpCloseIdle();
    mPool.mpSetMaxOpenFiles(CFilePool::kDefaultMaxOpenFiles);
    Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpClear();
  }

  // "<ap>\<relative with '/' turned into '\'>", as the drivers build keys.
  CBinaryFilePtrConnID fKey(std::string relative) const {
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return CBinaryFilePtrConnID(CStringU((mAp + "\\" + relative).c_str()));
  }
  // The guard's error, or "opened" when the file was opened.
  static std::string fOutcome(const CBinaryFilePtrConnID& id) {
    CFilePtrConnGuard guard(id);
    if (guard.mfFilePtr() != nullptr) return guard.mfGetError().empty() ? "opened" : "opened with an error text";
    return guard.mfGetError().empty() ? "refused without a reason" : guard.mfGetError();
  }

  nodra::test::ScratchDir mScratch;
  std::string mAp;
  std::string mSecret;
  std::vector<std::uint8_t> mData;
  CFilePool& mPool = CFilePool::sfGetFilePool();
};

}  // namespace

TEST_F(FileConnection, OpensConfinedFilesAtTheStartWhateverTheSeparators) {
  const CBinaryFilePtrConnID id = fKey("sub/data.bin");
  EXPECT_EQ(id.mfGetKey().mfStd(), mAp + "\\sub\\data.bin");
  EXPECT_EQ(id.mfGetPath(), mAp + "/sub/data.bin");
  {
    CFilePtrConnGuard guard(id);
    ASSERT_NE(guard.mfFilePtr(), nullptr) << guard.mfGetError();
    EXPECT_TRUE(guard.mfGetError().empty());
    EXPECT_EQ(guard.mfFilePtr()->mfTell(), 0);
    EXPECT_EQ(fReadAll(*guard.mfFilePtr()), mData);
  }
  // Doubled separators and "." inside the key would be second names of the file; a
  // directory that ends in a separator is its own.
  EXPECT_EQ(fOutcome(CBinaryFilePtrConnID(CStringU((mAp + "\\sub\\\\data.bin").c_str()))),
            "path contains an empty or '.' component");
  EXPECT_EQ(fOutcome(fKey("./sub/data.bin")), "path contains an empty or '.' component");
  Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint("AP", (mAp + "/").c_str());
  const Framework::CConfinedFileId slashed("AP", "sub", "data.bin");
  EXPECT_EQ(slashed.mfGetKey().mfStd(), mAp + "/\\sub\\data.bin");
  EXPECT_EQ(fOutcome(CBinaryFilePtrConnID(slashed.mfGetKey())), "opened");
  EXPECT_EQ(fOutcome(CBinaryFilePtrConnID(slashed)), "opened");

  // From an identifier: fields 0, 1, 2.
  std::unique_ptr<Utility::ObjectId> fields(Utility::CObjectIdU().mfGetCorrectObjectId(
      "AP", "sub", "data.bin", "RPC3", "", "RPC3File", "", "", "", "", ""));
  const CBinaryFilePtrConnID fromId{Utility::CObjectIdU(*fields)};
  EXPECT_EQ(fromId.mfGetKey(), slashed.mfGetKey());
  EXPECT_EQ(fOutcome(fromId), "opened");
  fields->sub_directory = "";
  fields->file_name = "top.bin";
  EXPECT_EQ(fOutcome(CBinaryFilePtrConnID{Utility::CObjectIdU(*fields)}), "opened");
}

TEST_F(FileConnection, RefusedFilesGiveNoHandleAndSayWhy) {
  std::filesystem::create_symlink("../outside/secret.bin", mAp + "/link-out.bin");
  EXPECT_EQ(fOutcome(fKey("../outside/secret.bin")), "path contains a '..' component");
  EXPECT_EQ(fOutcome(CBinaryFilePtrConnID(CStringU(mSecret.c_str()))), "outside every access point");
  EXPECT_EQ(fOutcome(CBinaryFilePtrConnID(CStringU((mAp + "x\\file.bin").c_str()))), "outside every access point");
  EXPECT_EQ(fOutcome(fKey("link-out.bin")), "path leads outside its access point");
  EXPECT_EQ(fOutcome(fKey("missing.bin")), "no such file");
  Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpClear();
  EXPECT_EQ(fOutcome(fKey("top.bin")), "outside every access point");
  EXPECT_EQ(mPool.mfGetOpenFiles(), 0u);
}

TEST_F(FileConnection, PooledHandlesAreReusedFromByteZero) {
  Utility::CFileU* first = nullptr;
  {
    CFilePtrConnGuard guard(fKey("sub/data.bin"));
    first = guard.mfFilePtr();
    ASSERT_NE(first, nullptr);
    std::uint8_t byte;
    ASSERT_EQ(first->mfSeek(250, 0), 0);
    ASSERT_EQ(first->mfRead(&byte, 1, 1), 1u);
  }
  EXPECT_EQ(mPool.mfGetOpenFiles(), 1u);
  EXPECT_EQ(mPool.mfGetIdleFiles(), 1u);
  {
    CFilePtrConnGuard guard(fKey("sub/data.bin"));
    EXPECT_EQ(guard.mfFilePtr(), first);  // the same handle ...
    EXPECT_EQ(guard.mfFilePtr()->mfTell(), 0);  // ... back at the start
    EXPECT_EQ(fReadAll(*guard.mfFilePtr()), mData);
    EXPECT_EQ(mPool.mfGetIdleFiles(), 0u);
  }
  // Keyed by the path beneath the access point: a link inside has a handle of its own.
  std::filesystem::create_symlink("sub/data.bin", mAp + "/alias.bin");
  {
    CFilePtrConnGuard guard(fKey("alias.bin"));
    EXPECT_NE(guard.mfFilePtr(), first);
    EXPECT_EQ(fReadAll(*guard.mfFilePtr()), mData);
  }
  EXPECT_EQ(mPool.mfGetOpenFiles(), 2u);
  // A file that vanished is refused even though an idle handle of it exists.
  std::filesystem::remove(mAp + "/sub/data.bin");
  EXPECT_EQ(fOutcome(fKey("sub/data.bin")), "no such file");
  mPool.mpCloseIdle();
  EXPECT_EQ(mPool.mfGetOpenFiles(), 0u);
}

TEST_F(FileConnection, PooledHandlesOfReplacedOrRewrittenFilesAreNotReused) {
  auto readThroughGuard = [&] {
    CFilePtrConnGuard guard(fKey("sub/data.bin"));
    return guard.mfFilePtr() ? fReadAll(*guard.mfFilePtr()) : std::vector<std::uint8_t>();
  };
  ASSERT_EQ(readThroughGuard(), mData);  // leaves an idle handle with the bytes buffered
  // Replaced by a new file under the same name, as exporting tools do.
  const auto replaced = fBytes(300, 7);
  mScratch.mfWriteFile("ap/sub/new.bin", replaced);
  std::filesystem::rename(mAp + "/sub/new.bin", mAp + "/sub/data.bin");
  EXPECT_EQ(readThroughGuard(), replaced);
  // Rewritten in place with other bytes of another size.
  const auto rewritten = fBytes(120, 9);
  mScratch.mfWriteFile("ap/sub/data.bin", rewritten);
  EXPECT_EQ(readThroughGuard(), rewritten);
  EXPECT_EQ(mPool.mfGetOpenFiles(), 1u);  // stale handles were closed, not leaked
}

TEST_F(FileConnection, AGuardForAVersionReusesOnlyAPooledHandleThatStillReadsIt) {
  struct Case {
    const char* name;
    std::function<void()> change;
    const char* handle;  // "pooled": the pooled handle comes back; "new": one of the file as it
                         // is now, whose version the caller sees differ; "none": no file left
  };
  const std::vector<Case> cases = {
      {"untouched", [] {}, "pooled"},
      {"rewritten in place", [this] { mScratch.mfWriteFile("ap/sub/data.bin", fBytes(120, 9)); },
       "new"},
      {"rewritten in place to the same size, the modification time put back (cp -p)",
       [this] {
         const std::string path = mAp + "/sub/data.bin";
         struct stat before {};
         ASSERT_EQ(::stat(path.c_str(), &before), 0);
         struct stat after = before;
         // The change time ticks coarsely: rewrite until it has moved, as a later copy would.
         for (int i = 0; i < 1000 && after.st_ctim.tv_sec == before.st_ctim.tv_sec &&
                         after.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
              ++i) {
           if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
           mScratch.mfWriteFile("ap/sub/data.bin", fBytes(300, 9));
           const struct timespec times[2] = {before.st_atim, before.st_mtim};
           ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
           ASSERT_EQ(::stat(path.c_str(), &after), 0);
         }
         ASSERT_EQ(after.st_ino, before.st_ino);
         ASSERT_EQ(after.st_size, before.st_size);
         ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
       },
       "new"},
      {"another file renamed over it",
       [this] {
         mScratch.mfWriteFile("ap/sub/new.bin", fBytes(300, 7));
         std::filesystem::rename(mAp + "/sub/new.bin", mAp + "/sub/data.bin");
       },
       "new"},
      {"removed", [this] { std::filesystem::remove(mAp + "/sub/data.bin"); }, "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mScratch.mfWriteFile("ap/sub/data.bin", mData);
    mPool.mpCloseIdle();
    std::optional<Utility::CFileVersionU> opened;
    {
      // Read whole, the handle goes back to the pool with the file buffered from byte 0: a
      // handle that comes back buffered is the pooled one.
      CFilePtrConnGuard guard(fKey("sub/data.bin"));
      ASSERT_NE(guard.mfFilePtr(), nullptr);
      opened = guard.mfFilePtr()->mfGetSource().mfGetVersion();
      ASSERT_EQ(fReadAll(*guard.mfFilePtr()), mData);
    }
    ASSERT_TRUE(opened.has_value());
    c.change();
    CFilePtrConnGuard again(fKey("sub/data.bin"), opened);
    const auto buffered = [](Utility::CFileU& file) { return Utility::CFileU::Cursor(file).mfBufferedItems(1); };
    const std::string handle = again.mfFilePtr() == nullptr      ? "none"
                               : buffered(*again.mfFilePtr()) > 0 ? "pooled"
                                                                  : "new";
    EXPECT_EQ(handle, c.handle);
    if (handle != "none" && std::string(c.handle) == "new") {
      EXPECT_NE(again.mfFilePtr()->mfGetSource().mfGetVersion(), opened);
    }
    EXPECT_LE(mPool.mfGetOpenFiles(), 1u);  // the stale handle was closed
  }
}

TEST_F(FileConnection, ConcurrentGuardsOfOneFileHaveHandlesOfTheirOwn) {
  {
    CFilePtrConnGuard one(fKey("sub/data.bin"));
    CFilePtrConnGuard two(fKey("sub/data.bin"));
    ASSERT_NE(one.mfFilePtr(), nullptr);
    ASSERT_NE(two.mfFilePtr(), nullptr);
    EXPECT_NE(one.mfFilePtr(), two.mfFilePtr());
    ASSERT_EQ(one.mfFilePtr()->mfSeek(100, 0), 0);
    std::uint8_t byte = 0;
    ASSERT_EQ(two.mfFilePtr()->mfRead(&byte, 1, 1), 1u);
    EXPECT_EQ(byte, mData[0]);
    ASSERT_EQ(one.mfFilePtr()->mfRead(&byte, 1, 1), 1u);
    EXPECT_EQ(byte, mData[100]);
    EXPECT_EQ(mPool.mfGetOpenFiles(), 2u);
  }
  EXPECT_EQ(mPool.mfGetIdleFiles(), 2u);

  // Many threads, few pooled handles: every guard reads the whole file by itself.
  mPool.mpSetMaxOpenFiles(2);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this, t, &failures] {
      for (int i = 0; i < 200; ++i) {
        CFilePtrConnGuard guard(fKey(i % 2 ? "sub/data.bin" : "top.bin"));
        if (guard.mfFilePtr() == nullptr || guard.mfFilePtr()->mfTell() != 0 ||
            fReadAll(*guard.mfFilePtr()) != (i % 2 ? mData : fBytes(40, 2)))
          ++failures[t];
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  EXPECT_LE(mPool.mfGetOpenFiles(), 2u);
}

TEST_F(FileConnection, OpenHandlesStayWithinTheBound) {
  for (int i = 0; i < 5; ++i) mScratch.mfWriteFile("ap/f" + std::to_string(i), fBytes(10, 10));
  mPool.mpSetMaxOpenFiles(3);
  EXPECT_EQ(mPool.mfGetMaxOpenFiles(), 3u);
  for (int i = 0; i < 5; ++i) {
    CFilePtrConnGuard guard(fKey("f" + std::to_string(i)));
    ASSERT_NE(guard.mfFilePtr(), nullptr);
    EXPECT_LE(mPool.mfGetOpenFiles(), 3u);
  }
  EXPECT_EQ(mPool.mfGetOpenFiles(), 3u);  // idle f2, f3, f4
  {
    CFilePtrConnGuard reopened(fKey("f0"));  // closes the oldest idle handle, f2
    EXPECT_EQ(mPool.mfGetOpenFiles(), 3u);
    EXPECT_EQ(mPool.mfGetIdleFiles(), 2u);
    CFilePtrConnGuard pooled(fKey("f3"));  // still pooled: reused
    EXPECT_EQ(mPool.mfGetOpenFiles(), 3u);
    EXPECT_EQ(mPool.mfGetIdleFiles(), 1u);
  }

  {
    // Every handle busy: the bound does not refuse, the extras close on return.
    std::vector<std::unique_ptr<CFilePtrConnGuard>> guards;
    for (int i = 0; i < 5; ++i) {
      guards.push_back(std::make_unique<CFilePtrConnGuard>(fKey("f" + std::to_string(i))));
      ASSERT_NE(guards.back()->mfFilePtr(), nullptr);
    }
    EXPECT_EQ(mPool.mfGetOpenFiles(), 5u);
    EXPECT_EQ(mPool.mfGetIdleFiles(), 0u);
  }
  EXPECT_EQ(mPool.mfGetOpenFiles(), 3u);
  EXPECT_EQ(mPool.mfGetIdleFiles(), 3u);

  mPool.mpSetMaxOpenFiles(1);
  EXPECT_EQ(mPool.mfGetOpenFiles(), 1u);
  mPool.mpSetMaxOpenFiles(0);
  EXPECT_EQ(mPool.mfGetOpenFiles(), 0u);
  {
    CFilePtrConnGuard guard(fKey("f0"));
    ASSERT_NE(guard.mfFilePtr(), nullptr);
    EXPECT_EQ(mPool.mfGetOpenFiles(), 1u);
  }
  EXPECT_EQ(mPool.mfGetOpenFiles(), 0u);
}
