"""Fixtures: terminal simulators on pseudo-terminals, driven through their control sockets.

``QUIBLINK_SIM`` names the quiblink-sim program and ``QUIBLINK_LIBRARY`` the library (ctest sets
both to the build's).
"""

from __future__ import annotations

import os
import socket
import subprocess
import tempfile
from typing import Callable, Iterator

import pytest


class Simulator:
    def __init__(self, *options: str) -> None:
        program = os.environ.get("QUIBLINK_SIM", "quiblink-sim")
        self._folder = tempfile.TemporaryDirectory(prefix="quib-py-")
        self.socket_path = os.path.join(self._folder.name, "control")
        self.process = subprocess.Popen(
            [program, "--no-pacing", "--control", self.socket_path, *options],
            stdout=subprocess.PIPE,
            stdin=subprocess.DEVNULL,
            text=True,
        )
        assert self.process.stdout is not None
        line = self.process.stdout.readline()
        assert line.startswith("quiblink-sim: serving "), line
        self.path = line.split("serving ", 1)[1].strip()

    def ctl(self, command: str) -> str:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(10)
            s.connect(self.socket_path)
            s.sendall(command.encode() + b"\n")
            answer = b""
            while not answer.endswith(b"\n"):
                piece = s.recv(4096)
                if not piece:
                    break
                answer += piece
        text = answer.decode().strip()
        assert text.startswith("ok"), "%s: %s" % (command, text)
        return text[2:].strip()

    def stop(self) -> None:
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self._folder.cleanup()


@pytest.fixture
def graphic_sim() -> Iterator[Simulator]:
    sim = Simulator("--family", "graphic", "--password", "1234", "--project-name", "PYTEST",
                    "--type", "7")
    yield sim
    sim.stop()


@pytest.fixture
def make_graphic_sim() -> Iterator[Callable[[int], Simulator]]:
    """Graphic terminals that tell each other apart by their terminal type."""
    made: list[Simulator] = []

    def make(kind: int) -> Simulator:
        made.append(Simulator("--family", "graphic", "--type", str(kind)))
        return made[-1]

    yield make
    for sim in made:
        sim.stop()


@pytest.fixture
def classic_sim() -> Iterator[Simulator]:
    sim = Simulator("--family", "classic", "--model", "0")
    yield sim
    sim.stop()
