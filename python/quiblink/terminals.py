"""Channels to the two terminal families: ``GraphicTerminal`` and ``ClassicPanel``.

Every method checks its arguments before the call (``ArgumentError``, ``TypeError``), and raises
a ``QuiblinkError`` of the matching kind when the library or the terminal fails it. A closed
channel raises ``ValueError``.
"""

from __future__ import annotations

import ctypes
import os
from typing import (TYPE_CHECKING, Any, Callable, Iterable, NamedTuple, Optional, Sequence,
                    TypeVar, Union)

from . import _arguments, _library, _ports
from . import backup as _backup
from ._calls import Call, Progress
from ._library import library
from .errors import RC_NAK, RC_TERMINAL_ERROR, error_for, refused

Port = _ports.Port
"""A port number 0..9, a name "COM1".."COM10", or any other device name the library opens: a
path such as "/dev/ttyUSB0", "COM17" on Windows, "rfc2217://host:port", "tcp://host:port"."""

if TYPE_CHECKING:
    from .backup import Backup

# Entries of the group table: one per group number, and room for a group sent twice.
_GROUP_TABLE = 0x10000
# The library writes a status out-parameter only once it has read a reply's status byte.
_NO_STATUS = 0xFFFF
_DEFAULT_CAPACITY = 4 * 1024 * 1024
_U16 = 0xFFFF
_U32 = 0xFFFFFFFF
_READ_AREAS = (3, 4, 5, 6, 240, 241, 242)
_WRITE_AREAS = (1, 3, 4, 5, 6)
# Codes that mean the line's bytes were read as the wrong characters: a line speed or line
# settings that differ from the terminal's.
_GARBLED = (-17, -20)

_C = TypeVar("_C", bound="_Channel")


class MemoryData(NamedTuple):
    """The three values of the terminal's memory query (``XQUIB_GetMemData``)."""

    value1: int
    value2: int
    value3: int


class OsInfo(NamedTuple):
    """The operating-system information: the entries flagged 0x00 (first) and 0x80 (second)."""

    first: int
    second: int


class ProjectInfo(NamedTuple):
    """The project information: two values and the project's name."""

    value1: int
    value2: int
    name: bytes


def _byref(value: Any) -> Any:
    return ctypes.byref(value)


class _Channel:
    _family = ""
    _line = ""

    _handle: Optional[int] = None

    def _open(self, port: Port, operation: str, opener: Callable[[int], int]) -> None:
        self.port = port
        index = _ports.take(port, operation)

        def attempt() -> tuple[int, Optional[str]]:
            rc = opener(index)
            reason = None
            if rc == -1:  # the reason is kept per thread: read it on the thread that opened
                text = ctypes.create_string_buffer(320)
                library().QUIB_LastOpenError(text, len(text))
                reason = text.value.decode("utf-8", "replace")
            return rc, reason

        def undo(outcome: tuple[int, Optional[str]]) -> None:
            if outcome[0] >= 0:
                library().QUIB_Close(outcome[0])

        try:
            rc, reason = Call().run(attempt, undo)
        except BaseException:
            _ports.give(index)
            raise
        if rc < 0:
            _ports.give(index)
            raise error_for(rc, operation, reason=reason)
        self._index = index
        self._pid = os.getpid()
        self._answered = False  # whether a reply has been read since the open
        self._handle = rc

    @property
    def handle(self) -> int:
        """The channel handle (0..31); raises ValueError once the channel is closed."""
        if self._handle is None:
            raise ValueError("the %s channel is closed" % self._family)
        if self._pid != os.getpid():
            raise ValueError("the %s channel belongs to process %d: the child of a fork holds "
                             "no channel of its parent" % (self._family, self._pid))
        return self._handle

    @property
    def closed(self) -> bool:
        """True once the channel is closed (and in the child of a fork)."""
        return self._handle is None or self._pid != os.getpid()

    def close(self) -> None:
        """Closes the channel; the port closes with its last channel. Closing twice is harmless.

        Raises ``ArgumentError`` (-2) while a call of this channel runs in another thread: the
        channel then stays open.
        """
        if self.closed:
            self._handle = None
            return
        handle = self._handle

        def attempt() -> int:
            rc = int(library().QUIB_Close(handle))
            if rc != -2:
                self._handle = None
                _ports.give(self._index)
            return rc

        rc = Call().run(attempt)
        if rc < 0:
            raise error_for(rc, "QUIB_Close")

    def cancel(self) -> None:
        """Stops this channel's block transfer before its next exchange.

        Any thread may call it, also a progress callback. The transfer's call raises
        ``Cancelled``, or returns when its last block had already gone; the channel stays open
        and usable. With no block transfer under way it changes nothing: it is not kept for the
        next one. Raises ValueError once the channel is closed.
        """
        rc = library().QUIB_CancelTransfer(self.handle)
        if rc < 0:
            raise error_for(rc, "QUIB_CancelTransfer")

    def __enter__(self: _C) -> _C:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            if not self.closed:
                handle, self._handle = self._handle, None
                library().QUIB_Close(handle)
                _ports.give(self._index)
        except Exception:
            pass

    def __repr__(self) -> str:
        state = "closed" if self.closed else "handle %d" % self._handle  # type: ignore[str-format]
        return "<%s %r, %s>" % (type(self).__name__, getattr(self, "port", None), state)

    def _call(self, operation: str, invoke: Callable[[Call], Any],
              status: Optional[ctypes.c_uint16] = None, progress: Optional[Progress] = None,
              transfer: bool = False) -> None:
        """Runs one call of this channel and raises its failure. ``transfer``: a block transfer,
        which a Ctrl-C or a failing ``progress`` cancels."""
        handle = self.handle
        call = Call(handle if transfer else None, progress)
        rc = call.run(lambda: int(invoke(call)))
        known = None
        if status is not None and status.value != _NO_STATUS:
            known = status.value & 0xFF
        if rc >= 0 or rc in (RC_NAK, RC_TERMINAL_ERROR) or known is not None:
            self._answered = True
        if rc < 0:
            hint = None
            if rc in _GARBLED and not self._answered:
                hint = ("no reply has been read since the open: check the line speed and the "
                        "line's settings (%s; a port keeps those of its first open)" % self._line)
            raise error_for(rc, operation, known, hint=hint)


class GraphicTerminal(_Channel):
    """A channel to a graphic terminal (8 data bits, even parity, 1 stop bit at ``baud``).

    ``port`` is a port number 0..9 (COM1..COM10), a name ``"COM3"``, or any other device name:
    ``"/dev/ttyUSB0"``, ``"rfc2217://host:port"``, ``"tcp://host:port"``. ``baud`` is 1..65535,
    ``model`` 0..65535. Use it as a context manager so the channel is closed on exit::

        with quiblink.GraphicTerminal("/dev/ttyUSB0", baud=38400) as terminal:
            print(terminal.project_info().name)

    Raises ``PortError`` when the port cannot be opened (``reason`` says why), ``BadPort`` for a
    port number outside 0..9, ``ArgumentError`` for a baud rate or model out of range, and
    ``TypeError`` for a port that is neither an int nor a str.
    """

    _family = "graphic"

    def __init__(self, port: Port, baud: int = 38400, model: int = 0) -> None:
        baud = _arguments.number("XQUIB_Open", "baud", baud, 1, _U16)
        model = _arguments.number("XQUIB_Open", "model", model, 0, _U16)
        self.baud = baud
        self.model = model
        self._line = "%d baud, 8 data bits, even parity, 1 stop bit" % baud
        self._open(port, "XQUIB_Open", lambda index: int(library().XQUIB_Open(index, baud, model)))

    # -- block transfers -------------------------------------------------------------------

    def _read(self, operation: str, invoke: Callable[..., Any], capacity: int,
              progress: Optional[Progress]) -> bytes:
        capacity = _arguments.number(operation, "capacity", capacity, 1, _U32)
        progress = _arguments.callback(operation, "progress", progress)
        self.handle  # a closed channel before a buffer of up to 4 GiB
        buffer = ctypes.create_string_buffer(capacity)
        total = ctypes.c_int32(0)
        status = ctypes.c_uint16(_NO_STATUS)
        self._call(operation, lambda call: invoke(buffer, capacity, _byref(total), _byref(status),
                                                  call.function, None),
                   status, progress, transfer=True)
        return buffer.raw[: total.value]

    def read_all(self, progress: Optional[Progress] = None,
                 capacity: int = _DEFAULT_CAPACITY) -> bytes:
        """Reads every group of the project (``XQUIB_ReadAll``), at most ``capacity`` bytes
        (1..4294967295).

        ``progress(done, 0)`` is called on the caller's thread after each block; what it raises
        ends the transfer and is raised here. Raises ``BufferTooSmall`` past ``capacity``,
        ``LineError``, ``ProtocolError``, ``TerminalRefused``, ``Cancelled`` after ``cancel()``,
        ``ArgumentError`` for a capacity out of range.
        """
        lib = library()
        return self._read("XQUIB_ReadAll",
                          lambda *rest: lib.XQUIB_ReadAllEx(self.handle, *rest), capacity, progress)

    def read_all_groups(self, progress: Optional[Progress] = None,
                        capacity: int = _DEFAULT_CAPACITY,
                        expected: int = 0) -> list[tuple[int, bytes]]:
        """Reads every group of the project with its number (``XQUIB_ReadAllGroups``): the
        exchanges of ``read_all``, as (group, bytes) in the order the terminal sent them.

        ``expected`` (0..4294967295) goes to ``progress`` as the total. Raises as ``read_all``,
        and ``BufferTooSmall`` (-42) for more groups than the table holds.
        """
        operation = "XQUIB_ReadAllGroups"
        capacity = _arguments.number(operation, "capacity", capacity, 1, _U32)
        expected = _arguments.number(operation, "expected", expected, 0, _U32)
        progress = _arguments.callback(operation, "progress", progress)
        self.handle  # a closed channel before a buffer of up to 4 GiB
        buffer = ctypes.create_string_buffer(capacity)
        table = (_library.GroupEntry * _GROUP_TABLE)()
        count = ctypes.c_uint32(0)
        total = ctypes.c_int32(0)
        status = ctypes.c_uint16(_NO_STATUS)
        self._call(operation,
                   lambda call: library().XQUIB_ReadAllGroups(
                       self.handle, buffer, capacity, _byref(total), table, _GROUP_TABLE,
                       _byref(count), _byref(status), expected, call.function, None),
                   status, progress, transfer=True)
        raw = buffer.raw
        return [(e.group, raw[e.offset:e.offset + e.length]) for e in table[:count.value]]

    def backup(self, areas: Iterable[int] = (), progress: Optional[Progress] = None,
               capacity: int = _DEFAULT_CAPACITY) -> "Backup":
        """The terminal's information, every group with its number and the plain ``areas``
        (each 3..6 or 240..242, once) asked for, as a ``quiblink.Backup`` (``.save(path)``
        writes it).

        Raises ``ArgumentError`` for an area out of range or named twice, ``TypeError`` for one
        that is no int, ``BackupError`` when the terminal sends a group twice, and the failures
        of the queries and of ``read_all_groups``.
        """
        return _backup.read_graphic(self, areas, progress, capacity)

    def restore(self, backup: "Backup", clean: bool = False, verify: bool = True,
                progress: Optional[Progress] = None, force: bool = False,
                groups_only: bool = False, start: bool = True) -> None:
        """Puts a backup back: refuses another terminal type unless ``force``, switches
        offline, deletes the user data first when ``clean``, writes each group under its
        number and areas 3-6 (unless ``groups_only``), reads each back when ``verify``, and
        sends start when ``start``.

        Raises ``TypeError`` for a ``backup`` that is no ``Backup``, ``WrongTerminal`` (nothing
        written), ``RestoreFailed`` (naming what was written) when a write fails or a part reads
        back other bytes, and the failures of the queries, ``offline``, ``delete_user_data``,
        the read-back and ``start`` as they are.
        """
        _backup.restore_graphic(self, backup, clean, verify, progress, force, groups_only, start)

    def read_group(self, group: int, progress: Optional[Progress] = None,
                   capacity: int = _DEFAULT_CAPACITY) -> bytes:
        """Reads one group (0..65535) of the project (``XQUIB_Read1G``); raises as ``read_all``,
        and ``ProtocolError`` (-35) when the terminal sends another group."""
        group = _arguments.number("XQUIB_Read1G", "group", group, 0, _U16)
        lib = library()
        return self._read("XQUIB_Read1G",
                          lambda *rest: lib.XQUIB_Read1GEx(self.handle, group, *rest), capacity,
                          progress)

    def read_area(self, area: int, progress: Optional[Progress] = None,
                  capacity: int = _DEFAULT_CAPACITY) -> bytes:
        """Reads a plain area, 3..6 or 240..242 (``XQUIB_Read``); raises as ``read_all``."""
        area = _arguments.one_of("XQUIB_Read", "area", area, _READ_AREAS, "3..6 or 240..242")
        lib = library()
        return self._read("XQUIB_Read",
                          lambda *rest: lib.XQUIB_ReadEx(self.handle, area, *rest), capacity,
                          progress)

    def write_area(self, area: int, data: Any, group: Optional[int] = None,
                   progress: Optional[Progress] = None) -> None:
        """Writes ``data`` (bytes-like, 1..4294967295 bytes) to area 1, the grouped area, or a
        plain area 3..6 (``XQUIB_Write``).

        ``group`` (0..65535) is required with area 1 and ignored with the others.
        ``progress(done, total)`` is called on the caller's thread after each accepted block;
        what it raises ends the transfer and is raised here. Raises ``ArgumentError`` for an
        area, group or length out of range, ``TypeError`` for data that is not bytes-like,
        ``LineError``, ``ProtocolError``, ``TerminalRefused`` (``status``), ``Cancelled``.
        """
        operation = "XQUIB_Write"
        area = _arguments.one_of(operation, "area", area, _WRITE_AREAS, "1 or 3..6")
        if group is None:
            if area == 1:
                raise refused(operation, "group is required with area 1 (the grouped area)")
            group = 0
        group = _arguments.number(operation, "group", group, 0, _U16)
        block = _arguments.data(operation, "data", data, 1, _U32)
        progress = _arguments.callback(operation, "progress", progress)
        status = ctypes.c_uint16(_NO_STATUS)
        self._call(operation,
                   lambda call: library().XQUIB_WriteEx(self.handle, area, group, len(block), block,
                                                        _byref(status), call.function, None),
                   status, progress, transfer=True)

    def install_os(self, subcommand: Union[int, bytes, str], option: int, data: Any,
                   progress: Optional[Progress] = None) -> None:
        """Installs operating-system data (``XQUIB_OSInstl``): subcommand ``"a"`` or ``"b"``
        (0x61, 0x62), option 0x00 or 0x80, ``data`` bytes-like, 1..4294967295 bytes.

        ``progress`` and what it raises as for ``write_area``. Raises ``ArgumentError`` for a
        subcommand, option or length out of range, ``TypeError`` for data that is not
        bytes-like, and the failures of ``write_area``.
        """
        operation = "XQUIB_OSInstl"
        if isinstance(subcommand, (bytes, str)) and len(subcommand) == 1:
            subcommand = ord(subcommand)
        subcommand = _arguments.one_of(operation, "subcommand", subcommand, (0x61, 0x62),
                                       "'a' (0x61) or 'b' (0x62)")
        option = _arguments.one_of(operation, "option", option, (0x00, 0x80), "0x00 or 0x80")
        block = _arguments.data(operation, "data", data, 1, _U32)
        progress = _arguments.callback(operation, "progress", progress)
        status = ctypes.c_uint16(_NO_STATUS)
        self._call(operation,
                   lambda call: library().XQUIB_OSInstlEx(self.handle, subcommand, option,
                                                          len(block), block, _byref(status),
                                                          call.function, None),
                   status, progress, transfer=True)

    # -- control ---------------------------------------------------------------------------

    def _control(self, operation: str) -> None:
        status = ctypes.c_uint16(_NO_STATUS)
        function = getattr(library(), operation)
        self._call(operation, lambda call: function(self.handle, _byref(status)), status)

    def start(self) -> None:
        """Starts the terminal's project (``XQUIB_Start``); no reply is awaited. Raises
        ``LineError`` when the frame cannot be sent."""
        self._call("XQUIB_Start", lambda call: library().XQUIB_Start(self.handle))

    def offline(self) -> None:
        """Takes the terminal offline (``XQUIB_Offline``). Raises ``LineError``,
        ``ProtocolError`` or ``TerminalRefused`` (``status``)."""
        self._control("XQUIB_Offline")

    def sw_reset(self) -> None:
        """Software reset (``XQUIB_SWReset``); raises as ``offline``."""
        self._control("XQUIB_SWReset")

    def reset(self) -> None:
        """Reset (``XQUIB_Reset``); raises as ``offline``."""
        self._control("XQUIB_Reset")

    def send_break(self) -> None:
        """Break (``XQUIB_Break``); raises as ``offline``."""
        self._control("XQUIB_Break")

    def delete_user_data(self) -> None:
        """Deletes the user data (``XQUIB_DelUserData``); raises as ``offline``."""
        self._control("XQUIB_DelUserData")

    def change_baud(self, code: int) -> None:
        """Asks the terminal to change its baud rate, code 0x81..0x83 (``XQUIB_BrateChange``).
        This channel keeps its own line speed. Raises ``ArgumentError`` for another code, and
        as ``offline``."""
        code = _arguments.number("XQUIB_BrateChange", "code", code, 0x81, 0x83, hexadecimal=True)
        status = ctypes.c_uint16(_NO_STATUS)
        self._call("XQUIB_BrateChange",
                   lambda call: library().XQUIB_BrateChange(self.handle, code, _byref(status)),
                   status)

    def check_password(self, password: Union[bytes, str]) -> None:
        """Checks a password of 0..255 bytes (``XQUIB_CheckPassword``); a str is sent as
        Latin-1. A wrong password raises ``TerminalRefused``; ``ArgumentError`` for a longer one
        or a str outside Latin-1, ``TypeError`` for one that is neither str nor bytes-like; and
        as ``offline``."""
        operation = "XQUIB_CheckPassword"
        if isinstance(password, str):
            try:
                password = password.encode("latin-1")
            except UnicodeEncodeError:
                raise refused(operation, "password must be Latin-1 text") from None
        secret = _arguments.data(operation, "password", password, 0, 255)
        status = ctypes.c_uint16(_NO_STATUS)
        self._call(operation,
                   lambda call: library().XQUIB_CheckPassword(self.handle, secret, len(secret),
                                                              _byref(status)),
                   status)

    # -- queries ---------------------------------------------------------------------------

    def memory_data(self) -> MemoryData:
        """The terminal's memory query (``XQUIB_GetMemData``); raises as ``offline``."""
        values = [ctypes.c_int32() for _ in range(3)]
        status = ctypes.c_uint16(_NO_STATUS)
        self._call("XQUIB_GetMemData",
                   lambda call: library().XQUIB_GetMemData(self.handle, *map(_byref, values),
                                                           _byref(status)),
                   status)
        return MemoryData(*(v.value for v in values))

    def os_info(self) -> OsInfo:
        """The operating-system information (``XQUIB_GetOsInfo``); raises as ``offline``, and
        ``ProtocolError`` (-33) for a malformed answer."""
        first, second = ctypes.c_uint32(), ctypes.c_uint32()
        status = ctypes.c_uint16(_NO_STATUS)
        self._call("XQUIB_GetOsInfo",
                   lambda call: library().XQUIB_GetOsInfo(self.handle, _byref(first),
                                                          _byref(second), _byref(status)),
                   status)
        return OsInfo(first.value, second.value)

    def project_info(self) -> ProjectInfo:
        """The project information (``XQUIB_GetProjInfo``); raises as ``offline``, and
        ``ProtocolError`` (-34) for a malformed answer."""
        value1, value2 = ctypes.c_uint32(), ctypes.c_uint32()
        name = ctypes.create_string_buffer(256)
        length = ctypes.c_uint16(0)
        status = ctypes.c_uint16(_NO_STATUS)
        self._call("XQUIB_GetProjInfo",
                   lambda call: library().XQUIB_GetProjInfo(self.handle, _byref(value1),
                                                            _byref(value2), name, _byref(length),
                                                            _byref(status)),
                   status)
        return ProjectInfo(value1.value, value2.value, name.raw[: min(length.value, 256)])

    def terminal_type(self) -> int:
        """The terminal type, 0..255 (``XQUIB_GetKEWType``); raises as ``offline``."""
        kind = ctypes.c_uint32()
        status = ctypes.c_uint16(_NO_STATUS)
        self._call("XQUIB_GetKEWType",
                   lambda call: library().XQUIB_GetKEWType(self.handle, _byref(kind),
                                                           _byref(status)),
                   status)
        return kind.value


class ClassicPanel(_Channel):
    """A channel to a classic panel (7 data bits, even parity, 1 stop bit at 9600 baud).

    ``port`` as for ``GraphicTerminal``; ``model`` is the panel's model code, 0..65535 (3 selects
    the address gap). Raises as ``GraphicTerminal`` when it cannot open.
    """

    _family = "classic"
    _line = "9600 baud, 7 data bits, even parity, 1 stop bit"

    def __init__(self, port: Port, model: int = 0) -> None:
        model = _arguments.number("QUIB_Open", "model", model, 0, _U16)
        self.model = model
        self._open(port, "QUIB_Open", lambda index: int(library().QUIB_Open(index, model)))

    def backup(self, ranges: Iterable[Sequence[int]], progress: Optional[Progress] = None) -> \
            "Backup":
        """The memory ranges ``(address, count)`` or ``(area, address, count)``, checked against
        the model code's addressing before anything is sent, as a ``quiblink.Backup``;
        ``progress(ranges done, ranges)`` after each.

        Raises ``TypeError`` for a range that is not two or three ints, ``BackupError`` (a
        ``ValueError``) naming a range the addressing refuses, and the failures of ``read``.
        """
        return _backup.read_classic(self, ranges, progress)

    def restore(self, backup: "Backup", verify: bool = True, progress: Optional[Progress] = None,
                force: bool = False) -> None:
        """Writes each range of area 0 (model 3: every range) back and reads it back when
        ``verify``; another model code than the backup's is refused unless ``force``.

        Raises ``TypeError`` for a ``backup`` that is no ``Backup``, ``WrongTerminal`` (nothing
        written), ``RestoreFailed`` (naming what was written) when a write fails or a range
        reads back other bytes, and the failures of the read-back as they are.
        """
        _backup.restore_classic(self, backup, verify, progress, force)

    def read(self, address: int, count: int, area: int = 0) -> bytes:
        """Reads ``count`` bytes (1..65535) of memory area 0..3 at ``address`` (a signed 32-bit
        number) (``QUIB_Read``).

        Raises ``ArgumentError`` for an argument out of range, ``LineError``, ``ProtocolError``,
        ``TerminalRefused`` (NAK), ``Cancelled`` after ``cancel()``.
        """
        operation = "QUIB_Read"
        address = _arguments.number(operation, "address", address, -(2**31), 2**31 - 1)
        count = _arguments.number(operation, "count", count, 1, _U16)
        area = _arguments.number(operation, "area", area, 0, 3)
        buffer = ctypes.create_string_buffer(count)
        self._call(operation,
                   lambda call: library().QUIB_Read(self.handle, area, address, buffer, count),
                   transfer=True)
        return buffer.raw

    def write(self, address: int, data: Any, area: int = 0) -> None:
        """Writes ``data`` (bytes-like, 1..65535 bytes) to memory at ``address`` (a signed
        32-bit number) (``QUIB_Write``); writes reach area 0 only.

        Raises ``ArgumentError`` for an argument out of range, ``TypeError`` for data that is
        not bytes-like, and as ``read``.
        """
        operation = "QUIB_Write"
        address = _arguments.number(operation, "address", address, -(2**31), 2**31 - 1)
        block = _arguments.data(operation, "data", data, 1, _U16)
        area = _arguments.one_of(operation, "area", area, (0,), "0 (writes reach area 0 only)")
        self._call(operation,
                   lambda call: library().QUIB_Write(self.handle, area, address, len(block),
                                                     block),
                   transfer=True)
