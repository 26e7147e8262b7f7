"""Shared fixtures: generated sequences and runs of the command line on them.

The binaries come from the environment (CTest sets PLENOVIEW_BINARY and
PLENOVIEW_SYNTH_BINARY) or from build/ beside the sources.
"""

import os
import pathlib
import subprocess

import cv2
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PLENOVIEW = os.environ.get("PLENOVIEW_BINARY", str(ROOT / "build" / "plenoview"))
SYNTH = os.environ.get("PLENOVIEW_SYNTH_BINARY", str(ROOT / "build" / "plenoview-synth"))

# Short generated sequences, the command line's own test cases. Grey: a
# fractional diameter and a grid turned by 0.9 radians, so every view is
# turned on its side. Colour: the first lens row just under a radius from the
# top, so that with N = 1 lens windows fall outside and are reported.
SEQUENCES = {
    "grey": ("--grey --width 150 --height 120 --diameter 9.4 --center 0.3,0.2 "
             "--rotation 0.9 --motion 1,1", 3),
    "colour": ("--colour --width 120 --height 96 --diameter 9 --center 0.3,-4.1 "
               "--offsets 2,0,0,0,1,0 --motion 2,0", 2),
}


class Sequence:
    def __init__(self, folder, frames):
        self.folder = folder
        self.calib = str(folder / "calib.xml")
        self.pattern = str(folder / "frame%03d.png")
        self.frames = frames

    def read(self, k):
        return cv2.imread(self.pattern % k, cv2.IMREAD_UNCHANGED)

    @property
    def frame_size(self):
        frame = self.read(0)
        return (frame.shape[1], frame.shape[0])


@pytest.fixture(scope="session")
def sequences(tmp_path_factory):
    made = {}

    def make(name):
        if name not in made:
            options, frames = SEQUENCES[name]
            folder = tmp_path_factory.mktemp(name) / "seq"
            subprocess.run([SYNTH, "--out", str(folder), "--frames", str(frames)] +
                           options.split(), check=True, capture_output=True)
            made[name] = Sequence(folder, frames)
        return made[name]

    return make


def run_cli(args, cwd, stdin=b""):
    """Runs plenoview --no-window without a display, `stdin` (bytes) on a pipe
    as its standard input; returns the process."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    result = subprocess.run([PLENOVIEW, "--no-window"] + [str(a) for a in args], cwd=cwd, env=env,
                            input=stdin, capture_output=True)
    # Decoded by hand: text mode would turn the counter's carriage returns into newlines.
    result.stdout = result.stdout.decode()
    result.stderr = result.stderr.decode()
    return result


def cli_error(args, cwd, stdin=b""):
    """The one error line of a failing run, without the "plenoview: " prefix."""
    result = run_cli(args, cwd, stdin)
    assert result.returncode in (1, 2), result.stderr
    first = result.stderr.splitlines()[0]
    assert first.startswith("plenoview: "), result.stderr
    return first[len("plenoview: "):]
