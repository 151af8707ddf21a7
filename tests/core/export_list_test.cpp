// The export list against the module definition file that the Windows DLL is
// linked with: the same exports, under the same decorated names, in the same
// order. The list's signatures are held to the headers when the library is
// compiled. So are the lists that users read: the export table of
// docs/windows.md and the declarations of the C# binding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

std::string Trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t`");
  const size_t last = text.find_last_not_of(" \t`");
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The rows of windows.md's export table: `| `Name` | `_Name@N` | ...`.
std::vector<std::string> WindowsDocNames() {
  std::ifstream doc(QUIBLINK_WINDOWS_DOC_PATH);
  std::vector<std::string> names;
  std::string line;
  while (std::getline(doc, line)) {
    if (line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream row(line.substr(1));
    std::string cell;
    while (std::getline(row, cell, '|')) cells.push_back(Trimmed(cell));
    if (cells.size() < 2 || cells[1].rfind('_', 0) != 0) continue;
    EXPECT_EQ(cells[1].substr(0, cells[0].size() + 2), "_" + cells[0] + "@") << line;
    names.push_back(cells[1]);
  }
  return names;
}

// The C# declarations: an attribute line with `EntryPoint = Pre + "Name" + AtN`
// and, on the next line, `static extern ... Name(...)` with N / 4 parameters.
std::vector<std::string> CSharpNames() {
  std::ifstream source(QUIBLINK_CSHARP_PATH);
  std::vector<std::string> names;
  std::string line;
  const std::string entry = "EntryPoint = Pre + \"";
  while (std::getline(source, line)) {
    const size_t at = line.find(entry);
    if (at == std::string::npos) continue;
    const size_t name_start = at + entry.size();
    const size_t name_end = line.find('"', name_start);
    const size_t size_at = line.find("+ At", name_end);
    if (name_end == std::string::npos || size_at == std::string::npos) {
      ADD_FAILURE() << "unreadable declaration: " << line;
      continue;
    }
    const std::string name = line.substr(name_start, name_end - name_start);
    const int stack_bytes = std::atoi(line.c_str() + size_at + 4);
    std::string declaration;
    std::getline(source, declaration);
    const size_t open = declaration.find(" " + name + "(");
    const size_t close = declaration.rfind(')');
    if (declaration.find("static extern") == std::string::npos || open == std::string::npos ||
        close == std::string::npos) {
      ADD_FAILURE() << name << " is declared as: " << declaration;
      continue;
    }
    const std::string parameters =
        Trimmed(declaration.substr(open + name.size() + 2, close - open - name.size() - 2));
    const int count =
        parameters.empty()
            ? 0
            : 1 + static_cast<int>(std::count(parameters.begin(), parameters.end(), ','));
    EXPECT_EQ(count * 4, stack_bytes) << declaration;
    names.push_back("_" + name + "@" + std::to_string(stack_bytes));
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

TEST(ExportList, WindowsDocumentListsEveryExport) {
  EXPECT_EQ(WindowsDocNames(), DefNames()) << QUIBLINK_WINDOWS_DOC_PATH;
}

TEST(ExportList, CSharpBindingDeclaresEveryExport) {
  EXPECT_EQ(CSharpNames(), DefNames()) << QUIBLINK_CSHARP_PATH;
}

}  // namespace
