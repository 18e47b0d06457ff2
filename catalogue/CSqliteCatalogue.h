// The catalogue in one SQLite file (WAL mode), with an FTS5 index of the channels' words.
#pragma once

#include <sqlite3.h>

#include <map>
#include <string>

#include "catalogue/Catalogue.h"

namespace TamblixHq::NODRA::Catalogue {

class CSqliteCatalogue : public CCatalogue {
public:
  // `url` names the catalogue in messages.
  CSqliteCatalogue(const std::string& path, const std::string& url);
  ~CSqliteCatalogue() override;
  CSqliteCatalogue(const CSqliteCatalogue&) = delete;
  CSqliteCatalogue& operator=(const CSqliteCatalogue&) = delete;

  std::optional<std::string> mfVersionOf(const std::string& accessPoint, const std::string& path) override;
  void mpPut(const FileEntry& file) override;
  std::size_t mpRemoveOthers(const std::string& accessPoint, const std::vector<std::string>& present) override;
  std::optional<FileEntry> mfFile(const std::string& accessPoint, const std::string& path) override;
  std::vector<ChannelRow> mfFind(const Query& query) override;
  std::vector<SummaryRow> mfSummary(const Query& query) override;
  std::uint64_t mfCountFiles() override;

private:
  class CStatement;
  // A statement of this connection, prepared on first use and kept.
  sqlite3_stmt* mfStatement(const std::string& sql);
  void mpExec(const std::string& sql);
  [[noreturn]] void mpFail(const std::string& what) const;
  void mpOpenSchema();
  void mpClose();
  // Removes a file's channels (and their words) and annotations; the files row stays.
  void mpRemoveContents(std::int64_t fileId, const std::string& accessPoint, const std::string& path);

  std::string mUrl;
  sqlite3* mDb = nullptr;
  std::map<std::string, sqlite3_stmt*> mStatements;
};

}  // namespace TamblixHq::NODRA::Catalogue
