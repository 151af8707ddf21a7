"""QUIBLINK from Python: operator display terminals over a serial line.

A pure-Python layer over the QUIBLINK shared library (``libquiblink.so.2``, ``quiblink.dll``)
through ctypes. Back up a graphic terminal and put it back::

    import quiblink
    with quiblink.GraphicTerminal("/dev/ttyUSB0", baud=38400) as terminal:
        terminal.backup().save("plant.qbk")
    with quiblink.GraphicTerminal("/dev/ttyUSB0", baud=38400) as terminal:
        terminal.restore(quiblink.Backup.load("plant.qbk"))

Failures raise ``QuiblinkError`` (``PortError``, ``LineError``, ``ProtocolError``,
``TerminalRefused``, ...) carrying the result code, its name and meaning, the terminal's status
byte when it refused and, for a port that cannot be opened, the system's reason. Arguments out of
range raise ``ArgumentError`` (also a ``ValueError``) before any call. The first use of the
library loads it, and raises OSError naming every place tried when it cannot.
``set_trace_handler`` and ``trace_to_logging`` route the library's trace lines.
"""

from __future__ import annotations

from ._library import library
from .backup import Backup, BackupError, Range, RestoreFailed, WrongTerminal
from .errors import (
    ArgumentError,
    BadPort,
    BufferTooSmall,
    Cancelled,
    LineError,
    PortError,
    ProtocolError,
    QuiblinkError,
    TerminalRefused,
    result_codes,
    result_name,
    result_text,
)
from .terminals import ClassicPanel, GraphicTerminal, MemoryData, OsInfo, ProjectInfo
from .trace import set_trace_handler, trace_to_logging

__version__ = "2.1.1"

__all__ = [
    "ArgumentError",
    "Backup",
    "BackupError",
    "BadPort",
    "BufferTooSmall",
    "Cancelled",
    "ClassicPanel",
    "GraphicTerminal",
    "LineError",
    "MemoryData",
    "OsInfo",
    "PortError",
    "ProjectInfo",
    "ProtocolError",
    "QuiblinkError",
    "Range",
    "RestoreFailed",
    "TerminalRefused",
    "WrongTerminal",
    "library_version",
    "result_codes",
    "result_name",
    "result_text",
    "set_trace_handler",
    "trace_to_logging",
    "version",
]


def library_version() -> int:
    """The library's own version number, ``QUIB_Version()`` (211 for 2.1.1)."""
    return int(library().QUIB_Version())


def version() -> str:
    """The loaded library's version as text, "2.1.1" (from the digits of ``QUIB_Version``)."""
    number = library_version()
    return "%d.%d.%d" % (number // 100, number // 10 % 10, number % 10)
