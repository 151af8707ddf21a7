// The store: what makes a folder a store, content stored once, what verify finds after damage
// and after a run that stopped, and the lock between runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "fleet/store.h"
#include "fleet/verify.h"

namespace quiblink::fleet {
namespace {

namespace fs = std::filesystem;

backup::Backup Made(uint8_t seed) {
  backup::Backup made;
  made.origin = {"2024-05-01T12:00:00Z", "quiblink 2.1.1", "2.1.1", "COM1", 38400, 0};
  made.terminal.project_name = "PLANT";
  made.groups.push_back({1, backup::Bytes(3000, seed)});
  made.groups.push_back({2, backup::Bytes(500, 7)});
  made.areas.push_back({3, backup::Bytes(8, 1)});
  return made;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/quiblink-store-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    root_ = folder;
    path_ = root_ + "/store";
  }
  void TearDown() override { fs::remove_all(root_); }

  std::unique_ptr<Store> Write() { return Store::Open(path_, Store::Access::kWrite, "test"); }

  // A backup recorded as a run records one: its objects first, then the catalogue's rows.
  Version Record(Store &store, const backup::Backup &made) {
    for (const auto &g : made.groups) store.objects().Put(g.data);
    for (const auto &a : made.areas) store.objects().Put(a.data);
    store.objects().SyncFolders();
    const int64_t run = store.catalogue().BeginRun("backup");
    return store.catalogue().AddVersion(run, "press-1", made.origin, made.terminal, ContentOf(made),
                                        "ok", "", std::nullopt);
  }

  size_t ObjectFiles() { return Objects(path_ + "/objects").List().hashes.size(); }

  std::string root_, path_;
};

TEST_F(StoreTest, AnUnchangedBackupAddsACatalogueRowAndNoData) {
  {
    auto store = Write();
    Record(*store, Made(1));
  }
  const size_t objects = ObjectFiles();
  const auto before = fs::file_size(path_ + "/catalogue.db");
  constexpr int kRepeats = 40;
  {
    auto store = Write();
    for (int i = 0; i < kRepeats; ++i) EXPECT_EQ(Record(*store, Made(1)).number, i + 2);
  }
  EXPECT_EQ(ObjectFiles(), objects);
  const auto growth = fs::file_size(path_ + "/catalogue.db") - before;
  EXPECT_LT(growth / kRepeats, 1024u) << growth << " bytes for " << kRepeats << " versions";
  auto store = Store::Open(path_, Store::Access::kRead, "test");
  const auto versions = store->catalogue().Versions("press-1");
  ASSERT_EQ(versions.size(), kRepeats + 1u);
  EXPECT_EQ(versions.front().content_hash, versions.back().content_hash);
  EXPECT_EQ(versions.back().bytes, 3508u);
}

TEST_F(StoreTest, AVersionComesBackWholeFromItsObjects) {
  auto store = Write();
  const backup::Backup made = Made(9);
  const Version v = Record(*store, made);
  const backup::Backup back =
      Assemble(store->catalogue().LoadContent(v.content_hash), v.origin, v.info, store->objects());
  EXPECT_EQ(backup::WriteArchive(back), backup::WriteArchive(made));
}

TEST_F(StoreTest, FoldersThatAreNoStoreOrANewerOneAreRefused) {
  EXPECT_THROW(Store::Open(path_, Store::Access::kRead, "test"), StoreError);
  fs::create_directories(path_);
  std::ofstream(path_ + "/notes.txt") << "mine";
  try {
    Write();
    FAIL() << "wrote into a folder that is not a store";
  } catch (const StoreError &error) {
    EXPECT_NE(std::string(error.what()).find("is not a fleet store"), std::string::npos);
  }
  fs::remove(path_ + "/notes.txt");
  Write();
  std::ofstream(path_ + "/" + kMarkerName) << "quiblink fleet store, format 2\n";
  try {
    Store::Open(path_, Store::Access::kRead, "test");
    FAIL() << "opened a newer store";
  } catch (const StoreError &error) {
    EXPECT_NE(std::string(error.what()).find("of format 2, newer than"), std::string::npos);
  }
}

// What a run killed while it made the store leaves (no marker yet) is a store in the making: the
// next run that writes makes it, a reader still finds no store.
TEST_F(StoreTest, AStoreWhoseMakingWasStoppedIsMadeByTheNextWriter) {
  fs::create_directories(path_ + "/objects");
  std::ofstream(path_ + "/lock") << "";
  std::ofstream(path_ + "/" + kCatalogueName) << "half a database";
  std::ofstream(path_ + "/" + kCatalogueName + "-wal") << "half a log";
  EXPECT_THROW(Store::Open(path_, Store::Access::kRead, "test"), StoreError);
  auto store = Write();
  EXPECT_EQ(Record(*store, Made(3)).number, 1);
}

TEST_F(StoreTest, VerifyNamesDamageAndWhatARepairWouldRemove) {
  auto store = Write();
  const Version v = Record(*store, Made(2));
  EXPECT_TRUE(VerifyStore(*store).Consistent());
  const Content content = store->catalogue().LoadContent(v.content_hash);
  // What a killed run leaves: a temporary and an object no version names.
  const std::string orphan = store->objects().Put(backup::Bytes(10, 0xEE));
  const std::string temp = path_ + "/objects/ab/.quiblink-dead01";
  fs::create_directories(path_ + "/objects/ab");
  std::ofstream(temp) << "half";
  VerifyReport report = VerifyStore(*store);
  EXPECT_TRUE(report.Consistent());
  EXPECT_EQ(report.leftovers.size(), 2u);
  EXPECT_EQ(report.versions, 1u);
  RemoveLeftovers(report);
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_FALSE(store->objects().Has(orphan));
  // Damage: one object changed, another gone.
  std::ofstream(store->objects().PathOf(content.parts[0].object)) << "changed";
  fs::remove(store->objects().PathOf(content.parts[2].object));
  report = VerifyStore(*store);
  ASSERT_EQ(report.damage.size(), 2u);
  const std::string said = report.damage[0] + "\n" + report.damage[1];
  EXPECT_NE(said.find("does not match its SHA-256"), std::string::npos) << said;
  EXPECT_NE(said.find("is missing (used by press-1 v1)"), std::string::npos) << said;
  EXPECT_EQ(report.versions, 0u);
}

TEST_F(StoreTest, ASecondWriterWaitsForTheLockAndSaysWhoseItIs) {
  auto first = Write();
  std::promise<std::string> told;
  auto second = std::async(std::launch::async, [&] {
    return Store::Open(path_, Store::Access::kWrite, "test",
                       [&](const std::string &holder) { told.set_value(holder); });
  });
  auto holder = told.get_future();
  ASSERT_EQ(holder.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_NE(holder.get().find("pid " + std::to_string(getpid())), std::string::npos);
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  first.reset();
  ASSERT_EQ(second.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_NE(second.get(), nullptr);
}

}  // namespace
}  // namespace quiblink::fleet
