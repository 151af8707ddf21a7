// The export list against the module definition file that the Windows DLL is
// linked with: the same exports, under the same decorated names, in the same
// order. The list's signatures are held to the headers when the library is
// compiled.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "exports/export_list.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"

namespace {

std::vector<std::string> DefNames() {
  std::ifstream def(QUIBLINK_DEF_PATH);
  std::vector<std::string> names;
  const std::regex exported(R"(^\s*(_\w+@\d+)\s*=\s*(\w+@\d+)\s*$)");
  std::string line;
  while (std::getline(def, line)) {
    std::smatch match;
    if (!std::regex_match(line, match, exported)) continue;
    // The right side is the function's own symbol: the same name without the
    // leading underscore.
    EXPECT_EQ(match[1].str(), "_" + match[2].str()) << line;
    names.push_back(match[1].str());
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
