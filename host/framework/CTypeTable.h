// The servant types the program registers: for each type id, the constructor of its
// servant and the repository id (the interface clients see). Repository id texts handed
// out stay valid for the life of the table, even after their type is registered again.
// Safe to share between threads.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CTypeTable {
public:
  // Builds the servant of an identifier; may throw (the file cannot be read, ...).
  using Constructor =
      std::function<PortableServer::ServantBase*(const IDL::ObjectId*, PortableServer::POA_ptr)>;

  struct Entry {
    const char* repositoryId;  // owned by the table, never freed while it lives
    Constructor constructor;
  };

  // Registers a type id, or replaces what an earlier registration gave it.
  void mpRegister(const std::string& typeId, const std::string& repositoryId,
                  Constructor constructor);
  // A copy of the registration of a type id; empty when it has none.
  std::optional<Entry> mfFind(const std::string& typeId) const;
  // The repository id of a type id; "" when it has none.
  const char* mfRepositoryId(const std::string& typeId) const;

private:
  mutable std::mutex mMutex;  // guards both containers
  // Every repository id ever registered, each text kept once; nodes never move and are
  // never erased, so Entry::repositoryId cannot dangle.
  std::set<std::string> mRepositoryIds;
  std::map<std::string, Entry> mTypes;
};

}  // namespace TamblixHq::NODRA::Framework
