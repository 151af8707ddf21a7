#include "store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "backup/atomic_file.h"

namespace quiblink::fleet {
namespace {

namespace fs = std::filesystem;

constexpr int kBusyMs = 60000;
constexpr char kMarkerText[] = "quiblink fleet store, format ";

void RefuseNewer(const std::string &folder, int format) {
  if (format > kStoreFormat) {
    throw StoreError(folder + " is a store of format " + std::to_string(format) +
                     ", newer than this quiblink's format " + std::to_string(kStoreFormat) +
                     ": use the quiblink that wrote it, or a newer one");
  }
}

// An empty folder, or a store in the making: what a run makes, under the lock, before the
// marker (another run making it now, or one killed while it did).
bool EmptyOrInTheMaking(const std::string &folder) {
  const std::string catalogue = kCatalogueName;
  const std::set<std::string> made = {
      "lock", "objects", catalogue, catalogue + "-wal", catalogue + "-shm", catalogue + "-journal"};
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
    if (!made.contains(entry.path().filename().string())) return false;
  }
  if (error) throw StoreError("cannot read " + folder + ": " + error.message());
  return true;
}

void CheckIsStore(const std::string &folder, bool may_make) {
  std::error_code error;
  if (!fs::exists(folder, error)) {
    if (!may_make) throw StoreError("no store at " + folder + ": a backup makes one");
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
      throw StoreError("cannot make the store " + folder + ": " + std::strerror(errno));
    }
  }
  if (!fs::is_directory(folder, error))
    throw StoreError(folder + " is not a folder, so not a store");
  const auto format = MarkerFormat(folder);
  if (format) return RefuseNewer(folder, *format);
  if (!may_make || !EmptyOrInTheMaking(folder)) {
    throw StoreError(folder + " is not a fleet store (it has no " + std::string(kMarkerName) +
                     " file)" + (may_make ? "; refusing to write into it" : ""));
  }
}

// Under the lock: the objects' folder and the catalogue, and the marker last, so that a
// store with a marker is whole. A run that waited for the one making the store finds it made.
void MakeStore(const std::string &folder) {
  if (MarkerFormat(folder)) return;
  std::error_code error;
  fs::create_directories(folder + "/objects", error);
  if (error) throw StoreError("cannot make " + folder + "/objects: " + error.message());
  for (const char *end : {"", "-wal", "-shm", "-journal"}) {
    fs::remove(folder + "/" + kCatalogueName + end, error);
  }
  {
    Database db(folder + "/" + kCatalogueName, true, kBusyMs);
    db.Execute("PRAGMA journal_mode=WAL");
    Catalogue::Create(db);
  }
  const std::string text = kMarkerText + std::to_string(kStoreFormat) + "\n";
  try {
    backup::WriteFileAtomically(folder + "/" + kMarkerName,
                                {reinterpret_cast<const uint8_t *>(text.data()), text.size()});
  } catch (const backup::FileError &failure) {
    throw StoreError(failure.what());
  }
}

}  // namespace

std::optional<int> MarkerFormat(const std::string &folder) {
  std::string text;
  try {
    text = backup::ReadWholeFile(folder + "/" + kMarkerName, 4096);
  } catch (const backup::FileError &) {
    return std::nullopt;
  }
  if (!text.starts_with(kMarkerText)) return 0;
  return std::atoi(text.c_str() + std::strlen(kMarkerText));
}

Store::Store(std::string folder, std::unique_ptr<StoreLock> lock)
    : folder_(std::move(folder)),
      lock_(std::move(lock)),
      db_(std::make_unique<Database>(folder_ + "/" + kCatalogueName, false, kBusyMs)),
      catalogue_(*db_),
      objects_(folder_ + "/objects") {}

std::unique_ptr<Store> Store::Open(const std::string &folder, Access access,
                                   const std::string &command, const Waiting &waiting) {
  const bool writing = access == Access::kWrite;
  CheckIsStore(folder, writing);
  if (MarkerFormat(folder) == 0) throw StoreError(folder + ": " + kMarkerName + " is damaged");
  std::unique_ptr<StoreLock> lock;
  if (writing) {
    lock = std::make_unique<StoreLock>(folder + "/lock", command, waiting);
    MakeStore(folder);
  }
  std::unique_ptr<Store> store(new Store(folder, std::move(lock)));
  store->db_->Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON");
  RefuseNewer(folder, store->catalogue_.Format());
  return store;
}

}  // namespace quiblink::fleet
