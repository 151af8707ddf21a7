"""Blocking library calls that a Ctrl-C, a failed progress callback or ``cancel()`` can end.

Python runs its signal handlers on the main thread, between bytecodes. A thread blocked in a
ctypes call runs none: a Ctrl-C would wait for the call's end (up to 30 s for a silent terminal),
and one that arrives while the library calls back into Python is raised inside the callback,
where ctypes reports it and drops it. So a call made on the main thread runs on a helper thread
while the main thread waits where it can take the signal. On a Ctrl-C (or any exception a signal
handler raises) it cancels the channel's block transfer (``QUIB_CancelTransfer``), which ends
before its next exchange, waits for the call's end and raises the exception: the channel is free
again and usable. The progress callback is handed back to the caller's thread, block by block, so
it runs where the caller runs (a GUI's main loop stays on its thread); what it raises also
cancels the transfer and is raised to the caller. Library callbacks thus never run Python code on
the main thread.

On any other thread no signal arrives: the call runs right there, and the progress callback in
it. Nothing outlives its call, so a fork() finds no helper to lose.
"""

from __future__ import annotations

import _thread
import queue
import threading
from typing import Any, Callable, Optional, TypeVar

from . import _library
from ._library import library

T = TypeVar("T")
Progress = Callable[[int, int], None]

# How often the waiting thread looks again where a wait is not interrupted by a signal
# (Windows), and how often it repeats a cancel that came before the transfer had begun.
_LOOK_SECONDS = 0.05

_DONE = object()


class Call:
    """One blocking call on a channel.

    ``handle``: the channel whose block transfer a stop cancels (None: the call is a single
    exchange or an open, which no cancel shortens). ``progress``: the caller's callback, or None.
    ``function`` is the progress callback to hand to the library (NULL without ``progress``).
    """

    def __init__(self, handle: Optional[int] = None, progress: Optional[Progress] = None) -> None:
        self.handle = handle
        self.progress = progress
        self.failure: Optional[BaseException] = None
        self.function = _library.PROGRESS(self._on_block) if progress else _library.PROGRESS()
        self._stopped = False
        self._blocks: Optional[queue.SimpleQueue[Any]] = None
        self._answers: queue.SimpleQueue[None] = queue.SimpleQueue()

    def run(self, function: Callable[[], T], undo: Optional[Callable[[T], None]] = None) -> T:
        """``function()``'s result; raises what stopped it (a Ctrl-C, the progress callback's
        exception) once it has returned, after ``undo(result)``."""
        if threading.current_thread() is threading.main_thread():
            outcome = self._run_aside(function)
        else:
            outcome = self._run_here(function)
        if self.failure is not None:
            if "result" in outcome and undo is not None:
                undo(outcome["result"])
            raise self.failure
        if "error" in outcome:
            raise outcome["error"]
        return outcome["result"]  # type: ignore[no-any-return]

    def _run_here(self, function: Callable[[], T]) -> dict[str, Any]:
        try:
            return {"result": function()}
        except BaseException as error:
            return {"error": error}

    def _run_aside(self, function: Callable[[], T]) -> dict[str, Any]:
        blocks: queue.SimpleQueue[Any] = queue.SimpleQueue()
        self._blocks = blocks
        outcome: dict[str, Any] = {}

        def helper() -> None:
            try:
                outcome.update(self._run_here(function))
            finally:
                blocks.put(_DONE)

        try:
            # One C call: the thread has started, or it has not and nothing waits for it.
            _thread.start_new_thread(helper, ())
        except (RuntimeError, MemoryError):
            raise
        except BaseException as error:  # a signal right after the start
            self._stop(error)
        while True:
            try:
                self._wait(blocks)
                return outcome
            except BaseException as error:
                self._stop(error)

    def _wait(self, blocks: queue.SimpleQueue[Any]) -> None:
        while True:
            if self._stopped:
                self._cancel()
            try:
                block = blocks.get(timeout=_LOOK_SECONDS)
            except queue.Empty:
                continue
            if block is _DONE:
                return
            if not self._stopped:
                try:
                    self.progress(*block)  # type: ignore[misc]
                except BaseException as error:
                    self._stop(error)
            self._answers.put(None)

    def _stop(self, error: BaseException) -> None:
        # First the mark, then the answer: the library's thread either sees the mark or gets
        # the answer it waits for.
        if self.failure is None:
            self.failure = error
        self._stopped = True
        self._answers.put(None)
        self._cancel()

    def _cancel(self) -> None:
        # A cancel is not kept for a transfer that has not begun: it is repeated until the
        # call has returned.
        if self.handle is not None:
            library().QUIB_CancelTransfer(self.handle)

    def _on_block(self, done: int, total: int, _user: object) -> None:
        # On the thread of the library call.
        if self._stopped:
            return
        if self._blocks is None:
            try:
                self.progress(done, total)  # type: ignore[misc]
            except BaseException as error:
                self._stop(error)
            return
        self._blocks.put((done, total))
        self._answers.get()
