"""Finding and binding the QUIBLINK shared library.

Search order: the path in ``QUIBLINK_LIBRARY``; then, on Windows, ``quiblink64.dll`` in a
64-bit Python or ``quiblink.dll`` in a 32-bit one (through ``WinDLL``: the exports are stdcall
there and carry decorated names such as ``_QUIB_Open@8``); elsewhere the installed
``libquiblink.so.2``, then whatever ``ctypes.util.find_library("quiblink")`` names.

The table of prototypes repeats the library's export list (``src/exports/export_list.h``); a test
holds every width and signedness to it. Loading the library turns its message boxes off for this
process: their texts go to the trace, never to a dialog or to standard error.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import struct
import sys
import threading
from typing import Any, Optional

# The major version of the binary interface this package speaks (the SONAME's number).
ABI_MAJOR = 2

_WINDOWS = sys.platform == "win32"
_BITS32 = struct.calcsize("P") == 4

c_int16, c_uint16, c_uint8 = ctypes.c_int16, ctypes.c_uint16, ctypes.c_uint8
c_int32, c_uint32 = ctypes.c_int32, ctypes.c_uint32
P = ctypes.POINTER
_bytes_in = ctypes.c_char_p  # const uint8_t *: Python bytes pass as they are
_buffer_out = ctypes.c_void_p  # uint8_t *: a ctypes buffer

# Callbacks take the exports' calling convention: stdcall in the 32-bit DLL.
if _WINDOWS and _BITS32:
    _FUNCTYPE = ctypes.WINFUNCTYPE  # type: ignore[attr-defined]
else:
    _FUNCTYPE = ctypes.CFUNCTYPE

# The callback type of the sized transfers: (done, total, user).
PROGRESS = _FUNCTYPE(None, c_uint32, c_uint32, ctypes.c_void_p)
# The trace handler: (text, user).
TRACE = _FUNCTYPE(None, ctypes.c_char_p, ctypes.c_void_p)


class GroupEntry(ctypes.Structure):
    """One entry of the group table of ``XQUIB_ReadAllGroups``: three 32-bit fields."""

    _fields_ = [("group", c_uint32), ("offset", c_uint32), ("length", c_uint32)]


# name: (result type, argument types)
_PROTOTYPES: dict[str, tuple[Any, list[Any]]] = {
    "QUIB_Version": (c_int16, []),
    "QUIB_Open": (c_int16, [c_uint16, c_uint16]),
    "XQUIB_Open": (c_int16, [c_uint16, c_uint16, c_uint16]),
    "QUIB_Close": (c_int16, [c_uint16]),
    "QUIB_Read": (c_int16, [c_uint16, c_uint16, c_int32, _buffer_out, c_uint16]),
    "QUIB_Write": (c_int16, [c_uint16, c_uint16, c_int32, c_uint16, _bytes_in]),
    "XQUIB_Start": (c_int16, [c_uint16]),
    "XQUIB_Offline": (c_int16, [c_uint16, P(c_uint16)]),
    "XQUIB_SWReset": (c_int16, [c_uint16, P(c_uint16)]),
    "XQUIB_Reset": (c_int16, [c_uint16, P(c_uint16)]),
    "XQUIB_Break": (c_int16, [c_uint16, P(c_uint16)]),
    "XQUIB_DelUserData": (c_int16, [c_uint16, P(c_uint16)]),
    "XQUIB_GetMemData": (c_int16, [c_uint16, P(c_int32), P(c_int32), P(c_int32), P(c_uint16)]),
    "XQUIB_GetOsInfo": (c_int16, [c_uint16, P(c_uint32), P(c_uint32), P(c_uint16)]),
    "XQUIB_GetProjInfo": (
        c_int16,
        [c_uint16, P(c_uint32), P(c_uint32), _buffer_out, P(c_uint16), P(c_uint16)],
    ),
    "XQUIB_CheckPassword": (c_int16, [c_uint16, _bytes_in, c_uint16, P(c_uint16)]),
    "XQUIB_GetKEWType": (c_int16, [c_uint16, P(c_uint32), P(c_uint16)]),
    "XQUIB_BrateChange": (c_int16, [c_uint16, c_uint16, P(c_uint16)]),
    "XQUIB_ReadAllEx": (
        c_int16,
        [c_uint16, _buffer_out, c_uint32, P(c_int32), P(c_uint16), PROGRESS, ctypes.c_void_p],
    ),
    "XQUIB_Read1GEx": (
        c_int16,
        [c_uint16, c_uint16, _buffer_out, c_uint32, P(c_int32), P(c_uint16), PROGRESS,
         ctypes.c_void_p],
    ),
    "XQUIB_ReadEx": (
        c_int16,
        [c_uint16, c_uint8, _buffer_out, c_uint32, P(c_int32), P(c_uint16), PROGRESS,
         ctypes.c_void_p],
    ),
    "XQUIB_WriteEx": (
        c_int16,
        [c_uint16, c_uint8, c_uint16, c_uint32, _bytes_in, P(c_uint16), PROGRESS,
         ctypes.c_void_p],
    ),
    "XQUIB_OSInstlEx": (
        c_int16,
        [c_uint16, c_uint8, c_uint8, c_uint32, _bytes_in, P(c_uint16), PROGRESS,
         ctypes.c_void_p],
    ),
    "XQUIB_ReadAllGroups": (
        c_int16,
        [c_uint16, _buffer_out, c_uint32, P(c_int32), P(GroupEntry), c_uint32, P(c_uint32),
         P(c_uint16), c_uint32, PROGRESS, ctypes.c_void_p],
    ),
    "QUIB_ResultText": (ctypes.c_char_p, [c_int16]),
    "QUIB_LastOpenError": (c_int32, [ctypes.c_char_p, c_uint16]),
    "QUIB_SetTraceHandler": (None, [TRACE, ctypes.c_void_p]),
    "QUIB_SetMessageBoxes": (None, [ctypes.c_int]),
    "QUIB_SetPortDevice": (c_int16, [c_uint16, ctypes.c_char_p]),
    "QUIB_CancelTransfer": (c_int16, [c_uint16]),
}


class Library:
    """The loaded library with every export bound by its plain name."""

    def __init__(self, path: str, handle: ctypes.CDLL) -> None:
        self.path = path
        self.handle = handle
        for name, (restype, argtypes) in _PROTOTYPES.items():
            function = _export(handle, name, len(argtypes))
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)

    def __getattr__(self, name: str) -> Any:  # for type checkers: the exports above
        raise AttributeError(name)


def _export(handle: ctypes.CDLL, name: str, argument_count: int) -> Any:
    if _WINDOWS and _BITS32:
        # stdcall: every argument takes 4 bytes on the stack.
        return getattr(handle, "_%s@%d" % (name, 4 * argument_count))
    return getattr(handle, name)


def _candidates() -> list[str]:
    override = os.environ.get("QUIBLINK_LIBRARY")
    if override:
        return [override]
    if _WINDOWS:
        return ["quiblink.dll" if _BITS32 else "quiblink64.dll"]
    names = ["libquiblink.so.%d" % ABI_MAJOR]
    found = ctypes.util.find_library("quiblink")
    if found:
        names.append(found)
    return names


_lock = threading.Lock()
_loaded: Optional[Library] = None


def library() -> Library:
    """The library, loaded on first use; raises OSError naming every place tried."""
    global _loaded
    with _lock:
        if _loaded is None:
            tried = []
            for candidate in _candidates():
                try:
                    if _WINDOWS:
                        handle = ctypes.WinDLL(candidate)  # type: ignore[attr-defined]
                    else:
                        handle = ctypes.CDLL(candidate)
                except OSError as error:
                    tried.append("%s (%s)" % (candidate, error))
                    continue
                _loaded = Library(candidate, handle)
                _loaded.QUIB_SetMessageBoxes(0)
                break
            else:
                raise OSError(
                    "the QUIBLINK library cannot be loaded; set QUIBLINK_LIBRARY to its path. "
                    "Tried: " + "; ".join(tried)
                )
        return _loaded
