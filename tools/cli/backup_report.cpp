#include "backup_report.h"

#include <cstdio>

#include "backup/ranges.h"
#include "data_io.h"

namespace quiblink::cli {
namespace {

std::string Terminal(const backup::Backup &b) {
  const backup::TerminalInfo &t = b.terminal;
  std::string text;
  text += wire::Format("  %-18s %u (0x%02X)\n", "terminal type", t.type, t.type);
  text += wire::Format("  %-18s entry 0x00 %u, entry 0x80 %u\n", "OS information", t.os_entry_00,
                       t.os_entry_80);
  text +=
      wire::Format("  %-18s %d, %d, %d\n", "memory data", t.memory[0], t.memory[1], t.memory[2]);
  text += wire::Format("  %-18s %s, values %u, %u\n", "project",
                       wire::Quoted(t.project_name).c_str(), t.project_value1, t.project_value2);
  return text;
}

std::string Parts(const backup::Backup &b) {
  std::string text;
  if (b.family == backup::Family::kClassic) {
    text += "Ranges\n  area  address     length  restore  sha256\n";
    for (const backup::Range &r : b.ranges) {
      text +=
          wire::Format("  %4u  0x%08X %7zu  %-7s  %s\n", r.area, static_cast<unsigned>(r.address),
                       r.data.size(), backup::RangeRestorable(b.origin.model, r) ? "yes" : "no",
                       backup::Sha256Hex(r.data).c_str());
    }
    return text;
  }
  text += "Groups\n  group     offset     length  sha256\n";
  size_t offset = 0;
  for (const backup::Group &g : b.groups) {
    text += wire::Format("  %5u %10zu %10zu  %s\n", g.number, offset, g.data.size(),
                         backup::Sha256Hex(g.data).c_str());
    offset += g.data.size();
  }
  if (!b.areas.empty()) text += "Areas\n  area      length  restore  sha256\n";
  for (const backup::Area &a : b.areas) {
    text += wire::Format("  %4u  %10zu  %-7s  %s\n", a.number, a.data.size(),
                         backup::Restorable(a) ? "yes" : "no", backup::Sha256Hex(a.data).c_str());
  }
  return text;
}

}  // namespace

std::string Summary(const backup::Backup &b) {
  if (b.family == backup::Family::kClassic) {
    size_t bytes = 0;
    for (const backup::Range &r : b.ranges) bytes += r.data.size();
    return CountOf(b.ranges.size(), "range", "ranges") + " (" + ByteCount(bytes) + ")";
  }
  size_t bytes = 0;
  for (const backup::Group &g : b.groups) bytes += g.data.size();
  std::string text = CountOf(b.groups.size(), "group", "groups") + " (" + ByteCount(bytes) +
                     ") of project " + wire::Quoted(b.terminal.project_name);
  for (size_t i = 0; i < b.areas.size(); ++i) {
    const char *first = b.areas.size() == 1 ? ", area " : ", areas ";
    text += (i == 0 ? first : ", ") + std::to_string(b.areas[i].number);
  }
  return text;
}

std::string DescribeBackup(const backup::Backup &b) {
  const backup::Origin &o = b.origin;
  std::string text =
      b.family == backup::Family::kGraphic
          ? wire::Format("Backup of a graphic terminal, format version %d\n",
                         backup::kFormatVersion)
          : wire::Format("Backup of a classic panel, format version %d\n", backup::kFormatVersion);
  text += wire::Format("  %-18s %s\n", "created", o.created.c_str());
  text += wire::Format("  %-18s %s, library %s\n", "made by", o.tool.c_str(),
                       o.library_version.c_str());
  text += wire::Format("  %-18s %s, %u baud, model code %u\n", "connection", o.port.c_str(), o.baud,
                       o.model);
  if (b.family == backup::Family::kGraphic) text += Terminal(b);
  return text + Parts(b);
}

}  // namespace quiblink::cli
