"""plenoview.compare: the dictionary plenoview-compare writes with --json."""

import json
import math
import os
import subprocess

import cv2
import numpy as np
import pytest

import plenoview
from conftest import ROOT

COMPARE = os.environ.get("PLENOVIEW_COMPARE_BINARY", str(ROOT / "build" / "plenoview-compare"))
INF = math.inf


def frames(y, u, v, count=2):
    """`count` 4 x 2 I420 frames: Y 8 samples, U 2, V 2, each plane one value."""
    frame = np.concatenate([np.full(8, y), np.full(2, u), np.full(2, v)]).astype(np.uint8)
    return np.tile(frame, count)


def cli_json(ref, test, tmp_path):
    out = tmp_path / "figures.json"
    run = subprocess.run([COMPARE, "--json", str(out), str(ref), str(test)], capture_output=True)
    assert run.returncode == 0, run.stderr
    return json.loads(out.read_text())


def test_lenslet_videos(tmp_path):
    # Y one above (MSE 1), U equal, V four below (MSE 16).
    frames(100, 100, 100).tofile(tmp_path / "ref_4x2_.yuv")
    frames(101, 100, 96).tofile(tmp_path / "test_4x2_.yuv")
    got = plenoview.compare(tmp_path / "ref_4x2_.yuv", tmp_path / "test_4x2_.yuv")
    assert got == cli_json(tmp_path / "ref_4x2_.yuv", tmp_path / "test_4x2_.yuv", tmp_path)
    assert set(got) == {"llpsnr_y", "llpsnr_u", "llpsnr_v", "llpsnr_yuv", "frames"}
    assert got["llpsnr_y"] == pytest.approx(48.1308, abs=5e-5)
    assert got["llpsnr_v"] == pytest.approx(36.0896, abs=5e-5)
    assert (got["llpsnr_u"], got["llpsnr_yuv"], got["frames"]) == (INF, INF, 2)
    # The size given instead of named.
    frames(100, 100, 100).tofile(tmp_path / "ref.yuv")
    assert plenoview.compare(tmp_path / "ref.yuv", tmp_path / "test_4x2_.yuv",
                             size=(4, 2)) == got


def test_view_folders_and_grey_views(tmp_path):
    # Two 1 x 1 runs: yuv views with Y one above, and a grey PNG view.
    for run, y in (("a", 100), ("b", 101)):
        (tmp_path / run / "Result").mkdir(parents=True)
        frames(y, 128, 128).tofile(tmp_path / run / "Result" / "Result_c0000-4x2.yuv")
    (tmp_path / "grey" / "Result").mkdir(parents=True)
    for k in range(2):
        cv2.imwrite(str(tmp_path / "grey" / "Result" / f"Result_f{k:04d}_c0000.png"),
                    np.full((2, 4), 100, np.uint8))

    got = plenoview.compare(tmp_path / "a", tmp_path / "b")
    assert got == cli_json(tmp_path / "a", tmp_path / "b", tmp_path)
    assert got["mvpsnr_y"] == pytest.approx(48.1308, abs=5e-5)
    assert got["views"] == [{"view": "c0000", "psnr_y": got["mvpsnr_y"], "psnr_u": INF,
                             "psnr_v": INF, "psnr_yuv": INF}]
    # A grey side has Y only: U and V are not measured.
    grey = plenoview.compare(tmp_path / "grey", tmp_path / "b" / "Result")
    assert grey == cli_json(tmp_path / "grey", tmp_path / "b" / "Result", tmp_path)
    assert (grey["mvpsnr_y"], grey["mvpsnr_u"], grey["mvpsnr_yuv"]) == (got["mvpsnr_y"], None, None)


def test_faults_raise_the_command_lines_message(tmp_path):
    frames(100, 100, 100).tofile(tmp_path / "ref_4x2_.yuv")
    with pytest.raises(plenoview.Error, match="cannot open TEST .*: No such file"):
        plenoview.compare(tmp_path / "ref_4x2_.yuv", tmp_path / "gone.yuv")
    with pytest.raises(plenoview.Error, match="pixel_format must be yuv420p or yuv420p10le"):
        plenoview.compare(tmp_path / "ref_4x2_.yuv", tmp_path / "ref_4x2_.yuv",
                          pixel_format="yuv422p")
