// Loads the shared library, opens channels on two ports (one port twice),
// lets the device of one port go away, then unloads the library with every
// channel still open, as a process that ends without closing them. Exits 0
// when the unload returned within its bound, the library is gone from the
// process and so are its port workers; prints what went wrong otherwise.
// With a second argument "busy", it ends the process instead while two
// calls wait for a terminal that has fallen silent: the library's unload at
// exit must not wait for them.
// Run by device_loss_test.cpp; first argument: the path of the shared library.
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "hardening/pty_terminal.h"
#include "support/process.h"

namespace {

using OpenFn = int16_t (*)(uint16_t, uint16_t);
using XOpenFn = int16_t (*)(uint16_t, uint16_t, uint16_t);
using ReadFn = int16_t (*)(uint16_t, uint16_t, int32_t, uint8_t *, uint16_t);
using TypeFn = int16_t (*)(uint16_t, uint32_t *, uint16_t *);

int Fail(const char *what) {
  fprintf(stderr, "unload probe: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return Fail("usage: unload_probe LIBRARY [busy]");
  const bool busy = argc > 2 && strcmp(argv[2], "busy") == 0;
  hard::PtyTerminal panel(hard::PtyTerminal::kClassic);
  hard::PtyTerminal terminal(hard::PtyTerminal::kGraphic);
  if (!panel.ok() || !terminal.ok()) return Fail("no pseudo-terminal");
  setenv("QUIBLINK_COM7", panel.path(), 1);
  setenv("QUIBLINK_COM8", terminal.path(), 1);

  const int before = process::ThreadCount();
  void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return Fail(dlerror());
  auto open = reinterpret_cast<OpenFn>(dlsym(library, "QUIB_Open"));
  auto xopen = reinterpret_cast<XOpenFn>(dlsym(library, "XQUIB_Open"));
  auto read = reinterpret_cast<ReadFn>(dlsym(library, "QUIB_Read"));
  auto type = reinterpret_cast<TypeFn>(dlsym(library, "XQUIB_GetKEWType"));
  if (!open || !xopen || !read || !type) return Fail("exports missing");

  const int16_t a = open(6, 0), b = open(6, 0), c = xopen(7, 38400, 0);
  if (a < 0 || b < 0 || c < 0) return Fail("open failed");
  uint8_t buffer[16];
  uint32_t kind = 0;
  uint16_t status = 0;
  if (read(uint16_t(a), 0, 0, buffer, 16) != 0 || type(uint16_t(c), &kind, &status) != 0) {
    return Fail("exchange failed");
  }
  if (process::ThreadCount() != before + 2) return Fail("not one worker per port");

  if (busy) {
    terminal.SetMode(hard::PtyTerminal::kSilent);
    const int16_t d = xopen(7, 38400, 0);
    for (int16_t h : {c, d}) {
      std::thread([type, h] {
        uint32_t k = 0;
        uint16_t st = 0;
        type(uint16_t(h), &k, &st);
      }).detach();
    }
    usleep(300000);  // both calls are under way: one on the line, one queued
    exit(0);
  }

  panel.HangUp();
  const auto start = std::chrono::steady_clock::now();
  dlclose(library);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  printf("unloaded with 3 channels open in %lld ms\n", static_cast<long long>(took));
  if (took > 5000) return Fail("unload took longer than 5 s");
  if (process::Mapped("libquiblink")) return Fail("library still mapped after the unload");
  if (process::ThreadCount() != before) return Fail("port workers still running after the unload");
  return 0;
}
