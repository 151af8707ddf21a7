// Serial devices on the Win32 communications API. The handle is opened
// without overlapped I/O: the port worker is the only thread that uses it, and
// its reads return at once because of the time-outs it programs. A name that
// is a URL is a device server on the network (platform/net/device.h): the
// open makes the connection, and every later call is handed to it by handle.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string.h>

#include "platform/net/device.h"
#include "platform/net/url.h"
#include "platform/platform.h"
#include "platform/win32/open_failure.h"

namespace plat {

namespace {

HANDLE Native(Handle dev) {
  return reinterpret_cast<HANDLE>(dev);
}

// Under wine a COM port is a host device. A pseudo-terminal standing in for
// one carries 8N1 only, and some kernels refuse any other frame, after wine
// has set the rate. There a refused frame is taken when the device runs at
// the rate asked for; on Windows every refusal counts.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// "COM10" and above exist only in the device namespace: such a name is
// opened as "\\.\COMn". Every other name is opened as it is.
bool NeedsDevicePrefix(const char *name) {
  if (strncmp(name, "COM", 3) != 0 || name[3] == '\0') return false;
  for (const char *p = name + 3; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return strlen(name) > 4;  // two digits or more
}

// GetCommState into a DCB of the right size.
bool ReadDcb(Handle dev, DCB *dcb) {
  *dcb = DCB{};
  dcb->DCBlength = sizeof(DCB);
  return GetCommState(Native(dev), dcb) != 0;
}

// ClearCommError: the error word, cleared by the call, and COMSTAT.
bool ReadCommErrors(Handle dev, DWORD *errors, COMSTAT *stat) {
  *errors = 0;
  *stat = COMSTAT{};
  return ClearCommError(Native(dev), errors, stat) != 0;
}

}  // namespace

Handle DeviceOpen(const char *name) {
  char prefixed[300];
  if (name == nullptr) return kInvalid;
  if (net::SchemeOf(name) != net::kNotUrl) {
    net::NetOpenFailure failure;
    const Handle connection = net::NetOpen(name, &failure);
    if (connection == kInvalid) NoteOpenFailureWithError(name, failure.reason, failure.error);
    return connection;
  }
  if (NeedsDevicePrefix(name) && strlen(name) < sizeof prefixed - 4) {
    memcpy(prefixed, "\\\\.\\", 4);
    memcpy(prefixed + 4, name, strlen(name) + 1);
    name = prefixed;
  }
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    NoteSystemOpenFailure(name, GetLastError());
    return kInvalid;
  }
  return reinterpret_cast<Handle>(h);
}

bool DeviceSetupBuffers(Handle dev, uint32_t in_size, uint32_t out_size) {
  if (net::IsNetworkDevice(dev)) return true;
  if (SetupComm(Native(dev), in_size, out_size) != 0) return true;
  NoteSystemOpenFailure("the serial device (buffer sizes)", GetLastError());
  return false;
}

bool DeviceGetLine(Handle dev, LineSettings *settings) {
  if (net::IsNetworkDevice(dev)) return net::NetGetLine(dev, settings);
  DCB dcb;
  if (!ReadDcb(dev, &dcb)) return false;
  settings->BaudRate = dcb.BaudRate;
  settings->ByteSize = dcb.ByteSize;
  settings->Parity = dcb.Parity;
  settings->StopBits = dcb.StopBits;
  settings->Binary = dcb.fBinary;
  settings->ParityCheck = dcb.fParity;
  settings->OutxCtsFlow = dcb.fOutxCtsFlow;
  settings->OutxDsrFlow = dcb.fOutxDsrFlow;
  settings->DsrSensitivity = dcb.fDsrSensitivity;
  settings->TxContinueOnXoff = dcb.fTXContinueOnXoff;
  settings->OutX = dcb.fOutX;
  settings->InX = dcb.fInX;
  settings->ErrorChar = dcb.fErrorChar;
  settings->Null = dcb.fNull;
  settings->RtsControl = static_cast<uint8_t>(dcb.fRtsControl);
  settings->DtrControl = static_cast<uint8_t>(dcb.fDtrControl);
  settings->AbortOnError = dcb.fAbortOnError;
  return true;
}

// The DCB fields that LineSettings does not carry (XON/XOFF limits and
// characters, the error, end-of-file and event characters) keep the device's
// values: the device's state is read first and only our fields are replaced.
bool DeviceSetLine(Handle dev, const LineSettings *settings) {
  if (net::IsNetworkDevice(dev)) return net::NetSetLine(dev, settings);
  DCB dcb;
  if (!ReadDcb(dev, &dcb)) return false;
  dcb.BaudRate = settings->BaudRate;
  dcb.ByteSize = settings->ByteSize;
  dcb.Parity = settings->Parity;
  dcb.StopBits = settings->StopBits;
  dcb.fBinary = settings->Binary;
  dcb.fParity = settings->ParityCheck;
  dcb.fOutxCtsFlow = settings->OutxCtsFlow;
  dcb.fOutxDsrFlow = settings->OutxDsrFlow;
  dcb.fDsrSensitivity = settings->DsrSensitivity;
  dcb.fTXContinueOnXoff = settings->TxContinueOnXoff;
  dcb.fOutX = settings->OutX;
  dcb.fInX = settings->InX;
  dcb.fErrorChar = settings->ErrorChar;
  dcb.fNull = settings->Null;
  dcb.fRtsControl = settings->RtsControl;
  dcb.fDtrControl = settings->DtrControl;
  dcb.fAbortOnError = settings->AbortOnError;
  if (SetCommState(Native(dev), &dcb)) return true;
  if (!UnderWine()) return false;
  DCB now;
  return ReadDcb(dev, &now) && now.BaudRate == settings->BaudRate;
}

bool DeviceSetTimeouts(Handle dev, const Timeouts *timeouts) {
  if (net::IsNetworkDevice(dev)) return net::NetSetTimeouts(dev, timeouts);
  COMMTIMEOUTS t = {};
  t.ReadIntervalTimeout = timeouts->ReadInterval;
  t.ReadTotalTimeoutMultiplier = timeouts->ReadTotalMultiplier;
  t.ReadTotalTimeoutConstant = timeouts->ReadTotalConstant;
  t.WriteTotalTimeoutMultiplier = timeouts->WriteTotalMultiplier;
  t.WriteTotalTimeoutConstant = timeouts->WriteTotalConstant;
  return SetCommTimeouts(Native(dev), &t) != 0;
}

bool DeviceRead(Handle dev, void *buffer, uint32_t want, uint32_t *got) {
  if (net::IsNetworkDevice(dev)) return net::NetRead(dev, buffer, want, got);
  DWORD n = 0;
  BOOL ok = ReadFile(Native(dev), buffer, want, &n, nullptr);
  *got = ok ? n : 0;
  return ok != 0;
}

// The worker programs a total write time-out that covers the whole buffer
// (WriteTotalTimeoutConstant): a synchronous write that returns short has run
// out of it, the adapter has stalled, and the attempt ends there.
bool DeviceWrite(Handle dev, const void *buffer, uint32_t length, uint32_t *written) {
  if (net::IsNetworkDevice(dev)) return net::NetWrite(dev, buffer, length, written);
  DWORD n = 0;
  BOOL ok = WriteFile(Native(dev), buffer, length, &n, nullptr);
  *written = ok ? n : 0;
  return ok != 0 && n == length;
}

bool DeviceLineStatus(Handle dev, LineStatus *status) {
  if (net::IsNetworkDevice(dev)) return net::NetLineStatus(dev, status);
  DWORD errors;
  COMSTAT stat;
  if (!ReadCommErrors(dev, &errors, &stat)) return false;
  status->Errors = errors;
  status->HoldFlags = (stat.fCtsHold ? 0x01u : 0u) | (stat.fDsrHold ? 0x02u : 0u) |
                      (stat.fRlsdHold ? 0x04u : 0u) | (stat.fXoffHold ? 0x08u : 0u) |
                      (stat.fXoffSent ? 0x10u : 0u);
  status->InQueue = stat.cbInQue;
  status->OutQueue = stat.cbOutQue;
  return true;
}

bool DevicePurge(Handle dev) {
  if (net::IsNetworkDevice(dev)) return net::NetPurge(dev);
  return PurgeComm(Native(dev), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

ModemResult DeviceModemStatus(Handle dev, uint32_t *bits) {
  if (net::IsNetworkDevice(dev)) return net::NetModemStatus(dev, bits);
  DWORD status = 0;
  if (GetCommModemStatus(Native(dev), &status)) {
    *bits = status;
    return kModemOk;
  }
  *bits = 0;
  switch (GetLastError()) {
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return kModemNotSupported;
    default:
      return kModemFailed;
  }
}

// Reads return at once under the worker's time-outs, and a non-overlapped
// handle offers no wait with a time limit, so the input queue is watched
// instead, a millisecond at a time.
bool DeviceWaitInput(Handle dev, uint32_t ms) {
  if (net::IsNetworkDevice(dev)) return net::NetWaitInput(dev, ms);
  const uint32_t start = TickCount();
  for (;;) {
    DWORD errors;
    COMSTAT stat;
    if (!ReadCommErrors(dev, &errors, &stat)) return false;
    if (stat.cbInQue > 0 || errors != 0) return true;
    if (TickCount() - start >= ms) return true;
    SleepMs(1);
  }
}

void DeviceClose(Handle dev) {
  if (net::IsNetworkDevice(dev)) return net::NetClose(dev);
  if (dev != kInvalid) CloseHandle(Native(dev));
}

}  // namespace plat
