// `fleet verify`: every object read again and checked against its name, every part the
// catalogue names found, the catalogue's own integrity; and what a repair would remove (a
// killed run's temporaries, objects no version names), which only a repair asked for removes.
#pragma once

#include <string>
#include <vector>

#include "store.h"

namespace quiblink::fleet {

struct VerifyReport {
  size_t objects = 0;                  // objects read and checked
  size_t versions = 0;                 // versions whose every part was found whole
  std::vector<std::string> damage;     // what no repair can mend: each names the versions it hits
  std::vector<std::string> leftovers;  // paths a repair removes
  std::vector<std::string> leftover_reasons;

  bool Consistent() const { return damage.empty(); }
};

VerifyReport VerifyStore(Store &store);

// Removes the leftovers the report names; returns one line per file removed.
std::vector<std::string> RemoveLeftovers(const VerifyReport &report);

}  // namespace quiblink::fleet
