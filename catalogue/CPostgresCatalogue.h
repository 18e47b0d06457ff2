// The catalogue in a PostgreSQL database, shared by several servers; the channels' words in
// a tsvector column with a GIN index.
#pragma once

#include <libpq-fe.h>

#include <string>

#include "catalogue/Catalogue.h"

namespace TamblixHq::NODRA::Catalogue {

class CPostgresCatalogue : public CCatalogue {
public:
  explicit CPostgresCatalogue(const std::string& url);
  ~CPostgresCatalogue() override;
  CPostgresCatalogue(const CPostgresCatalogue&) = delete;
  CPostgresCatalogue& operator=(const CPostgresCatalogue&) = delete;

  std::optional<std::string> mfVersionOf(const std::string& accessPoint, const std::string& path) override;
  void mpPut(const FileEntry& file) override;
  std::size_t mpRemoveOthers(const std::string& accessPoint, const std::vector<std::string>& present) override;
  std::optional<FileEntry> mfFile(const std::string& accessPoint, const std::string& path) override;
  std::vector<ChannelRow> mfFind(const Query& query) override;
  std::vector<SummaryRow> mfSummary(const Query& query) override;
  std::uint64_t mfCountFiles() override;

private:
  class CResult;
  class CTransaction;
  // Runs one parameterised statement; a null parameter is SQL NULL. Throws unless it succeeds.
  CResult mfExec(const std::string& sql, const std::vector<std::optional<std::string>>& parameters = {});
  void mpOpenSchema();

  std::string mUrl;  // for messages, without a password
  PGconn* mConnection = nullptr;
};

}  // namespace TamblixHq::NODRA::Catalogue
