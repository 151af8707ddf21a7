"""The Python package against the terminal simulator."""

from __future__ import annotations

import os
import threading

import pytest

import quiblink


def test_version_and_result_table_come_from_the_library():
    assert quiblink.version() == quiblink.__version__
    codes = quiblink.result_codes()
    assert codes["RC_OK"] == 0
    assert codes["RC_NO_RESPONSE"] == -13
    assert codes["RC_TERMINAL_ERROR"] == -36
    assert codes["RC_BUFFER_TOO_SMALL"] == -40
    assert codes["RC_CANCELLED"] == -41
    assert codes["RC_GROUP_TABLE_FULL"] == -42
    assert len(codes) == 22
    assert quiblink.result_text(-19) == "RC_NAK: the panel refused the request (NAK)"
    assert quiblink.result_name(-5) == "RC_UNKNOWN"


def test_graphic_queries_return_named_tuples(graphic_sim):
    graphic_sim.ctl("set memdata 11 -22 33")
    graphic_sim.ctl("set osinfo 4096 8192")
    with quiblink.GraphicTerminal(graphic_sim.path, baud=38400) as terminal:
        assert terminal.project_info().name == b"PYTEST"
        assert terminal.memory_data() == quiblink.MemoryData(11, -22, 33)
        assert terminal.os_info() == quiblink.OsInfo(first=4096, second=8192)
        assert terminal.terminal_type() == 7
        terminal.check_password("1234")
        terminal.offline()
    assert terminal.closed
    assert "offline=1" in graphic_sim.ctl("state")


def test_block_transfers_move_bytes_both_ways_with_progress(graphic_sim):
    data = bytes((i * 7 + 3) & 0xFF for i in range(2500))
    seen = []
    with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
        terminal.write_area(1, data, group=5, progress=lambda done, total: seen.append(
            (done, total)))
        assert seen == [(1024, 2500), (2048, 2500), (2500, 2500)]
        assert graphic_sim.ctl("group 5") == data.hex().upper()
        reads = []
        assert terminal.read_group(5, progress=lambda done, total: reads.append(done)) == data
        assert reads == [1024, 2048, 2500]
        assert terminal.read_all() == data
        graphic_sim.ctl("area 3 0102030400FF")
        assert terminal.read_area(3) == bytes.fromhex("0102030400FF")


def test_a_read_larger_than_its_capacity_raises_buffer_too_small(graphic_sim):
    graphic_sim.ctl("group 2 " + "AB" * 1500)
    with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
        with pytest.raises(quiblink.BufferTooSmall) as caught:
            terminal.read_group(2, capacity=1000)
        assert caught.value.code == -40
        assert len(terminal.read_group(2, capacity=1500)) == 1500


def test_errors_carry_code_name_text_status_and_kind(graphic_sim):
    cases = [
        ("status=9", quiblink.TerminalRefused, -36, 9),
        ("wrong-echo", quiblink.ProtocolError, -31, None),
        ("wrong-seq", quiblink.ProtocolError, -32, None),
    ]
    with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
        for fault, kind, code, status in cases:
            graphic_sim.ctl("fault " + fault)
            with pytest.raises(kind) as caught:
                terminal.offline()
            error = caught.value
            assert isinstance(error, quiblink.QuiblinkError)
            assert (error.code, error.status, error.operation) == (code, status, "XQUIB_Offline")
            assert error.name == quiblink.result_name(code)
            assert error.text and error.name in str(error)
        with pytest.raises(quiblink.TerminalRefused):
            terminal.check_password(b"wrong")
        terminal.offline()  # the channel stays usable


def test_a_raising_progress_callback_reaches_the_caller_after_the_transfer(graphic_sim):
    calls = []

    def stop(done, total):
        calls.append(done)
        raise KeyboardInterrupt("stop")

    with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
        with pytest.raises(KeyboardInterrupt):
            terminal.write_area(3, bytes(3000), progress=stop)
        assert calls == [1024]
        assert len(graphic_sim.ctl("area 3")) == 6000  # the transfer ran to its end


def test_classic_panel_reads_and_writes_memory(classic_sim):
    classic_sim.ctl("poke 0x100 DEADBEEF")
    with quiblink.ClassicPanel(classic_sim.path, model=0) as panel:
        assert panel.read(0x100, 4) == bytes.fromhex("DEADBEEF")
        panel.write(0x200, b"\x01\x02\x03")
        assert panel.read(0x200, 3) == b"\x01\x02\x03"
        with pytest.raises(quiblink.ArgumentError):
            panel.read(0x100, 0)
    assert classic_sim.ctl("peek 0x200 3") == "010203"


def test_open_failures_name_the_device_and_the_system_reason(tmp_path):
    missing = str(tmp_path / "no-such-device")
    with pytest.raises(quiblink.PortError) as caught:
        quiblink.GraphicTerminal(missing)
    error = caught.value
    assert error.code == -1 and error.operation == "XQUIB_Open"
    assert error.reason == missing + ": No such file or directory (errno 2)"
    assert error.text.startswith("the serial port cannot be opened")
    with pytest.raises(quiblink.PortError) as caught:
        quiblink.ClassicPanel(10)
    assert caught.value.code == -33


def test_two_channels_share_a_port_and_threads_keep_their_own_open_errors(graphic_sim, tmp_path):
    with quiblink.GraphicTerminal(graphic_sim.path) as a, \
            quiblink.GraphicTerminal(graphic_sim.path) as b:
        assert a.handle != b.handle
        assert a.terminal_type() == b.terminal_type() == 7
    reasons = {}

    def fail(name):
        try:
            quiblink.ClassicPanel(str(tmp_path / name))
        except quiblink.PortError as error:
            reasons[name] = error.reason

    threads = [threading.Thread(target=fail, args=(n,)) for n in ("one", "two")]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for name in ("one", "two"):
        assert reasons[name].startswith(str(tmp_path / name) + ":")


def test_a_closed_channel_refuses_calls(graphic_sim):
    terminal = quiblink.GraphicTerminal(graphic_sim.path)
    terminal.close()
    terminal.close()
    with pytest.raises(ValueError):
        terminal.offline()
    assert os.environ  # the port mapping stays for later opens
