// The shared library's load and unload hooks stand in for the loader entry
// point: process attach when the library is loaded, process detach when it is
// unloaded (or the process exits). Thread attach and detach are not reported
// on this platform.
#include <dlfcn.h>
#include <stdint.h>

#include "platform/platform.h"

namespace {

// The module value of the traces: the library's load address.
uintptr_t ModuleAddress() {
  static const char marker = 0;
  Dl_info info;
  if (dladdr(&marker, &info) != 0 && info.dli_fbase != nullptr) {
    return reinterpret_cast<uintptr_t>(info.dli_fbase);
  }
  return reinterpret_cast<uintptr_t>(&marker);
}

__attribute__((constructor)) void LibraryLoaded() {
  plat::LibraryEntry(ModuleAddress(), plat::EntryReason::kProcessAttach);
}

__attribute__((destructor)) void LibraryUnloaded() {
  plat::LibraryEntry(ModuleAddress(), plat::EntryReason::kProcessDetach);
}

}  // namespace
