"""A transfer ends before its next exchange on a Ctrl-C, a cancel() or a failing progress
callback, and the channel stays usable. Every reply comes in two pieces 100 ms apart, so a
transfer of 60 blocks takes 6 s or more (a graphic one 18 s: the library waits out each 1 KiB
frame's time on the line); each stop must come within 3 s."""

from __future__ import annotations

import os
import signal
import threading
import time

import pytest

import quiblink

SLOW = "fault pieces=2/100:always"
LIMIT = 3.0


@pytest.fixture
def slow_graphic(graphic_sim):
    graphic_sim.ctl(SLOW)
    return graphic_sim


def later(seconds, action):
    timer = threading.Timer(seconds, action)
    timer.start()
    return timer


@pytest.mark.parametrize("watcher", ["none", "progress", "trace handler"])
def test_a_ctrl_c_ends_a_transfer_within_an_exchange(slow_graphic, watcher):
    assert threading.current_thread() is threading.main_thread()
    blocks = []
    progress = (lambda done, total: blocks.append(done)) if watcher == "progress" else None
    if watcher == "trace handler":
        quiblink.set_trace_handler(lambda line: None)
    try:
        with quiblink.GraphicTerminal(slow_graphic.path) as terminal:
            start = time.monotonic()
            timer = later(0.3, lambda: os.kill(os.getpid(), signal.SIGINT))
            with pytest.raises(KeyboardInterrupt):
                terminal.write_area(3, bytes(60 * 1024), progress=progress)
            took = time.monotonic() - start
            timer.cancel()
            assert took < LIMIT
            slow_graphic.ctl("clear")
            assert terminal.terminal_type() == 7  # free again, and usable
    finally:
        quiblink.set_trace_handler(None)
    assert len(blocks) < 30 if watcher == "progress" else blocks == []


@pytest.mark.parametrize("family", ["graphic", "classic"])
def test_cancel_from_another_thread_ends_the_transfer(request, family):
    sim = request.getfixturevalue(family + "_sim")
    sim.ctl(SLOW)
    if family == "graphic":
        channel = quiblink.GraphicTerminal(sim.path)
        transfer = lambda blocks: channel.write_area(3, bytes(blocks * 1024))  # noqa: E731
    else:
        channel = quiblink.ClassicPanel(sim.path)
        transfer = lambda blocks: channel.read(0, blocks * 64)  # noqa: E731
    with channel:
        start = time.monotonic()
        timer = later(0.3, channel.cancel)
        with pytest.raises(quiblink.Cancelled) as caught:
            transfer(60)
        timer.join(LIMIT)
        assert time.monotonic() - start < LIMIT
        assert caught.value.code == -41
        sim.ctl("clear")
        channel.cancel()  # nothing under way: not kept for the next transfer
        transfer(2)


@pytest.mark.parametrize("where", ["main thread", "another thread"])
def test_what_a_progress_callback_raises_ends_the_transfer_and_reaches_the_caller(
        graphic_sim, where):
    seen = []

    class Stop(Exception):
        pass

    def progress(done, total):
        seen.append((done, threading.get_ident()))
        raise Stop()

    def transfer():
        with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
            caller = threading.get_ident()
            with pytest.raises(Stop):
                terminal.write_area(3, bytes(3000), progress=progress)
            assert seen == [(1024, caller)]  # on the caller's thread, and no block after it
            assert graphic_sim.ctl("area 3") == ""  # the last block never went
            terminal.offline()

    if where == "main thread":
        transfer()
        return
    failures = []

    def run():
        try:
            transfer()
        except BaseException as error:  # reported on the test's thread
            failures.append(error)

    thread = threading.Thread(target=run)
    thread.start()
    thread.join(30)
    assert not thread.is_alive() and failures == []
