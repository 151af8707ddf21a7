#include "verify.h"

#include <cstdio>
#include <map>
#include <set>

namespace quiblink::fleet {

VerifyReport VerifyStore(Store &store) {
  VerifyReport report;
  Catalogue &catalogue = store.catalogue();
  report.damage = catalogue.IntegrityProblems();
  const Objects::Listing listing = store.objects().List();
  const std::set<std::string> on_disk(listing.hashes.begin(), listing.hashes.end());
  std::map<std::string, std::string> used_by;  // object -> versions
  std::set<std::string> bad_contents;
  for (const Catalogue::Usage &use : catalogue.ObjectUsage()) {
    if (used_by.contains(use.object)) continue;
    used_by[use.object] = use.versions;
    std::string problem;
    if (!on_disk.contains(use.object)) {
      problem = "object " + use.object.substr(0, 12) + " is missing";
    } else {
      try {
        store.objects().Get(use.object);
        ++report.objects;
        continue;
      } catch (const StoreError &error) {
        problem = error.what();
      }
    }
    bad_contents.insert(use.content);
    report.damage.push_back(problem + " (used by " +
                            (use.versions.empty() ? "no version" : use.versions) + ")");
  }
  for (const std::string &hash : listing.hashes) {
    if (used_by.contains(hash)) continue;
    report.leftovers.push_back(store.objects().PathOf(hash));
    report.leftover_reasons.push_back(
        "an object no version names (a run stopped before it recorded it)");
  }
  for (const std::string &path : listing.temporaries) {
    report.leftovers.push_back(path);
    report.leftover_reasons.push_back("a temporary of a write that never finished");
  }
  for (const std::string &path : listing.strays) {
    report.damage.push_back(path + ": not an object; it does not belong in the objects folder");
  }
  Statement count = store.database().Prepare(
      "SELECT COUNT(*) FROM versions v JOIN contents c ON c.id = v.content");
  count.Step();
  report.versions = static_cast<size_t>(count.Int(0));
  for (const std::string &content : bad_contents) {
    Statement hit = store.database().Prepare(
        "SELECT COUNT(*) FROM versions v JOIN contents c ON c.id = v.content WHERE c.hash = ?1");
    hit.Bind(content);
    hit.Step();
    report.versions -= static_cast<size_t>(hit.Int(0));
  }
  return report;
}

std::vector<std::string> RemoveLeftovers(const VerifyReport &report) {
  std::vector<std::string> said;
  for (size_t i = 0; i < report.leftovers.size(); ++i) {
    const std::string &path = report.leftovers[i];
    said.push_back(std::remove(path.c_str()) == 0 ? "removed " + path : "could not remove " + path);
  }
  return said;
}

}  // namespace quiblink::fleet
