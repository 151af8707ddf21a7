"""Ports by name: each name gets a port index of its own, never one that reaches another device."""

from __future__ import annotations

import os
import pathlib
import threading
import time

import pytest

import quiblink


@pytest.fixture(autouse=True)
def default_devices(monkeypatch):
    for number in range(1, 11):
        monkeypatch.delenv("QUIBLINK_COM%d" % number, raising=False)


def test_names_and_numbers_never_reach_each_others_devices(make_graphic_sim, monkeypatch):
    one, two = make_graphic_sim(1), make_graphic_sim(2)
    monkeypatch.setenv("QUIBLINK_COM10", two.path)
    with quiblink.GraphicTerminal(9) as by_number:
        with quiblink.GraphicTerminal(pathlib.Path(one.path)) as by_name:
            # Port 9 is open by number: the name takes another index, and each talks to its own.
            assert (by_number.terminal_type(), by_name.terminal_type()) == (2, 1)
            with pytest.raises(quiblink.PortError) as caught:
                quiblink.GraphicTerminal(by_name._index)
            assert one.path in caught.value.reason and "mapped" in caught.value.reason
        # The last channel on the name gave its index back with its default device.
        with pytest.raises(quiblink.PortError) as caught:
            quiblink.GraphicTerminal(by_name._index)
        assert caught.value.reason.startswith("/dev/ttyS%d:" % by_name._index)


def test_two_channels_on_one_name_share_its_port_until_the_last_closes(make_graphic_sim):
    sim = make_graphic_sim(3)
    first = quiblink.GraphicTerminal(sim.path)
    second = quiblink.ClassicPanel(sim.path)
    assert first._index == second._index
    first.close()
    # The other channel keeps the mapping, and a new one joins it.
    with quiblink.GraphicTerminal(sim.path) as third:
        assert third._index == second._index
        assert third.terminal_type() == 3
    second.close()


def test_threads_opening_names_each_reach_their_own_device(make_graphic_sim):
    sims = [make_graphic_sim(kind) for kind in (4, 5)]
    wrong: list[str] = []

    def work(sim, kind):
        for _ in range(15):
            try:
                with quiblink.GraphicTerminal(sim.path) as terminal:
                    if terminal.terminal_type() != kind:
                        wrong.append("%s reached type %d" % (sim.path, terminal.terminal_type()))
            except quiblink.QuiblinkError as error:
                wrong.append(str(error))

    threads = [threading.Thread(target=work, args=(sims[i % 2], 4 + i % 2)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(60)
        assert not thread.is_alive()
    assert wrong == []


def test_the_child_of_a_fork_holds_no_channel_and_no_name(make_graphic_sim):
    sim = make_graphic_sim(6)
    with quiblink.GraphicTerminal(sim.path) as terminal:
        index = terminal._index
        pid = os.fork()
        if pid == 0:
            code = 10
            try:
                code = 1 if not terminal.closed else 0
                try:
                    quiblink.GraphicTerminal(index).close()
                except quiblink.PortError as error:
                    if sim.path in (error.reason or ""):
                        code = 2  # the number reached the parent's name
            finally:
                os._exit(code)
        deadline = time.monotonic() + 30
        while (done := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
            time.sleep(0.01)
        if done[0] != pid:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            pytest.fail("the child did not end within 30 s")
        assert os.waitstatus_to_exitcode(done[1]) == 0
        assert terminal.terminal_type() == 6
