#include "compare.h"

#include <map>

#include "wire/hex.h"

namespace quiblink::fleet {
namespace {

std::string Number(uint64_t value) {
  return std::to_string(value);
}

void Field(std::vector<std::string> &out, const std::string &name, const std::string &from,
           const std::string &to) {
  if (from != to) out.push_back(name + " " + from + " -> " + to);
}

std::string Pair(uint64_t a, uint64_t b) {
  return Number(a) + ", " + Number(b);
}

}  // namespace

std::string PartChange::Describe() const {
  if (change == "added") return key + " added (" + Number(new_length) + " bytes)";
  if (change == "removed") return key + " removed (" + Number(old_length) + " bytes)";
  return key + " changed (" + Number(old_length) + " -> " + Number(new_length) + " bytes)";
}

std::vector<PartChange> CompareContents(const Content &from, const Content &to) {
  std::map<std::string, const Part *> before;
  for (const Part &part : from.parts) before[part.Key()] = &part;
  std::vector<PartChange> changes;
  for (const Part &part : to.parts) {
    auto found = before.find(part.Key());
    if (found == before.end()) {
      changes.push_back({part.Key(), "added", 0, part.length});
      continue;
    }
    if (found->second->object != part.object) {
      changes.push_back({part.Key(), "changed", found->second->length, part.length});
    }
    before.erase(found);
  }
  for (const Part &part : from.parts) {
    if (before.contains(part.Key())) changes.push_back({part.Key(), "removed", part.length, 0});
  }
  return changes;
}

std::vector<std::string> CompareInfo(const backup::TerminalInfo &from,
                                     const backup::TerminalInfo &to, bool quick) {
  std::vector<std::string> out;
  Field(out, "project name", wire::Quoted(from.project_name), wire::Quoted(to.project_name));
  Field(out, "project values", Pair(from.project_value1, from.project_value2),
        Pair(to.project_value1, to.project_value2));
  if (quick) {
    Field(out, "memory data",
          std::to_string(from.memory[0]) + ", " + std::to_string(from.memory[1]) + ", " +
              std::to_string(from.memory[2]),
          std::to_string(to.memory[0]) + ", " + std::to_string(to.memory[1]) + ", " +
              std::to_string(to.memory[2]));
    return out;
  }
  Field(out, "terminal type", Number(from.type), Number(to.type));
  Field(out, "OS information", Pair(from.os_entry_00, from.os_entry_80),
        Pair(to.os_entry_00, to.os_entry_80));
  return out;
}

int CheckExitStatus(const std::vector<std::string> &states) {
  int status = 0;
  for (const std::string &state : states) {
    if (state == kUnreachable) return 2;
    if (state != kSame) status = 1;
  }
  return status;
}

}  // namespace quiblink::fleet
