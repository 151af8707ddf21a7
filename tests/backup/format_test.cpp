// The backup file: what is written comes back whole, and a file that is damaged, of another
// format or made to escape the folder it is unpacked into is refused with the problem named.
#include <zip.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup/atomic_file.h"
#include "backup/backup.h"

namespace quiblink::backup {
namespace {

Bytes Pattern(size_t size, unsigned seed) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 8));
  return data;
}

Backup GraphicBackup() {
  Backup b;
  b.family = Family::kGraphic;
  b.origin = {"2024-05-01T12:00:00Z", "quiblink 2.1.1", "2.1.1", "COM3", 38400, 0};
  b.terminal.type = 42;
  b.terminal.os_entry_00 = 2048;
  b.terminal.os_entry_80 = 0xFFFFFFFF;
  b.terminal.memory[0] = -32768;
  b.terminal.memory[1] = 12;
  b.terminal.memory[2] = 3;
  b.terminal.project_value1 = 17988;
  b.terminal.project_value2 = 3;
  b.terminal.project_name = std::string("PLANT \xE9\xFF\x01", 9);  // bytes, not text
  // In the order the terminal sent them, which need not be ascending.
  b.groups = {{7, Pattern(700, 7)}, {1, Pattern(5000, 1)}, {2, Pattern(12288, 2)}};
  b.areas = {{3, Pattern(10, 3)}, {240, Pattern(3000, 240)}, {4, {}}};
  return b;
}

Bytes Archive(const Backup &b) {
  return WriteArchive(b);
}

// A ZIP of the given members, to build files the writer would never make.
Bytes Zip(const std::vector<std::pair<std::string, std::string>> &members) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_source_keep(buffer);
  zip_t *archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  for (const auto &[name, data] : members) {
    zip_source_t *source = zip_source_buffer(archive, data.data(), data.size(), 0);
    zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
  }
  zip_close(archive);
  zip_source_open(buffer);
  zip_stat_t stat;
  zip_source_stat(buffer, &stat);
  Bytes out(stat.size);
  zip_source_read(buffer, out.data(), out.size());
  zip_source_close(buffer);
  zip_source_free(buffer);
  return out;
}

// The members of a good backup, with the manifest changed by edit.
Bytes Edited(const std::function<void(nlohmann::json &)> &edit,
             std::vector<std::pair<std::string, std::string>> extra = {}) {
  Backup b = GraphicBackup();
  nlohmann::json manifest = nlohmann::json::parse(ManifestText(b));
  edit(manifest);
  std::vector<std::pair<std::string, std::string>> members = {{"manifest.json", manifest.dump()}};
  for (const Group &g : b.groups)
    members.push_back({MemberName(g), {g.data.begin(), g.data.end()}});
  for (const Area &a : b.areas) members.push_back({MemberName(a), {a.data.begin(), a.data.end()}});
  members.insert(members.end(), extra.begin(), extra.end());
  return Zip(members);
}

// libzip adds no name twice: the second name is written in place of another of its length.
Bytes NamedTwice() {
  Bytes file = Edited([](auto &) {}, {{"groups/group-0000X.bin", "x"}});
  const std::string from = "groups/group-0000X.bin", to = "groups/group-00001.bin";
  std::string text(file.begin(), file.end());
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
    std::copy(to.begin(), to.end(), file.begin() + long(at));
  }
  return file;
}

std::string Refusal(const Bytes &file) {
  try {
    ReadArchive(file);
  } catch (const FormatError &error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(BackupFormat, AGraphicBackupComesBackGroupForGroup) {
  const Backup b = GraphicBackup();
  const Backup back = ReadArchive(Archive(b));
  ASSERT_EQ(back.groups.size(), 3u);
  for (size_t i = 0; i < b.groups.size(); ++i) {
    EXPECT_EQ(back.groups[i].number, b.groups[i].number) << i;
    EXPECT_EQ(back.groups[i].data, b.groups[i].data) << i;
  }
  ASSERT_EQ(back.areas.size(), 3u);
  EXPECT_EQ(back.areas[1].number, 240);
  EXPECT_EQ(back.areas[1].data, b.areas[1].data);
  EXPECT_TRUE(back.areas[2].data.empty());
  EXPECT_EQ(back.terminal.project_name, b.terminal.project_name);
  EXPECT_EQ(back.terminal.memory[0], -32768);
  EXPECT_EQ(back.terminal.os_entry_80, 0xFFFFFFFFu);
  EXPECT_EQ(back.origin.port, "COM3");
  EXPECT_EQ(back.origin.tool, "quiblink 2.1.1");
  EXPECT_EQ(ManifestText(back), ManifestText(b));

  // The table of groups is the layout of one grouped read.
  const auto manifest = nlohmann::json::parse(ManifestText(b));
  EXPECT_EQ(manifest["groups"][1]["offset"], 700);
  EXPECT_EQ(manifest["groups"][2]["offset"], 5700);
  EXPECT_EQ(manifest["areas"][1]["restore"], false);
}

TEST(BackupFormat, AClassicBackupComesBackRangeForRange) {
  Backup b;
  b.family = Family::kClassic;
  b.origin = {"2024-05-01T12:00:00Z", "quiblink 2.1.1", "2.1.1", "COM2", 9600, 3};
  b.ranges = {{0, 3940, Pattern(40, 1)}, {0, 0, Pattern(64, 2)}};
  const Backup back = ReadArchive(Archive(b));
  ASSERT_EQ(back.ranges.size(), 2u);
  EXPECT_EQ(back.ranges[0].address, 3940);
  EXPECT_EQ(back.ranges[0].data, b.ranges[0].data);
  EXPECT_EQ(back.origin.model, 3);
}

TEST(BackupFormat, DamagedFilesAndOtherFormatsAreRefusedNamingTheProblem) {
  const Bytes good = Archive(GraphicBackup());
  Bytes flipped = good;
  // Inside the stored data of a group: the ZIP's own check or the SHA-256 sees it.
  const std::string marker(reinterpret_cast<const char *>(Pattern(5000, 1).data()), 64);
  const size_t at = std::string(good.begin(), good.end()).find(marker);
  ASSERT_NE(at, std::string::npos);
  flipped[at + 100] ^= 0x01;
  const struct {
    const char *name;
    Bytes file;
    std::string says;
  } rows[] = {
      {"a byte of a group changed", flipped, ".bin: damaged"},
      {"cut in half", Bytes(good.begin(), good.begin() + long(good.size() / 2)),
       "not a whole ZIP archive"},
      {"raw joined bytes", Pattern(4000, 9), "not a whole ZIP archive"},
      {"empty file", {}, "not a backup file"},
      {"a ZIP without manifest", Zip({{"readme.txt", "hello"}}), "no manifest.json"},
      {"manifest not JSON", Zip({{"manifest.json", "{not json"}}), "not valid JSON"},
      {"another format", Edited([](auto &m) { m["format"] = "something-else"; }),
       "not a quiblink backup"},
      {"unknown version", Edited([](auto &m) { m["format_version"] = 2; }),
       "format version 2 is not known here"},
      {"wrong hash", Edited([](auto &m) { m["groups"][0]["sha256"] = std::string(64, '0'); }),
       "group-00007.bin: SHA-256 does not match the manifest"},
      {"wrong length", Edited([](auto &m) { m["groups"][2]["length"] = 12287; }),
       "group-00002.bin: holds 12288 bytes, more than 12287"},
      {"group larger than one transfer",
       Edited([](auto &m) { m["groups"][0]["length"] = 0x80000000u; }),
       "groups[0].length 2147483648 is more than one transfer carries"},
      {"duplicate group", Edited([](auto &m) { m["groups"][1]["group"] = 7; }),
       "group 7 comes twice"},
      {"group 0", Edited([](auto &m) { m["groups"][1]["group"] = 0; }),
       "groups[1].group 0 is out of range"},
      {"swapped group numbers", Edited([](auto &m) { m["groups"][0]["group"] = 9; }),
       "should be named \"groups/group-00009.bin\""},
      {"offsets that do not add up", Edited([](auto &m) { m["groups"][1]["offset"] = 0; }),
       "is not where the group before it ends"},
      {"a missing field", Edited([](auto &m) { m["terminal"].erase("type"); }),
       "terminal.type is missing"},
      {"an area that does not exist", Edited([](auto &m) { m["areas"][0]["area"] = 7; }),
       "area 7 does not exist"},
      {"a member outside the manifest", Edited([](auto &) {}, {{"extra.bin", "x"}}),
       "\"extra.bin\" is not in the manifest"},
      {"a path that leaves the archive", Edited([](auto &) {}, {{"../evil.sh", "x"}}),
       "\"../evil.sh\" leaves the archive"},
      {"an absolute path", Edited([](auto &) {}, {{"/etc/passwd", "x"}}),
       "\"/etc/passwd\" leaves the archive"},
      {"a member named twice", NamedTwice(), "is in the archive twice"},
  };
  for (const auto &row : rows) {
    const std::string said = Refusal(row.file);
    EXPECT_NE(said.find(row.says), std::string::npos) << row.name << ": " << said;
  }
}

TEST(BackupFormat, TheWriterRefusesWhatTheReaderWouldRefuse) {
  Backup twice = GraphicBackup();
  twice.groups.push_back({1, Pattern(3, 1)});
  EXPECT_THROW(WriteArchive(twice), FormatError);
  Backup empty_group = GraphicBackup();
  empty_group.groups[0].data.clear();
  EXPECT_THROW(WriteArchive(empty_group), FormatError);
  Backup area_7 = GraphicBackup();
  area_7.areas.push_back({7, Pattern(3, 1)});
  EXPECT_THROW(WriteArchive(area_7), FormatError);
}

TEST(BackupFormat, Sha256IsTheStandardOne) {
  const std::string abc = "abc";
  EXPECT_EQ(Sha256Hex(std::span(reinterpret_cast<const uint8_t *>(abc.data()), abc.size())),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(BackupFormat, AFileSavedStraightToDiskReadsAsTheArchiveInMemory) {
  char folder[] = "/tmp/quiblink-format-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/b.qbk";
  const Backup b = GraphicBackup();
  SaveArchive(b, path);
  EXPECT_EQ(ManifestText(LoadArchive(path)), ManifestText(b));
  EXPECT_EQ(LoadArchive(path).groups[2].data, b.groups[2].data);
  EXPECT_THROW(LoadArchive(std::string(folder) + "/missing.qbk"), FileError);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quiblink::backup
