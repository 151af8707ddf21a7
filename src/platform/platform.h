// The operating system as the library sees it: serial devices, threads,
// semaphores, the millisecond tick, debugger output and message boxes.
//
// Each call maps one to one onto the Win32 call named beside it. Three
// backends implement this header: posix/ (termios, pthreads), win32/ and the
// tests' fake (tests/support/fake: an in-memory line with a controllable
// clock). Nothing outside src/platform/ includes an operating-system header.
//
// posix/ and win32/ keep the same files for the same jobs, so that the twin
// of a file is found by its name: serial (the devices), threads (threads,
// semaphores, process identity), time (tick, sleep, timer resolution),
// diagnostics (debugger output, message boxes, formatting, environment),
// entry (load, unload, fork), open_failure (why an open failed), net and
// net_lookup (the socket calls and name lookups of a device server on the
// network, whose device is net/device.cpp, the same for both) and
// build.cmake.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The state block lives in a data section of its own on Windows (ordinary
// read-write, not shared: each process has its own copy).
#if defined(_WIN32) && defined(__GNUC__)
#define PLAT_STATE_SECTION __attribute__((section(".MYSEC")))
#else
#define PLAT_STATE_SECTION
#endif

namespace plat {

// Opaque handle of a device, thread or semaphore. Devices use kInvalid for
// "not open" (INVALID_HANDLE_VALUE); threads and semaphores use 0.
typedef intptr_t Handle;
constexpr Handle kInvalid = -1;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kStillActive = 259;  // exit code of a thread that runs

// ---- Serial device -------------------------------------------------------

// CreateFileA(name, read|write, no sharing, OPEN_EXISTING): exclusive open.
// Returns kInvalid on failure.
Handle DeviceOpen(const char *name);

// SetupComm: driver input and output buffer sizes.
bool DeviceSetupBuffers(Handle dev, uint32_t in_size, uint32_t out_size);

// The DCB fields the library programs.
enum { kRtsDisable = 0, kRtsEnable = 1, kRtsHandshake = 2, kRtsToggle = 3 };
enum { kParityNone = 0, kParityOdd = 1, kParityEven = 2 };
enum { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };
struct LineSettings {
  uint32_t BaudRate;
  uint8_t ByteSize;
  uint8_t Parity;
  uint8_t StopBits;
  bool Binary;
  bool ParityCheck;
  bool OutxCtsFlow;
  bool OutxDsrFlow;
  bool DsrSensitivity;
  bool TxContinueOnXoff;
  bool OutX;
  bool InX;
  bool ErrorChar;
  bool Null;
  uint8_t RtsControl;
  uint8_t DtrControl;  // kept as the device had it
  bool AbortOnError;
};
bool DeviceGetLine(Handle dev, LineSettings *settings);        // GetCommState
bool DeviceSetLine(Handle dev, const LineSettings *settings);  // SetCommState

// SetCommTimeouts. The worker sets ReadInterval to 0xFFFFFFFF and the rest to
// 0: reads return at once with what is buffered, writes have no time-out.
struct Timeouts {
  uint32_t ReadInterval;
  uint32_t ReadTotalMultiplier;
  uint32_t ReadTotalConstant;
  uint32_t WriteTotalMultiplier;
  uint32_t WriteTotalConstant;
};
bool DeviceSetTimeouts(Handle dev, const Timeouts *timeouts);

// ReadFile: never blocks; *got may be 0.
bool DeviceRead(Handle dev, void *buffer, uint32_t want, uint32_t *got);
// WriteFile: synchronous; the whole buffer is written or the call fails.
bool DeviceWrite(Handle dev, const void *buffer, uint32_t length, uint32_t *written);

// ClearCommError: error word and COMSTAT. HoldFlags has the five hold bits of
// COMSTAT in its low bits (CTS hold, DSR hold, RLSD hold, XOFF hold, XOFF
// sent).
struct LineStatus {
  uint32_t Errors;
  uint32_t HoldFlags;
  uint32_t InQueue;
  uint32_t OutQueue;
};
bool DeviceLineStatus(Handle dev, LineStatus *status);

// PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR).
bool DevicePurge(Handle dev);

// GetCommModemStatus. A device that cannot report modem lines at all (a
// pseudo-terminal, some virtual ports) answers kModemNotSupported.
enum { kCtsOn = 0x10, kDsrOn = 0x20, kRingOn = 0x40, kRlsdOn = 0x80 };
enum ModemResult { kModemOk, kModemNotSupported, kModemFailed };
ModemResult DeviceModemStatus(Handle dev, uint32_t *bits);

// Waits up to ms milliseconds for input to arrive; returns early when bytes
// are readable (or the device has an error to report). Returns false only
// when the wait itself failed.
bool DeviceWaitInput(Handle dev, uint32_t ms);

void DeviceClose(Handle dev);  // CloseHandle

// Why the calling thread's last failed open failed. DeviceOpen and
// DeviceSetupBuffers record it when they fail: the device's name and the
// system's error ("/dev/ttyUSB0: Permission denied (errno 13; ...)",
// "COM17: The system cannot find the file specified. (error 2)").
// NoteOpenFailure records a reason of the library's own, with error 0.
// LastOpenFailure copies the text (cut to fit, always terminated when size is
// not 0) and returns the system's error number; a thread without a failed
// open gets "no failed open on this thread" and 0.
void NoteOpenFailure(const char *device, const char *reason);
int32_t LastOpenFailure(char *text, size_t size);

// ---- Threads -------------------------------------------------------------

typedef uint32_t (*ThreadBody)(void *arg);
// CreateThread; returns 0 on failure.
Handle ThreadCreate(ThreadBody body, void *arg, uint32_t *thread_id);
// GetExitCodeThread: kStillActive while the thread runs.
bool ThreadExitCode(Handle thread, uint32_t *code);

enum WaitResult { kWaitSignaled, kWaitTimeout, kWaitFailed };
// WaitForSingleObject on a thread: signalled when it has ended.
WaitResult ThreadWait(Handle thread, uint32_t ms);
void ThreadClose(Handle thread);  // CloseHandle; the thread itself goes on
// True where a thread's end takes a lock that the library's unload holds
// (Win32: the loader lock), so that the unload must never wait for one.
bool ThreadEndNeedsLoader();

// ---- Semaphores ----------------------------------------------------------

// CreateSemaphoreA. A name makes a system-wide object; NULL makes one private
// to the process. Returns 0 on failure.
Handle SemaphoreCreate(const char *name, int32_t initial, int32_t maximum);
bool SemaphoreRelease(Handle sem);                  // ReleaseSemaphore by one
WaitResult SemaphoreWait(Handle sem, uint32_t ms);  // WaitForSingleObject
void SemaphoreClose(Handle sem);                    // CloseHandle

// ---- Fork ----------------------------------------------------------------

// The child of a fork() holds no device and runs no thread of its parent:
// there the backend closes its copies of every open device's descriptor (the
// parent's stay open and locked) and forgets the parent's threads, then calls
// hook on the child's only thread, so that the library forgets its ports and
// channels too. Set at load; a backend without fork() only keeps it.
void SetForkChildHook(void (*hook)());

// ---- Load and unload ------------------------------------------------------

// Why the entry point runs, with the values of the Windows loader's reasons.
enum class EntryReason : uint32_t {
  kProcessDetach = 0,
  kProcessAttach = 1,
  kThreadAttach = 2,
  kThreadDetach = 3,
};

// The library's load and unload work. Each backend's entry point calls it
// (DllMain; the shared library's constructor and destructor), and the layer
// above the platform defines it, so that the platform needs nothing of the
// library. module is the library's load address, traced only.
// process_ending marks the detach of a process that is ending, whose other
// threads are gone: the library releases its handles and waits for nothing.
void LibraryEntry(uintptr_t module, EntryReason reason, bool process_ending = false);
// True on the thread that runs the entry point for the library's load or
// unload (on Windows under the loader lock, where nothing may wait).
bool InLoaderEntry();

// ---- Time, identity, diagnostics ----------------------------------------

uint32_t TickCount();         // GetTickCount: milliseconds, wraps every 49.7 days
void SleepMs(uint32_t ms);    // Sleep
uint32_t CurrentProcessId();  // GetCurrentProcessId
uint32_t CurrentThread();     // GetCurrentThread (only ever traced)

// The system timer at 1 ms while at least one holder wants it: the first
// acquire calls timeBeginPeriod(1), the last release timeEndPeriod(1), so
// that Sleep(1) and the worker's polls take about 1 ms instead of a 15.6 ms
// tick. A no-op where the timer is fine anyway (POSIX).
void FineTimerAcquire();
void FineTimerRelease();

void DebugOutput(const char *text);  // OutputDebugStringA
// The value of an environment variable, copied and terminated; false when it
// is not set or does not fit.
bool EnvironmentValue(const char *name, char *buffer, size_t size);
void ShowMessageBox(const char *text, const char *caption);  // MessageBoxA, OK only

// wsprintfA into a buffer of the given size, always terminated. Supports %d,
// %u, %x, %X, %c, %s with widths and the 0 flag.
int FormatText(char *buffer, size_t size, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

}  // namespace plat
