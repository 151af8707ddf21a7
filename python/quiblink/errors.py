"""Result codes and the exceptions a failed call raises.

The names and meanings come from the library itself (``QUIB_ResultText``), which takes them
from its one table of result codes; nothing here types them again.
"""

from __future__ import annotations

from typing import Any, Optional

from ._library import library

# Codes the table may hold: 0 and the negative codes down to the extensions' range.
_SCANNED = range(-99, 1)

RC_BAD_ARGUMENT = -2
RC_NAK = -19
RC_BAD_PORT = -33
RC_TERMINAL_ERROR = -36


def _split(text: str) -> tuple[str, str]:
    name, _, meaning = text.partition(": ")
    return name, meaning


def result_text(code: int) -> str:
    """``"RC_NO_RESPONSE: the terminal did not answer: ..."``; ``"RC_UNKNOWN: ..."`` for a code
    outside the table."""
    return str(library().QUIB_ResultText(code).decode("utf-8", "replace"))


def result_name(code: int) -> str:
    """The symbolic name of a result code (``"RC_NO_RESPONSE"``), or ``"RC_UNKNOWN"``."""
    return _split(result_text(code))[0]


def result_codes() -> dict[str, int]:
    """Every result code the library knows, by name (``{"RC_OK": 0, ...}``)."""
    codes = {}
    for code in _SCANNED:
        name = result_name(code)
        if name != "RC_UNKNOWN":
            codes[name] = code
    return codes


class QuiblinkError(Exception):
    """A call into the library failed, or the package refused its arguments before the call.

    Attributes:
        code: the result code (negative).
        name: its symbolic name, e.g. ``"RC_TERMINAL_ERROR"``.
        text: what it means.
        operation: the export that returned it, e.g. ``"XQUIB_Offline"``.
        status: the terminal's status byte when the terminal refused (``RC_TERMINAL_ERROR``),
            else None.
        reason: for a port that cannot be opened, the system's reason naming the device
            (``"/dev/ttyUSB0: Permission denied (errno 13; ...)"``), else None.
        detail: for an argument the package refused, which one and its range, else None.
        hint: what to check when the failure has a likely cause (a wrong line speed), else None.

    Every kind pickles, so it crosses from a worker process (``ProcessPoolExecutor``) as itself.
    """

    def __init__(
        self,
        code: int,
        operation: str,
        status: Optional[int] = None,
        reason: Optional[str] = None,
        detail: Optional[str] = None,
        hint: Optional[str] = None,
    ) -> None:
        self.code = code
        self.name, self.text = _split(result_text(code))
        if operation in _OPEN_CALLS:
            # The table names an open's own meaning of a code in brackets.
            marker = "(from an open: "
            if marker in self.text:
                self.text = self.text.split(marker, 1)[1].rstrip(")")
        self.operation = operation
        self.status = status if code == RC_TERMINAL_ERROR else None
        self.reason = reason
        self.detail = detail
        self.hint = hint
        if detail:
            message = "%s: %s (%d %s)" % (operation, detail, code, self.name)
        else:
            message = "%s failed: %d %s: %s" % (operation, code, self.name, self.text)
        if reason:
            message += ": " + reason
        if self.status is not None:
            message += " (terminal status %d, 0x%02X)" % (self.status, self.status)
        if hint:
            message += "; " + hint
        super().__init__(message)

    def __reduce__(self) -> tuple[Any, ...]:
        # The attributes as they are: rebuilding needs no library in the receiving process.
        return (_restore, (type(self), self.args, dict(self.__dict__)))


def _restore(kind: type, args: tuple[Any, ...], attributes: dict[str, Any]) -> QuiblinkError:
    error: QuiblinkError = kind.__new__(kind, *args)
    error.args = args
    error.__dict__.update(attributes)
    return error


class PortError(QuiblinkError):
    """The port or the channel: cannot be opened, not open, busy (-1, -3, -4; open: -32, -33)."""


class ArgumentError(QuiblinkError, ValueError):
    """An argument out of its range (-2), refused by the package before the call or by the
    library. ``detail`` names the argument and its range."""


class BadPort(PortError, ArgumentError):
    """A port number outside 0..9 (-33): a port error and an argument error at once."""


class LineError(QuiblinkError):
    """Nothing or not enough came back over the line (-7, -13, -18)."""


class ProtocolError(QuiblinkError):
    """A reply arrived but was malformed or out of step (-17, -20, -21, -30 to -35)."""


class TerminalRefused(QuiblinkError):
    """The terminal answered and refused: NAK (-19) or a non-zero status byte (-36, ``status``)."""


class BufferTooSmall(QuiblinkError):
    """The terminal sent more than the buffer holds (-40), or more groups than the group table
    holds (-42): raise ``capacity``."""


class Cancelled(QuiblinkError):
    """``cancel()`` stopped the block transfer before its next exchange (-41)."""


_KINDS = {
    -1: PortError,
    -2: ArgumentError,
    -3: PortError,
    -4: PortError,
    -7: LineError,
    -13: LineError,
    -18: LineError,
    -19: TerminalRefused,
    -36: TerminalRefused,
    -40: BufferTooSmall,
    -41: Cancelled,
    -42: BufferTooSmall,
}
_OPEN_CALLS = ("QUIB_Open", "XQUIB_Open")


def error_for(
    code: int,
    operation: str,
    status: Optional[int] = None,
    reason: Optional[str] = None,
    hint: Optional[str] = None,
) -> QuiblinkError:
    """The exception of the right kind for a failed call."""
    kind: type[QuiblinkError]
    if operation in _OPEN_CALLS and code == -32:
        kind = PortError
    elif operation in _OPEN_CALLS and code == RC_BAD_PORT:
        kind = BadPort
    else:
        kind = _KINDS.get(code, ProtocolError)
    return kind(code, operation, status, reason, hint=hint)


def refused(operation: str, detail: str, code: int = RC_BAD_ARGUMENT) -> QuiblinkError:
    """The package's own refusal of an argument, before any call."""
    kind = BadPort if code == RC_BAD_PORT else ArgumentError
    return kind(code, operation, detail=detail)
