#include "content.h"

#include <cstdio>

#include "objects.h"
#include "sqlite_db.h"

namespace quiblink::fleet {
namespace {

Part GroupPart(const backup::Group &group, const std::string &object, uint64_t length) {
  return {"group", group.number, 0, length, object};
}
Part AreaPart(const backup::Area &area, const std::string &object, uint64_t length) {
  return {"area", area.number, 0, length, object};
}
Part RangePart(const backup::Range &range, const std::string &object, uint64_t length) {
  return {"range", range.area, range.address, length, object};
}

}  // namespace

std::string Part::Key() const {
  if (kind != "range") return kind + " " + std::to_string(number);
  char text[48];
  std::snprintf(text, sizeof text, "range %lld:0x%llX", static_cast<long long>(number),
                static_cast<long long>(address));
  return text;
}

uint64_t Content::Bytes() const {
  uint64_t total = 0;
  for (const Part &part : parts) total += part.length;
  return total;
}

std::string ContentHash(backup::Family family, const std::vector<Part> &parts) {
  std::string text = std::string(backup::FamilyName(family)) + "\n";
  for (const Part &part : parts) {
    text += part.kind + " " + std::to_string(part.number) + " " + std::to_string(part.address) +
            " " + std::to_string(part.length) + " " + part.object + "\n";
  }
  return backup::Sha256Hex({reinterpret_cast<const uint8_t *>(text.data()), text.size()});
}

Content ContentOf(const backup::Backup &shape, const std::vector<backup::MemberEntry> &members) {
  Content content;
  content.family = shape.family;
  size_t at = 0;
  auto next = [&]() -> const backup::MemberEntry & {
    if (at >= members.size()) throw StoreError("a manifest with fewer members than parts");
    return members[at++];
  };
  for (const backup::Group &group : shape.groups) {
    const auto &member = next();
    content.parts.push_back(GroupPart(group, member.sha256, member.length));
  }
  for (const backup::Area &area : shape.areas) {
    const auto &member = next();
    content.parts.push_back(AreaPart(area, member.sha256, member.length));
  }
  for (const backup::Range &range : shape.ranges) {
    const auto &member = next();
    content.parts.push_back(RangePart(range, member.sha256, member.length));
  }
  content.hash = ContentHash(content.family, content.parts);
  return content;
}

Content ContentOf(const backup::Backup &whole) {
  Content content;
  content.family = whole.family;
  for (const backup::Group &g : whole.groups) {
    content.parts.push_back(GroupPart(g, backup::Sha256Hex(g.data), g.data.size()));
  }
  for (const backup::Area &a : whole.areas) {
    content.parts.push_back(AreaPart(a, backup::Sha256Hex(a.data), a.data.size()));
  }
  for (const backup::Range &r : whole.ranges) {
    content.parts.push_back(RangePart(r, backup::Sha256Hex(r.data), r.data.size()));
  }
  content.hash = ContentHash(content.family, content.parts);
  return content;
}

backup::Backup Assemble(const Content &content, const backup::Origin &origin,
                        const backup::TerminalInfo &info, const Objects &objects) {
  backup::Backup made;
  made.family = content.family;
  made.origin = origin;
  made.terminal = info;
  for (const Part &part : content.parts) {
    backup::Bytes data = objects.Get(part.object);
    if (part.kind == "group") {
      made.groups.push_back({static_cast<uint16_t>(part.number), std::move(data)});
    } else if (part.kind == "area") {
      made.areas.push_back({static_cast<uint8_t>(part.number), std::move(data)});
    } else {
      made.ranges.push_back({static_cast<uint16_t>(part.number), static_cast<int32_t>(part.address),
                             std::move(data)});
    }
  }
  backup::CheckBackup(made);
  return made;
}

}  // namespace quiblink::fleet
