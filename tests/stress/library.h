// The shared library loaded at run time, so that a program can unload it
// while channels are still open, as a process does when it ends without
// closing them. Every export is reached through this table.
#pragma once

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <stdexcept>
#include <string>

#include "exports/export_list.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"
#include "support/process.h"

namespace stress {

class Library {
 public:
#define QUIB_MEMBER(result, name, parameters, stack_bytes) \
  result(QUIB_CALL *name) parameters = nullptr;
  QUIB_EXPORT_LIST(QUIB_MEMBER)
#undef QUIB_MEMBER

  explicit Library(const char *path) {
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
#define QUIB_RESOLVE(result, name, parameters, stack_bytes)       \
  name = reinterpret_cast<decltype(name)>(dlsym(handle_, #name)); \
  if (name == nullptr) throw std::runtime_error("export missing: " #name);
    QUIB_EXPORT_LIST(QUIB_RESOLVE)
#undef QUIB_RESOLVE
  }

  // Unloads the library; every export is gone afterwards.
  void Unload() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
  }

 private:
  void *handle_ = nullptr;
};

using process::Mapped;
using process::ThreadCount;

}  // namespace stress
