"""Port indexes for the channels this package opens.

A port number 0..9, or a name "COM1".."COM10", is that port of the library, with its default
device. Any other name (a device path, "COM17", ``rfc2217://host:port``, ``tcp://host:port``) is
given a port index of its own, set with ``QUIB_SetPortDevice`` for as long as channels use it:

- channels on the same name share one index, as channels on one port do;
- a name never gets an index that a channel holds by number or under another name, and a number
  whose index carries a name is refused, so no channel ever reaches another device;
- the last channel's close restores the index's default device.

Names take the highest free index, away from the low numbers people open by hand. The table
counts a channel from before its open to after its close. In the child of a fork() the library
holds no port: the table starts empty there, and the indexes its parent had mapped get their
default device back before they are used again.
"""

from __future__ import annotations

import os
import re
import threading
from typing import Any, Optional, Union

from . import _arguments
from ._library import library
from .errors import RC_BAD_PORT, PortError, error_for, refused

Port = Union[int, str, "os.PathLike[str]"]

_PORTS = 10
_DEVICE_BYTES = 255  # the longest name QUIB_SetPortDevice keeps
_COM_NAME = re.compile(r"(?:\\\\\.\\)?COM([0-9]+)", re.IGNORECASE)


class _Use:
    __slots__ = ("device", "channels")

    def __init__(self, device: Optional[bytes]) -> None:
        self.device = device
        self.channels = 0


_lock = threading.Lock()
_uses: dict[int, _Use] = {}
_stale: set[int] = set()


def _parse(port: Any, operation: str) -> tuple[Optional[int], Optional[bytes]]:
    """(index, None) for a port number, (None, device) for a name to map."""
    if isinstance(port, os.PathLike):
        port = os.fspath(port)
    if not isinstance(port, str):
        return _arguments.number(operation, "port", port, 0, _PORTS - 1, code=RC_BAD_PORT), None
    match = _COM_NAME.fullmatch(port)
    if match and 1 <= int(match.group(1)) <= _PORTS:
        return int(match.group(1)) - 1, None
    device = os.fsencode(port)
    if not 0 < len(device) <= _DEVICE_BYTES or b"\0" in device:
        raise refused(operation, "port name must be 1..%d bytes without NUL, not %r"
                      % (_DEVICE_BYTES, port), RC_BAD_PORT)
    return None, device


def take(port: Port, operation: str) -> int:
    """The port index for a channel about to open on ``port``; ``give`` it back once the channel
    has closed or its open has failed."""
    index, device = _parse(port, operation)
    with _lock:
        if index is not None:
            use = _uses.get(index)
            if use is not None and use.device is not None:
                raise PortError(-1, operation, reason="port %d (COM%d) is mapped to %s for other "
                                "channels of this process" % (index, index + 1,
                                                             os.fsdecode(use.device)))
            if index in _stale:
                library().QUIB_SetPortDevice(index, None)
                _stale.discard(index)
            if use is None:
                use = _uses[index] = _Use(None)
            use.channels += 1
            return index
        for index, use in _uses.items():
            if use.device == device:
                use.channels += 1
                return index
        free = [i for i in range(_PORTS - 1, -1, -1) if i not in _uses]
        if not free:
            raise PortError(-1, operation, reason="%s: no port index left to map it to: all %d are "
                            "in use by channels of this process" % (port, _PORTS))
        index = free[0]
        rc = library().QUIB_SetPortDevice(index, device)
        if rc < 0:
            raise error_for(rc, "QUIB_SetPortDevice")
        _stale.discard(index)
        use = _uses[index] = _Use(device)
        use.channels = 1
        return index


def give(index: int) -> None:
    """A channel on ``index`` has closed, or its open failed."""
    with _lock:
        use = _uses.get(index)
        if use is None:
            return
        use.channels -= 1
        if use.channels == 0:
            del _uses[index]
            if use.device is not None:
                library().QUIB_SetPortDevice(index, None)


def _before_fork() -> None:
    _lock.acquire()


def _after_fork_in_parent() -> None:
    _lock.release()


def _after_fork_in_child() -> None:
    global _lock
    _stale.update(index for index, use in _uses.items() if use.device is not None)
    _uses.clear()
    _lock = threading.Lock()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(before=_before_fork, after_in_parent=_after_fork_in_parent,
                        after_in_child=_after_fork_in_child)
