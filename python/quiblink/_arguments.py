"""Checks of the arguments before they reach an export.

ctypes cuts an int to the width of the export's argument (area 257 would reach the terminal as
area 1) and turns a wrong type into its own error: every number is checked here against the
argument's width and the protocol's range first, and every block of data must be bytes-like.
A number out of range raises ``ArgumentError`` (also a ``ValueError``) naming the argument and
its range; a wrong type raises ``TypeError``.
"""

from __future__ import annotations

import operator
from typing import Any, Callable, Optional, Sequence, cast

from .errors import RC_BAD_ARGUMENT, refused


def _integer(operation: str, name: str, value: Any) -> int:
    if isinstance(value, bool):
        raise TypeError("%s: %s must be an int, not bool" % (operation, name))
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError("%s: %s must be an int, not %s" % (operation, name,
                                                          type(value).__name__)) from None


def number(operation: str, name: str, value: Any, low: int, high: int, hexadecimal: bool = False,
           code: int = RC_BAD_ARGUMENT) -> int:
    """``value`` as an int within low..high."""
    checked = _integer(operation, name, value)
    if not low <= checked <= high:
        shape = "0x%X..0x%X" if hexadecimal else "%d..%d"
        raise refused(operation, "%s must be %s, not %d" % (name, shape % (low, high), checked),
                      code)
    return checked


def one_of(operation: str, name: str, value: Any, allowed: Sequence[int], text: str) -> int:
    """``value`` as an int, one of ``allowed`` (``text`` says which in words)."""
    checked = _integer(operation, name, value)
    if checked not in allowed:
        raise refused(operation, "%s must be %s, not %d" % (name, text, checked))
    return checked


def data(operation: str, name: str, value: Any, least: int, most: int) -> bytes:
    """A bytes-like ``value`` (bytes, bytearray, memoryview, array) of least..most bytes."""
    if isinstance(value, (str, int)):
        # bytes(6) would be six zero bytes, and a str has no one encoding.
        raise TypeError("%s: %s must be bytes-like, not %s" % (operation, name,
                                                              type(value).__name__))
    try:
        block = memoryview(value).tobytes()
    except TypeError:
        raise TypeError("%s: %s must be bytes-like, not %s" % (operation, name,
                                                              type(value).__name__)) from None
    if not least <= len(block) <= most:
        raise refused(operation, "%s must hold %d..%d bytes, not %d" % (name, least, most,
                                                                        len(block)))
    return block


def callback(operation: str, name: str, value: Any) -> Optional[Callable[..., Any]]:
    """None or a callable."""
    if value is not None and not callable(value):
        raise TypeError("%s: %s must be callable or None, not %s" % (operation, name,
                                                                    type(value).__name__))
    return cast(Optional[Callable[..., Any]], value)
