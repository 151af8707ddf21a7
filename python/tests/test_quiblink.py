"""The Python package against the terminal simulator."""

from __future__ import annotations

import logging
import os
import pickle
import threading
from concurrent.futures import ProcessPoolExecutor

import pytest

import quiblink
from quiblink.errors import error_for


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


@pytest.mark.parametrize("fault, code", [("wrong-start", -20), ("bad-checksum", -17)])
def test_a_garbled_reply_before_any_answer_hints_at_the_line_settings(graphic_sim, fault, code):
    with quiblink.GraphicTerminal(graphic_sim.path, baud=38400) as terminal:
        hints = []
        for _ in range(2):
            graphic_sim.ctl("fault %s:always" % fault)
            with pytest.raises(quiblink.ProtocolError) as caught:
                terminal.offline()
            graphic_sim.ctl("clear")
            assert (caught.value.code, caught.value.status) == (code, None)
            hints.append(caught.value.hint)
            terminal.offline()
    assert "line speed" in hints[0] and "38400 baud" in str(caught.value.__class__(code, "x",
                                                                                  hint=hints[0]))
    assert hints[1] is None  # the line has answered since the open


def test_only_a_refusal_carries_the_terminal_status(graphic_sim):
    with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
        # The first block's reply carried status 0; the second's is garbled.
        with pytest.raises(quiblink.ProtocolError) as caught:
            terminal.write_area(3, bytes(2000),
                                progress=lambda done, total: graphic_sim.ctl("fault wrong-start"))
        assert (caught.value.code, caught.value.status, caught.value.hint) == (-20, None, None)


KINDS = [(-1, "XQUIB_Open", quiblink.PortError), (-33, "QUIB_Open", quiblink.BadPort),
         (-2, "XQUIB_Write", quiblink.ArgumentError), (-13, "XQUIB_Offline", quiblink.LineError),
         (-36, "XQUIB_Offline", quiblink.TerminalRefused),
         (-40, "XQUIB_ReadAll", quiblink.BufferTooSmall),
         (-31, "XQUIB_Reset", quiblink.ProtocolError)]


@pytest.mark.parametrize("code, operation, kind", KINDS)
def test_every_error_kind_pickles_as_itself(code, operation, kind):
    error = error_for(code, operation, status=5, reason="why", hint="check")
    copy = pickle.loads(pickle.dumps(error))
    assert type(copy) is kind and str(copy) == str(error) and copy.__dict__ == error.__dict__


def test_a_failed_restore_pickles_with_what_it_wrote():
    cause = error_for(-13, "XQUIB_Write")
    error = quiblink.RestoreFailed("stopped at group 2", ["group 1"], ["group 2"], cause)
    copy = pickle.loads(pickle.dumps(error))
    assert (str(copy), copy.written, copy.not_written) == (str(error), ["group 1"], ["group 2"])
    assert type(copy.cause) is quiblink.LineError and copy.cause.code == -13


def open_missing(path):
    quiblink.GraphicTerminal(path)


def test_a_port_error_in_a_worker_process_arrives_as_itself(tmp_path):
    missing = str(tmp_path / "no-such-device")
    with ProcessPoolExecutor(1) as pool:
        with pytest.raises(quiblink.PortError) as caught:
            pool.submit(open_missing, missing).result(timeout=60)
    assert caught.value.reason.startswith(missing + ":")


def test_trace_lines_reach_a_handler_and_the_logger_as_whole_lines(graphic_sim, caplog):
    lines: list[str] = []
    caplog.set_level(logging.DEBUG, logger="quiblink")
    try:
        quiblink.set_trace_handler(lines.append)
        with quiblink.GraphicTerminal(graphic_sim.path) as terminal:
            terminal.write_area(3, b"\x01")
            quiblink.set_trace_handler(None)
            heard = len(lines)
            terminal.offline()
            assert len(lines) == heard
            quiblink.trace_to_logging()
            terminal.offline()
    finally:
        quiblink.set_trace_handler(None)
    assert "COM open OK!" in lines and "WRITE command" in lines
    dumps = [line for line in lines if line.startswith("[")]
    assert dumps and all(line.endswith("]") for line in dumps)  # pieces make one line
    assert "OFFLINE command" in [r.getMessage() for r in caplog.records if r.name == "quiblink"]


def test_a_failed_open_prints_nothing_and_its_box_text_goes_to_the_trace(tmp_path, capfd):
    lines: list[str] = []
    quiblink.set_trace_handler(lines.append)
    try:
        with pytest.raises(quiblink.PortError):
            quiblink.GraphicTerminal(str(tmp_path / "no-such-device"))
    finally:
        quiblink.set_trace_handler(None)
    assert capfd.readouterr().err == ""
    assert "Error opening COM port hComm" in lines
