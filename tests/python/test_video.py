"""Lenslet videos through plenoview.frames: raw and Y4M files and standard
input, read as the command line reads them."""

import contextlib
import os
import shutil
import subprocess
import threading

import cv2
import numpy as np
import pytest

import plenoview
from conftest import SEQUENCES, SYNTH, cli_error, run_cli

WIDTH, HEIGHT, FRAMES = 120, 96, 2
STEM = f"synth_{WIDTH}x{HEIGHT}_{FRAMES}frames_8bit_yuv420"


@pytest.fixture(scope="module")
def videos(tmp_path_factory):
    """The colour sequence as one raw 8-bit file, one Y4M file, and the raw
    samples as 10-bit (v << 2 plus 0 .. 3 in the low bits, which the
    reduction to 8 bits drops) under a name that tells neither size nor depth."""
    folder = tmp_path_factory.mktemp("videos")
    options, _ = SEQUENCES["colour"]
    for form in ("yuv", "y4m"):
        subprocess.run([SYNTH, "--out", str(folder / form), "--frames", str(FRAMES), "--format",
                        form] + options.split(), check=True, capture_output=True)
    raw = np.fromfile(folder / "yuv" / f"{STEM}.yuv", np.uint8).astype("<u2")
    wide = (raw << 2) | (np.arange(raw.size) % 4).astype("<u2")
    wide.astype("<u2").tofile(folder / "video.yuv")
    return folder


@contextlib.contextmanager
def on_stdin(data):
    """`data` on a pipe as this process's file descriptor 0, written by a thread."""
    read_end, write_end = os.pipe()
    saved = os.dup(0)
    os.dup2(read_end, 0)
    os.close(read_end)

    def write():
        with open(write_end, "wb") as pipe:
            with contextlib.suppress(BrokenPipeError):
                pipe.write(data)

    writer = threading.Thread(target=write)
    writer.start()
    try:
        yield
    finally:
        os.dup2(saved, 0)  # closes the read end: a writer still at it gets a broken pipe
        os.close(saved)
        writer.join()


# (ImagePath, file for standard input or None, plenoview.frames options, command-line options)
FORMS = {
    "y4m file": (f"y4m/{STEM}.y4m", None, {}, []),
    "raw file named with its size": (f"yuv/{STEM}.yuv", None, {}, []),
    "raw 10-bit file, size and format given": (
        "video.yuv", None, dict(size=(WIDTH, HEIGHT), pixel_format="yuv420p10le"),
        ["--size", f"{WIDTH}x{HEIGHT}", "--pixel-format", "yuv420p10le"]),
    "y4m on a pipe": ("-", f"y4m/{STEM}.y4m", {}, []),
    "raw on a pipe": ("-", f"yuv/{STEM}.yuv", dict(size=f"{WIDTH}x{HEIGHT}"),
                      ["--size", f"{WIDTH}x{HEIGHT}"]),
}


@pytest.mark.parametrize("form", FORMS)
def test_video_frames_render_as_the_command_line(videos, tmp_path, form):
    path, piped, options, cli_options = FORMS[form]
    path = path if piped else str(videos / path)
    data = (videos / piped).read_bytes() if piped else b""
    calib = videos / "y4m" / "calib.xml"
    cli = run_cli([calib, path, FRAMES, 4, "--output-dir", tmp_path] + cli_options, videos, data)
    assert cli.returncode == 0, cli.stderr

    with on_stdin(data) if piped else contextlib.nullcontext():
        # Without a count: every frame up to the end of the video or stream.
        frames = list(plenoview.frames(path, **options))
    assert len(frames) == FRAMES
    # The 4:2:0 planes in BGR, as cv2 converts them; the same for all forms.
    planes = np.fromfile(videos / "yuv" / f"{STEM}.yuv", np.uint8).reshape(FRAMES, -1, WIDTH)
    for k, frame in enumerate(frames):
        assert np.array_equal(frame, cv2.cvtColor(planes[k], cv2.COLOR_YUV2BGR_I420)), k

    renderer = plenoview.Renderer(plenoview.Calibration(calib, (WIDTH, HEIGHT)), views=4)
    for k, frame in enumerate(frames):
        views = renderer.render(frame)
        for x in range(4):
            for y in range(4):
                written = cv2.imread(str(tmp_path / "Result" / f"Result_f{k:04d}_c{x:02d}{y:02d}.png"))
                assert np.array_equal(views[x, y], written), (k, x, y)


def cut(name):
    """Drops the last 100 bytes of file `name` of a copy of the videos."""
    return lambda folder: (folder / name).write_bytes((folder / name).read_bytes()[:-100])


def renamed(folder):
    shutil.move(folder / f"yuv/{STEM}.yuv", folder / "yuv/video.yuv")


# (fault made in a copy of the videos, ImagePath, stdin file, first frame, count, options,
# command-line options)
FAULTS = {
    "past the end": (None, f"y4m/{STEM}.y4m", None, 1, 2, {}, ["--first-frame", 1]),
    "raw, no size": (renamed, "yuv/video.yuv", None, 0, 1, {}, []),
    "size against the header": (None, f"y4m/{STEM}.y4m", None, 0, 1, dict(size=(64, 48)),
                                ["--size", "64x48"]),
    "y4m, cut": (cut(f"y4m/{STEM}.y4m"), f"y4m/{STEM}.y4m", None, 0, 1, {}, []),
    "raw pipe ends inside a frame": (cut(f"yuv/{STEM}.yuv"), "-", f"yuv/{STEM}.yuv", 0, None,
                                     dict(size=(WIDTH, HEIGHT)), ["--size", f"{WIDTH}x{HEIGHT}"]),
    "y4m pipe, too few frames": (None, "-", f"y4m/{STEM}.y4m", 0, 3, {}, []),
}


@pytest.mark.parametrize("fault", FAULTS)
def test_bad_videos_raise_the_command_lines_message(videos, tmp_path, fault):
    make, path, piped, first, count, options, cli_options = FAULTS[fault]
    folder = tmp_path / "videos"
    shutil.copytree(videos, folder)
    if make:
        make(folder)
    path = path if piped else str(folder / path)
    data = (folder / piped).read_bytes() if piped else b""
    end = first + (count if count is not None else FRAMES)
    expected = cli_error([folder / "y4m/calib.xml", path, end, 4] + cli_options, folder, data)
    with pytest.raises(plenoview.Error) as caught:
        with on_stdin(data) if piped else contextlib.nullcontext():
            list(plenoview.frames(path, first_frame=first, count=count, **options))
    assert str(caught.value) == expected
