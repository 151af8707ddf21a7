#include "dll_calls.h"

namespace wintest {

namespace {

std::string ExportName(const char *name, int stack_bytes) {
#if defined(_WIN64)
  (void)stack_bytes;
  return name;
#else
  return std::string("_") + name + "@" + std::to_string(stack_bytes);
#endif
}

}  // namespace

std::vector<std::string> ExportNames() {
  std::vector<std::string> names;
#define QUIB_NAME(result, name, parameters, stack_bytes) \
  names.push_back(ExportName(#name, stack_bytes));
  QUIB_EXPORT_LIST(QUIB_NAME)
#undef QUIB_NAME
  return names;
}

bool LoadQuib(const char *path, Quib *quib, std::vector<std::string> *missing) {
  *quib = Quib();
  quib->Module = LoadLibraryA(path);
  if (quib->Module == nullptr) return false;
#define QUIB_FIND(result, name, parameters, stack_bytes)                                 \
  {                                                                                      \
    std::string exported = ExportName(#name, stack_bytes);                               \
    FARPROC proc = GetProcAddress(quib->Module, exported.c_str());                       \
    if (proc == nullptr) missing->push_back(exported);                                   \
    quib->name = reinterpret_cast<decltype(quib->name)>(reinterpret_cast<void *>(proc)); \
  }
  QUIB_EXPORT_LIST(QUIB_FIND)
#undef QUIB_FIND
  return missing->empty();
}

void UnloadQuib(Quib *quib) {
  if (quib->Module != nullptr) FreeLibrary(quib->Module);
  *quib = Quib();
}

std::vector<std::string> ExportedNames(HMODULE module) {
  std::vector<std::string> names;
  const BYTE *base = reinterpret_cast<const BYTE *>(module);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0) return names;
  auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
  auto name_rvas = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    names.push_back(reinterpret_cast<const char *>(base + name_rvas[i]));
  }
  return names;
}

}  // namespace wintest
