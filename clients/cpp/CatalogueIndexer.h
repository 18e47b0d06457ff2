// Fills a catalogue with what the files of access points hold: walks their directories
// through the root object, reads each file whose version changed (its listing, and the
// statistics of every channel, once per version) on a few threads of its own, records a
// file that cannot be read with its error without stopping the walk, and removes the
// files that are gone. Memory stays bounded by the threads' work, whatever the files.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "clients/cpp/ChannelStats.h"
#include "clients/cpp/FileListing.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Client {

// What one indexing did.
struct IndexReport {
  std::uint64_t mSeen = 0;       // files found
  std::uint64_t mIndexed = 0;    // read and recorded anew (their version changed or was new)
  std::uint64_t mUnchanged = 0;  // recorded already at their version
  std::uint64_t mFailed = 0;     // recorded with their error
  std::uint64_t mRemoved = 0;    // recorded before, gone now
};

struct IndexSettings {
  unsigned mThreads = 2;  // files read at once
  // Called now and then from the indexing thread with the figures so far.
  std::function<void(const IndexReport&)> mProgress;
  // Set to stop: the files being read are finished, no more are begun, nothing is removed.
  const std::atomic<bool>* mStop = nullptr;
  // The URL of the viewer that serves these files, recorded with each.
  std::optional<std::string> mServedBy;
};

// Indexes the files of `accessPoints` (all of `root`'s when empty) into the catalogue at
// `catalogueUrl`; each thread opens a connection of its own. Throws
// Catalogue::CatalogueError when the catalogue cannot be opened or written, and the root
// object's exception when an access point cannot be listed.
IndexReport mfIndexAccessPoints(IDL::DataServer_ptr root, const std::string& catalogueUrl,
                                const std::vector<std::string>& accessPoints, const IndexSettings& settings);

// What the catalogue records of a file: its annotations, recorded moment and channels, with
// `stats` (one per channel, in the listing's order).
Catalogue::FileEntry mfCatalogueEntry(const std::string& accessPoint, const std::string& path,
                                      const std::string& version, const FileListing& listing,
                                      const std::vector<ChannelStats>& stats);

}  // namespace TamblixHq::NODRA::Client
