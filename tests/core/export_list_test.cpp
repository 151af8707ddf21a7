// The export list against the module definition file that the Windows DLL is
// linked with: the same exports, under the same decorated names, in the same
// order. The list's signatures are held to the headers when the library is
// compiled.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "exports/export_list.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"

namespace {

// An export line reads `_Name@N = Name@N`; other lines (the header, comments,
// blank ones) do not have that form.
std::vector<std::string> DefNames() {
  std::ifstream def(QUIBLINK_DEF_PATH);
  std::vector<std::string> names;
  std::string line;
  while (std::getline(def, line)) {
    std::istringstream words(line);
    std::string decorated, equals, symbol, rest;
    if (!(words >> decorated >> equals >> symbol) || (words >> rest) || equals != "=" ||
        decorated.size() < 2 || decorated[0] != '_' || decorated.find('@') == std::string::npos) {
      continue;
    }
    // The right side is the function's own symbol: the same name without the
    // leading underscore.
    EXPECT_EQ(decorated, "_" + symbol) << line;
    names.push_back(decorated);
  }
  return names;
}

TEST(ExportList, MatchesTheModuleDefinitionNameForName) {
  std::vector<std::string> listed;
#define QUIB_DECORATED(result, name, parameters, stack_bytes) \
  listed.push_back("_" #name "@" + std::to_string(stack_bytes));
  QUIB_EXPORT_LIST(QUIB_DECORATED)
#undef QUIB_DECORATED
  const std::vector<std::string> defined = DefNames();
  ASSERT_GE(defined.size(), 23u) << QUIBLINK_DEF_PATH;
  EXPECT_EQ(listed, defined);
}

}  // namespace
