// A fleet store: one folder holding the catalogue (catalogue.db, SQLite), the objects
// (objects/), the lock of the run that writes (lock) and a marker that tells a store from any
// other folder (QUIBLINK-FLEET-STORE, with the store's format). docs/fleet.md describes it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "catalogue.h"
#include "objects.h"
#include "sqlite_db.h"
#include "store_lock.h"

namespace quiblink::fleet {

constexpr char kMarkerName[] = "QUIBLINK-FLEET-STORE";
constexpr char kCatalogueName[] = "catalogue.db";

class Store {
 public:
  enum class Access { kRead, kWrite };
  using Waiting = std::function<void(const std::string &holder)>;

  // kRead: the store must be there. kWrite: makes the folder and the store when missing (an
  // empty folder will do, any other is refused), then holds the lock until the Store goes,
  // calling waiting when another run holds it. Throws StoreError naming the folder and why: not
  // a store, a newer format, a catalogue that cannot be opened.
  static std::unique_ptr<Store> Open(const std::string &folder, Access access,
                                     const std::string &command, const Waiting &waiting = {});

  Catalogue &catalogue() { return catalogue_; }
  Objects &objects() { return objects_; }
  Database &database() { return *db_; }
  const std::string &folder() const { return folder_; }

 private:
  Store(std::string folder, std::unique_ptr<StoreLock> lock);
  std::string folder_;
  std::unique_ptr<StoreLock> lock_;
  std::unique_ptr<Database> db_;
  Catalogue catalogue_;
  Objects objects_;
};

// The format the marker of folder names; nullopt when there is no marker.
std::optional<int> MarkerFormat(const std::string &folder);

}  // namespace quiblink::fleet
