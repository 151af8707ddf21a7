"""The library's trace lines in Python: a handler of your own, or the ``logging`` module.

The library writes short trace lines on entry to every call and at each step of an exchange
("READ command", "COM open OK!", frame dumps), and the texts of its message boxes, which the
package turns off. Without a handler they go to the debugger output (Windows) or, with
``QUIBLINK_TRACE`` set, to standard error.
"""

from __future__ import annotations

import atexit
import logging
import os
import threading
from typing import Callable, Optional

from . import _library
from ._library import library

TraceHandler = Callable[[str], None]

logger = logging.getLogger("quiblink")

_handler: Optional[TraceHandler] = None
_installed = False
_lock = threading.Lock()
_local = threading.local()  # per thread: the unfinished line, and whether a handler runs


def _on_trace(text: Optional[bytes], _user: object) -> None:
    # Called on the thread that writes the text: the caller's (never the main thread's, see
    # _calls) or a port's worker. A frame dump comes in pieces; the handler gets whole lines.
    handler = _handler
    if handler is None or text is None:
        return
    pending = getattr(_local, "pending", "") + text.decode("latin-1")
    *lines, _local.pending = pending.split("\n")
    _local.inside = True
    try:
        for line in lines:
            handler(line)
    finally:
        _local.inside = False


_function = _library.TRACE(_on_trace)  # kept for the life of the process


def set_trace_handler(handler: Optional[TraceHandler]) -> None:
    """Hands every trace line of the library to ``handler(line)`` (a str without its newline),
    on the thread that writes it; None turns it off again.

    The handler runs while a call of the library waits for it: keep it short. What it raises is
    reported as an unraisable exception (``sys.unraisablehook``) and lost. It may call
    ``set_trace_handler`` itself. Raises TypeError for a handler that is not callable.
    """
    global _handler, _installed
    if handler is not None and not callable(handler):
        raise TypeError("set_trace_handler: the handler must be callable or None, not %s"
                        % type(handler).__name__)
    if getattr(_local, "inside", False):
        # From within a trace line: the library's handler stays installed and finds the new
        # one (a change there would wait for this very call to end).
        _handler = handler
        return
    with _lock:
        _handler = handler
        if handler is not None and not _installed:
            library().QUIB_SetTraceHandler(_function, None)
            _installed = True
        elif handler is None and _installed:
            # Returns once the handler's calls under way have ended.
            library().QUIB_SetTraceHandler(_library.TRACE(), None)
            _installed = False


def _log_line(line: str) -> None:
    logger.debug("%s", line)


def trace_to_logging() -> None:
    """Sends the library's trace lines to the ``"quiblink"`` logger at DEBUG::

        logging.basicConfig(level=logging.DEBUG)
        quiblink.trace_to_logging()
    """
    set_trace_handler(_log_line)


def _after_fork_in_child() -> None:
    global _lock
    _lock = threading.Lock()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_after_fork_in_child)


@atexit.register
def _remove_at_exit() -> None:
    # The library's worker threads may write trace lines while the interpreter ends.
    if _installed:
        set_trace_handler(None)
