// The system's side of the name lookups (net/lookup.h) on Winsock:
// getaddrinfo, and a thread that holds a reference to the library's module
// and one to Winsock while it runs. A lookup left behind by its caller may
// outlast the program's FreeLibrary and the close of the last network port;
// the references keep the code it runs loaded and Winsock started, and the
// thread gives them back as it ends (FreeLibraryAndExitThread), so the unload
// happens then, on that thread.
//
// No AI_ADDRCONFIG: Windows does not count the loopback addresses as
// configured, and a machine without a network would find no address for
// "localhost".
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "platform/net/lookup.h"
#include "platform/win32/open_failure.h"

namespace plat::net {

namespace {

HMODULE ModuleOf(const void *address, DWORD flags) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags,
                          static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

DWORD WINAPI Launch(LPVOID job) {
  RunLookup(job);
  WSACleanup();  // the reference StartLookupThread took
  HMODULE self = ModuleOf(reinterpret_cast<const void *>(&Launch),
                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
  FreeLibraryAndExitThread(self, 0);
}

}  // namespace

bool SystemLookup(const char *host, const char *port, bool numeric_only, LookupAnswer *answer) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | (numeric_only ? AI_NUMERICHOST : 0);
  addrinfo *found = nullptr;
  const int code = getaddrinfo(host, port, &hints, &found);
  if (code == 0) {
    answer->addresses = found;
    return true;
  }
  answer->addresses = nullptr;
  answer->error = code;
  SystemMessage(static_cast<DWORD>(code), answer->text, sizeof answer->text);
  return false;
}

void SystemLookupFree(void *addresses) {
  freeaddrinfo(static_cast<addrinfo *>(addresses));
}

bool StartLookupThread(void *job) {
  // The thread's reference to the module, given back by the thread itself.
  HMODULE self = ModuleOf(reinterpret_cast<const void *>(&Launch), 0);
  if (self == nullptr) return false;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    FreeLibrary(self);
    return false;
  }
  HANDLE thread = CreateThread(nullptr, 0, Launch, job, 0, nullptr);
  if (thread == nullptr) {
    WSACleanup();
    FreeLibrary(self);
    return false;
  }
  CloseHandle(thread);
  return true;
}

}  // namespace plat::net
