// quiblink.dll (quiblink64.dll) loaded at run time, as an application in
// another language uses it: every export looked up by its exported name. On
// 32-bit Windows that is the decorated stdcall name, derived here from the
// declaration in the public header; on 64-bit Windows the plain name.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"

// Every export of the public headers.
// clang-format off
#define QUIB_EXPORTS(X) \
  X(QUIB_Version) \
  X(QUIB_Open) \
  X(XQUIB_Open) \
  X(QUIB_Close) \
  X(QUIB_Read) \
  X(QUIB_Write) \
  X(XQUIB_ReadAll) \
  X(XQUIB_Read1G) \
  X(XQUIB_Read) \
  X(XQUIB_Write) \
  X(XQUIB_OSInstl) \
  X(XQUIB_Start) \
  X(XQUIB_Offline) \
  X(XQUIB_SWReset) \
  X(XQUIB_Reset) \
  X(XQUIB_Break) \
  X(XQUIB_GetMemData) \
  X(XQUIB_GetOsInfo) \
  X(XQUIB_GetProjInfo) \
  X(XQUIB_DelUserData) \
  X(XQUIB_CheckPassword) \
  X(XQUIB_GetKEWType) \
  X(XQUIB_BrateChange) \
  X(QUIB_SetTraceHandler) \
  X(XQUIB_ReadAllEx) \
  X(XQUIB_Read1GEx) \
  X(XQUIB_ReadEx) \
  X(XQUIB_WriteEx) \
  X(XQUIB_OSInstlEx) \
  X(QUIB_SetEngineStyle) \
  X(QUIB_GetEngineStyle) \
  X(QUIB_SetMessageBoxes) \
  X(QUIB_SetPortDevice) \
  X(QUIB_ResultText) \
  X(QUIB_LastOpenError)
// clang-format on

namespace wintest {

// Bytes of arguments a stdcall function takes off the stack: each argument
// fills at least one 32-bit slot.
template <typename F>
struct ArgBytes;
template <typename R, typename... A>
struct ArgBytes<R(QUIB_CALL *)(A...)> {
  static constexpr int value = (0 + ... + static_cast<int>((sizeof(A) + 3) / 4 * 4));
};

struct Quib {
  HMODULE Module = nullptr;
#define QUIB_MEMBER(name) decltype(&::name) name = nullptr;
  QUIB_EXPORTS(QUIB_MEMBER)
#undef QUIB_MEMBER
};

// The exported names of QUIB_EXPORTS: "_QUIB_Open@8" and so on on 32-bit
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
