// quiblink.dll (quiblink64.dll) loaded at run time, as an application in
// another language uses it: every export looked up by its exported name. On
// 32-bit Windows that is the decorated stdcall name, derived here from the
// declaration in the public header; on 64-bit Windows the plain name.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "exports/export_list.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"

namespace wintest {

struct Quib {
  HMODULE Module = nullptr;
#define QUIB_MEMBER(result, name, parameters, stack_bytes) \
  result(QUIB_CALL *name) parameters = nullptr;
  QUIB_EXPORT_LIST(QUIB_MEMBER)
#undef QUIB_MEMBER
};

// The exported names of the export list: "_QUIB_Open@8" and so on on 32-bit
// Windows, "QUIB_Open" and so on on 64-bit Windows.
std::vector<std::string> ExportNames();

// The DLL of this build's width.
#if defined(_WIN64)
constexpr const char *kDllName = "quiblink64.dll";
#else
constexpr const char *kDllName = "quiblink.dll";
#endif

// Loads the DLL and finds every export; the names not found go to *missing.
bool LoadQuib(const char *path, Quib *quib, std::vector<std::string> *missing);
void UnloadQuib(Quib *quib);

// Every name in the export directory of a loaded module.
std::vector<std::string> ExportedNames(HMODULE module);

}  // namespace wintest
