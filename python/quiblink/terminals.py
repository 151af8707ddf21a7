"""Channels to the two terminal families: ``GraphicTerminal`` and ``ClassicPanel``."""

from __future__ import annotations

import ctypes
import os
import re
import sys
import threading
from typing import TYPE_CHECKING, Callable, Iterable, NamedTuple, Optional, Sequence, Union

from . import _library
from . import backup as _backup
from ._library import library
from .errors import ArgumentError, error_for

Port = Union[int, str]
Progress = Callable[[int, int], None]
"""Called after each block with the bytes done so far and, for writes, the total (0 for reads)."""

if TYPE_CHECKING:
    from .backup import Backup

# Entries of the group table: one per group number, and room for a group sent twice.
_GROUP_TABLE = 0x10000
# The library writes a status out-parameter only once it has read a reply's status byte.
_NO_STATUS = 0xFFFF
_DEFAULT_CAPACITY = 4 * 1024 * 1024


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


# Ports this package mapped to a device path through QUIBLINK_COMn: index -> (path, channels).
_mapped: dict[int, list] = {}
_mapping_lock = threading.Lock()


def _take_port(port: Port) -> int:
    """A port index 0..9 for an index, a name "COM1".."COM10", or (not on Windows) a device path.

    A device path is given a port whose ``QUIBLINK_COMn`` variable is unset or already names
    it; the library reads that variable at each open. The mapping is dropped again when the
    last channel this package opened through it closes (``_give_port``).
    """
    if isinstance(port, int):
        return port
    match = re.fullmatch(r"(?:\\\\\.\\)?COM([0-9]+)", port, re.IGNORECASE)
    if match:
        return int(match.group(1)) - 1
    if sys.platform == "win32":
        raise ValueError("%r is not a port name COM1..COM10" % port)
    with _mapping_lock:
        free = None
        for index in range(10):
            mapped = os.environ.get("QUIBLINK_COM%d" % (index + 1))
            if mapped == port:
                if index in _mapped:
                    _mapped[index][1] += 1
                return index
            if not mapped and free is None:
                free = index
        if free is None:
            raise ValueError("no port left to map %r to: QUIBLINK_COM1..10 are all set" % port)
        os.environ["QUIBLINK_COM%d" % (free + 1)] = port
        _mapped[free] = [port, 1]
        return free


def _give_port(index: int) -> None:
    with _mapping_lock:
        entry = _mapped.get(index)
        if entry is None:
            return
        entry[1] -= 1
        if entry[1] == 0:
            del _mapped[index]
            os.environ.pop("QUIBLINK_COM%d" % (index + 1), None)


class _ProgressRelay:
    """Carries a Python callable through the C callback; keeps what it raises for later."""

    def __init__(self, progress: Optional[Progress]) -> None:
        self.failure: Optional[BaseException] = None
        self.progress = progress
        self.function = _library.PROGRESS(self._call) if progress else _library.PROGRESS()

    def _call(self, done: int, total: int, _user: object) -> None:
        if self.failure is not None or self.progress is None:
            return
        try:
            self.progress(done, total)
        except BaseException as error:  # never unwinds through the library
            self.failure = error

    def reraise(self) -> None:
        if self.failure is not None:
            raise self.failure


class _Channel:
    _family = ""

    def __init__(self, handle: int, port: Port, index: int) -> None:
        self._handle: Optional[int] = handle
        self._index = index
        self.port = port

    @staticmethod
    def _opened(rc: int, operation: str, index: int) -> int:
        if rc >= 0:
            return rc
        _give_port(index)
        reason = None
        if rc == -1:
            text = ctypes.create_string_buffer(320)
            library().QUIB_LastOpenError(text, len(text))
            reason = text.value.decode("utf-8", "replace")
        raise error_for(rc, operation, reason=reason)

    @property
    def handle(self) -> int:
        """The channel handle (0..31); raises ValueError once the channel is closed."""
        if self._handle is None:
            raise ValueError("the %s channel is closed" % self._family)
        return self._handle

    @property
    def closed(self) -> bool:
        return self._handle is None

    def close(self) -> None:
        """Closes the channel; the port closes with its last channel. Closing twice is harmless."""
        if self._handle is None:
            return
        rc = library().QUIB_Close(self._handle)
        if rc == -2:  # a transfer of this channel still runs in another thread: stays open
            raise error_for(rc, "QUIB_Close")
        self._handle = None
        _give_port(self._index)
        if rc < 0:
            raise error_for(rc, "QUIB_Close")

    def __enter__(self):  # type: ignore[no-untyped-def]
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            if self._handle is not None:
                library().QUIB_Close(self._handle)
                _give_port(self._index)
        except Exception:
            pass

    def __repr__(self) -> str:
        state = "closed" if self._handle is None else "handle %d" % self._handle
        return "<%s %r, %s>" % (type(self).__name__, self.port, state)


def _check(rc: int, operation: str, status: Optional[ctypes.c_uint16] = None) -> None:
    if rc < 0:
        known = None
        if status is not None and status.value != _NO_STATUS:
            known = status.value & 0xFF
        raise error_for(rc, operation, known)


class GraphicTerminal(_Channel):
    """A channel to a graphic terminal (8E1 at the given baud rate).

    ``port`` is an index 0..9 (COM1..COM10), a name ``"COM3"``, or on Linux a device path such
    as ``"/dev/ttyUSB0"``. Use it as a context manager so the channel is closed on exit::

        with quiblink.GraphicTerminal("/dev/ttyUSB0", baud=38400) as terminal:
            print(terminal.project_info().name)
    """

    _family = "graphic"

    def __init__(self, port: Port, baud: int = 38400, model: int = 0) -> None:
        index = _take_port(port)
        rc = library().XQUIB_Open(index, baud, model)
        super().__init__(self._opened(rc, "XQUIB_Open", index), port, index)
        self.baud = baud
        self.model = model

    # -- block transfers -------------------------------------------------------------------

    def _read(self, operation: str, call, capacity: int, progress: Optional[Progress]) -> bytes:
        if not 0 < capacity <= 0xFFFFFFFF:
            raise ArgumentError(-2, operation)
        buffer = ctypes.create_string_buffer(capacity)
        total = ctypes.c_int32(0)
        status = ctypes.c_uint16(_NO_STATUS)
        relay = _ProgressRelay(progress)
        rc = call(buffer, capacity, ctypes.byref(total), ctypes.byref(status), relay.function, None)
        relay.reraise()
        _check(rc, operation, status)
        return buffer.raw[: total.value]

    def read_all(self, progress: Optional[Progress] = None,
                 capacity: int = _DEFAULT_CAPACITY) -> bytes:
        """Reads every group of the project (``XQUIB_ReadAll``); at most ``capacity`` bytes,
        else ``BufferTooSmall``."""
        lib = library()
        return self._read("XQUIB_ReadAll",
                          lambda *rest: lib.XQUIB_ReadAllEx(self.handle, *rest), capacity, progress)

    def read_all_groups(self, progress: Optional[Progress] = None,
                        capacity: int = _DEFAULT_CAPACITY,
                        expected: int = 0) -> list[tuple[int, bytes]]:
        """Reads every group of the project with its number (``XQUIB_ReadAllGroups``): the
        exchanges of ``read_all``, as (group, bytes) in the order the terminal sent them.
        ``expected`` goes to ``progress`` as the total."""
        if not 0 < capacity <= 0xFFFFFFFF:
            raise ArgumentError(-2, "XQUIB_ReadAllGroups")
        buffer = ctypes.create_string_buffer(capacity)
        table = (_library.GroupEntry * _GROUP_TABLE)()
        count = ctypes.c_uint32(0)
        total = ctypes.c_int32(0)
        status = ctypes.c_uint16(_NO_STATUS)
        relay = _ProgressRelay(progress)
        rc = library().XQUIB_ReadAllGroups(self.handle, buffer, capacity, ctypes.byref(total),
                                            table, _GROUP_TABLE, ctypes.byref(count),
                                            ctypes.byref(status), expected, relay.function, None)
        relay.reraise()
        _check(rc, "XQUIB_ReadAllGroups", status)
        raw = buffer.raw
        return [(e.group, raw[e.offset:e.offset + e.length]) for e in table[:count.value]]

    def backup(self, areas: Sequence[int] = (), progress: Optional[Progress] = None,
               capacity: int = _DEFAULT_CAPACITY) -> "Backup":
        """The terminal's information, every group with its number and the plain ``areas``
        asked for, as a ``quiblink.Backup`` (``.save(path)`` writes it)."""
        return _backup.read_graphic(self, areas, progress, capacity)

    def restore(self, backup: "Backup", clean: bool = False, verify: bool = True,
                progress: Optional[Progress] = None, force: bool = False,
                groups_only: bool = False, start: bool = True) -> None:
        """Puts a backup back: refuses another terminal type unless ``force``, switches
        offline, deletes the user data first when ``clean``, writes each group under its
        number and areas 3-6 (unless ``groups_only``), reads each back when ``verify``, and
        sends start when ``start``. Raises ``WrongTerminal`` (nothing written) or
        ``RestoreFailed`` (naming what was written)."""
        _backup.restore_graphic(self, backup, clean, verify, progress, force, groups_only, start)

    def read_group(self, group: int, progress: Optional[Progress] = None,
                   capacity: int = _DEFAULT_CAPACITY) -> bytes:
        """Reads one group of the project (``XQUIB_Read1G``)."""
        lib = library()
        return self._read("XQUIB_Read1G",
                          lambda *rest: lib.XQUIB_Read1GEx(self.handle, group, *rest), capacity,
                          progress)

    def read_area(self, area: int, progress: Optional[Progress] = None,
                  capacity: int = _DEFAULT_CAPACITY) -> bytes:
        """Reads one area (``XQUIB_Read``)."""
        lib = library()
        return self._read("XQUIB_Read",
                          lambda *rest: lib.XQUIB_ReadEx(self.handle, area, *rest), capacity,
                          progress)

    def write_area(self, area: int, data: bytes, group: int = 0,
                   progress: Optional[Progress] = None) -> None:
        """Writes ``data`` to an area (``XQUIB_Write``); ``group`` is used with area 1 only."""
        data = bytes(data)
        status = ctypes.c_uint16(_NO_STATUS)
        relay = _ProgressRelay(progress)
        rc = library().XQUIB_WriteEx(self.handle, area, group, len(data), data,
                                     ctypes.byref(status), relay.function, None)
        relay.reraise()
        _check(rc, "XQUIB_Write", status)

    def install_os(self, subcommand: Union[int, bytes, str], option: int, data: bytes,
                   progress: Optional[Progress] = None) -> None:
        """Installs an operating system (``XQUIB_OSInstl``): subcommand ``"a"`` or ``"b"``,
        option 0x00 or 0x80."""
        if isinstance(subcommand, (bytes, str)):
            subcommand = ord(subcommand)
        data = bytes(data)
        status = ctypes.c_uint16(_NO_STATUS)
        relay = _ProgressRelay(progress)
        rc = library().XQUIB_OSInstlEx(self.handle, subcommand, option, len(data), data,
                                       ctypes.byref(status), relay.function, None)
        relay.reraise()
        _check(rc, "XQUIB_OSInstl", status)

    # -- control ---------------------------------------------------------------------------

    def _control(self, operation: str) -> None:
        status = ctypes.c_uint16(_NO_STATUS)
        _check(getattr(library(), operation)(self.handle, ctypes.byref(status)), operation, status)

    def start(self) -> None:
        """Starts the terminal's project (``XQUIB_Start``)."""
        _check(library().XQUIB_Start(self.handle), "XQUIB_Start")

    def offline(self) -> None:
        """Takes the terminal offline (``XQUIB_Offline``)."""
        self._control("XQUIB_Offline")

    def sw_reset(self) -> None:
        """Software reset (``XQUIB_SWReset``)."""
        self._control("XQUIB_SWReset")

    def reset(self) -> None:
        """Reset (``XQUIB_Reset``)."""
        self._control("XQUIB_Reset")

    def send_break(self) -> None:
        """Break (``XQUIB_Break``)."""
        self._control("XQUIB_Break")

    def delete_user_data(self) -> None:
        """Deletes the user data (``XQUIB_DelUserData``)."""
        self._control("XQUIB_DelUserData")

    def change_baud(self, code: int) -> None:
        """Asks the terminal to change its baud rate, code 0x81..0x83 (``XQUIB_BrateChange``).
        This channel keeps its own line speed."""
        status = ctypes.c_uint16(_NO_STATUS)
        _check(library().XQUIB_BrateChange(self.handle, code, ctypes.byref(status)),
               "XQUIB_BrateChange", status)

    def check_password(self, password: Union[bytes, str]) -> None:
        """Checks a password of at most 255 bytes (``XQUIB_CheckPassword``); a wrong one raises
        ``TerminalRefused``."""
        if isinstance(password, str):
            password = password.encode("latin-1")
        if len(password) > 255:
            raise ArgumentError(-2, "XQUIB_CheckPassword")
        status = ctypes.c_uint16(_NO_STATUS)
        _check(library().XQUIB_CheckPassword(self.handle, password, len(password),
                                              ctypes.byref(status)),
               "XQUIB_CheckPassword", status)

    # -- queries ---------------------------------------------------------------------------

    def memory_data(self) -> MemoryData:
        """The terminal's memory query (``XQUIB_GetMemData``)."""
        values = [ctypes.c_int32() for _ in range(3)]
        status = ctypes.c_uint16(_NO_STATUS)
        _check(library().XQUIB_GetMemData(self.handle, *map(ctypes.byref, values),
                                           ctypes.byref(status)),
               "XQUIB_GetMemData", status)
        return MemoryData(*(v.value for v in values))

    def os_info(self) -> OsInfo:
        """The operating-system information (``XQUIB_GetOsInfo``)."""
        first, second = ctypes.c_uint32(), ctypes.c_uint32()
        status = ctypes.c_uint16(_NO_STATUS)
        _check(library().XQUIB_GetOsInfo(self.handle, ctypes.byref(first), ctypes.byref(second),
                                          ctypes.byref(status)),
               "XQUIB_GetOsInfo", status)
        return OsInfo(first.value, second.value)

    def project_info(self) -> ProjectInfo:
        """The project information (``XQUIB_GetProjInfo``)."""
        value1, value2 = ctypes.c_uint32(), ctypes.c_uint32()
        name = ctypes.create_string_buffer(256)
        length = ctypes.c_uint16(0)
        status = ctypes.c_uint16(_NO_STATUS)
        _check(library().XQUIB_GetProjInfo(self.handle, ctypes.byref(value1),
                                            ctypes.byref(value2), name, ctypes.byref(length),
                                            ctypes.byref(status)),
               "XQUIB_GetProjInfo", status)
        return ProjectInfo(value1.value, value2.value, name.raw[: min(length.value, 256)])

    def terminal_type(self) -> int:
        """The terminal type (``XQUIB_GetKEWType``)."""
        kind = ctypes.c_uint32()
        status = ctypes.c_uint16(_NO_STATUS)
        _check(library().XQUIB_GetKEWType(self.handle, ctypes.byref(kind), ctypes.byref(status)),
               "XQUIB_GetKEWType", status)
        return kind.value


class ClassicPanel(_Channel):
    """A channel to a classic panel (7E1, 9600 baud); ``model`` is the panel's model code."""

    _family = "classic"

    def __init__(self, port: Port, model: int = 0) -> None:
        index = _take_port(port)
        rc = library().QUIB_Open(index, model)
        super().__init__(self._opened(rc, "QUIB_Open", index), port, index)
        self.model = model

    def backup(self, ranges: Iterable[Sequence[int]], progress: Optional[Progress] = None) -> \
            "Backup":
        """The memory ranges ``(address, count)`` or ``(area, address, count)``, checked against
        the model code's addressing before anything is sent, as a ``quiblink.Backup``."""
        return _backup.read_classic(self, ranges, progress)

    def restore(self, backup: "Backup", verify: bool = True, progress: Optional[Progress] = None,
                force: bool = False) -> None:
        """Writes each range of area 0 (model 3: every range) back and reads it back when
        ``verify``; another model code than the backup's is refused unless ``force``."""
        _backup.restore_classic(self, backup, verify, progress, force)

    def read(self, address: int, count: int, area: int = 0) -> bytes:
        """Reads ``count`` bytes (1..65535) of panel memory at ``address`` (``QUIB_Read``)."""
        if not 0 < count <= 0xFFFF:
            raise ArgumentError(-2, "QUIB_Read")
        buffer = ctypes.create_string_buffer(count)
        _check(library().QUIB_Read(self.handle, area, address, buffer, count), "QUIB_Read")
        return buffer.raw

    def write(self, address: int, data: bytes, area: int = 0) -> None:
        """Writes ``data`` (1..65535 bytes) to panel memory at ``address`` (``QUIB_Write``)."""
        data = bytes(data)
        if not 0 < len(data) <= 0xFFFF:
            raise ArgumentError(-2, "QUIB_Write")
        _check(library().QUIB_Write(self.handle, area, address, len(data), data), "QUIB_Write")
