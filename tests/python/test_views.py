"""Views from the module against the command line's files, and frames in
every form cv2.imread gives them."""

import re

import cv2
import numpy as np
import pytest

import plenoview
from conftest import ROOT, run_cli


def test_sample_calibration_values():
    # data/sample/calib.xml: diameter 17, rotation 0.012, offset (0.3, 0.4),
    # type offsets (0, 0), (1, 0), (2, 0), on 512 x 384 frames.
    #   centre = (512 / 2 + 0.3, 384 / 2 - 0.4) = (256.3, 191.6)
    #   rows: (191.6 - 8.5) / (sqrt(3) 8.5) = 12.44 above, (384 - 200.1) / 14.72 = 12.49
    #         below: 12 + 12 + 1 = 25
    #   columns: (256.3 - 8.5) / 17 = 14.58, (512 - 264.8) / 17 = 14.54; the left
    #         remainder is over half a pitch: 14 + 14 + 1 = 29, 29 // 3 = 9 per type
    #   even-row references x: 256.3 - 0, 1, 2 diameters, less 4 pitches of 51
    #         (4 = trunc((256.3 - 8.5) / 51)): 52.3, 35.3, 18.3, so type 2 is left,
    #         type 1 in the middle and type 0 right.
    c = plenoview.Calibration(ROOT / "data" / "sample" / "calib.xml", (512, 384))
    assert (c.diameter, c.radius, c.rotation) == (17.0, 8.5, 0.012)
    assert c.center == pytest.approx((256.3, 191.6), abs=1e-12)
    assert c.num == (9, 25)
    assert c.offsets == ((0.0, 0.0), (1.0, 0.0), (2.0, 0.0))
    assert [p[0] for p in c.sub_grid_ref_pos[0]] == pytest.approx([52.3, 35.3, 18.3], abs=1e-9)
    assert (c.left_type, c.middle_type, c.right_type) == (2, 1, 0)
    assert c.frame_size == (512, 384)
    assert repr(c).endswith("calib.xml' frame_size=(512, 384) diameter=17 num=(9, 25)>")


def report_of(c):
    """The grid report written from the attributes, as the tool formats doubles (%g)."""
    pair = lambda p: f"[{p[0]:g}, {p[1]:g}]"
    lines = ["==========MicroLens Parameter==========", f"diameter: {c.diameter:g}",
             f"rotation: {c.rotation:g}", f"num: [{c.num[0]}, {c.num[1]}]",
             f"center: {pair(c.center)}"]
    lines += [f"offset[{t}]: {pair(c.offsets[t])}" for t in range(3)]
    lines += [f"subGridRefPos[{r}][{t}]: {pair(c.sub_grid_ref_pos[r][t])}"
              for r in range(2) for t in range(3)]
    return "\n".join(lines + ["=" * 39]) + "\n"


@pytest.mark.parametrize("views", [1, 4, 5])
@pytest.mark.parametrize("name", ["grey", "colour"])
def test_views_equal_the_command_lines_files(sequences, tmp_path, name, views):
    seq = sequences(name)
    cli = run_cli([seq.calib, seq.pattern, seq.frames, views, "--output-dir", tmp_path], tmp_path)
    assert cli.returncode == 0, cli.stderr

    calibration = plenoview.Calibration(seq.calib, seq.frame_size)
    head = (f"CalibPath: {seq.calib}\nImagePath: {seq.pattern}\nImageNum: {seq.frames}\n"
            f"ViewNum: {views}\n")
    assert cli.stdout.startswith(head + calibration.report)
    assert calibration.report == report_of(calibration)
    # Per frame: its counter, then the window messages of that frame.
    per_frame = re.split(r"frameCnt:\d{4}\r", cli.stdout[len(head + calibration.report):])
    assert per_frame[0] == "" and len(per_frame) == seq.frames + 1

    renderer = plenoview.Renderer(calibration, views=views)
    # A second renderer given the first one's patch sizes renders the same views.
    given = plenoview.Renderer(calibration, views=views)
    frames = list(plenoview.frames(seq.pattern))
    assert len(frames) == seq.frames
    for k, frame in enumerate(frames):
        assert np.array_equal(frame, seq.read(k))
        rendered = renderer.render(frame)
        assert np.array_equal(given.render(frame, patch_sizes=renderer.patch_sizes), rendered)
        assert rendered.dtype == np.uint8 and rendered.shape[:2] == (views, views)
        for x in range(views):
            for y in range(views):
                written = cv2.imread(str(tmp_path / "Result" / f"Result_f{k:04d}_c{x:02d}{y:02d}.png"),
                                     cv2.IMREAD_UNCHANGED)
                assert written is not None
                assert rendered[x, y].shape == written.shape, (k, x, y)
                assert np.array_equal(rendered[x, y], written), (k, x, y)
        assert renderer.messages == per_frame[k + 1].splitlines(), k
        assert renderer.frames_rendered == k + 1

    # The state the next frame would start from.
    width, height = renderer.view_size
    lens_views = renderer.lens_type_views()
    assert lens_views.shape[:5] == (3, views, views, height, width)
    for t in range(3):
        sizes = renderer.patch_sizes[t]
        assert sizes.shape == (calibration.num[1], calibration.num[0])
        # Chosen sizes are candidates 3 .. trunc(diameter) - 2; the map paints them.
        assert sizes.min() >= 3 and sizes.max() <= int(calibration.diameter) - 2
        assert set(np.unique(renderer.patch_maps[t])) <= set(np.unique(sizes)) | {0}


def frame_variants(frame):
    """Forms of one 8-bit frame that the command line's conversion maps back to it."""
    v = frame.astype(np.int64)
    variants = {
        "uint16": (v * 257).astype(np.uint16),  # v * 257 >> 8 == v
        "uint16 big-endian": (v * 257).astype(">u2"),
        "int16": (v << 7).astype(np.int16),
        "int32": (v << 23).astype(np.int32),
        "float16": (v / 255).astype(np.float16),  # round(v / 255 x 255) == v
        "float32": (v / 255).astype(np.float32),
        "float64": v / 255,
        "Fortran order": np.asfortranarray(frame),
        "every other sample": np.repeat(np.repeat(frame, 2, axis=0), 2, axis=1)[::2, ::2],
        "reversed rows": frame[::-1].copy()[::-1],
        "read-only": np.require(frame, requirements="C").copy(),
    }
    variants["read-only"].setflags(write=False)
    extra = np.full(frame.shape[:2] + (1,), 77, np.uint8)
    if frame.ndim == 2:
        variants["one channel, 3-D"] = frame[:, :, None]
        variants["grey and alpha"] = np.dstack([frame, extra])
    else:
        variants["colour and alpha"] = np.dstack([frame, extra])
        variants["five channels"] = np.dstack([frame, extra, extra])
    return variants


@pytest.mark.parametrize("name", ["grey", "colour"])
def test_frames_in_other_forms_render_alike(sequences, name):
    seq = sequences(name)
    calibration = plenoview.Calibration(seq.calib, seq.frame_size)
    frame = seq.read(0)
    expected = plenoview.Renderer(calibration, views=3).render(frame)
    for form, variant in frame_variants(frame).items():
        got = plenoview.Renderer(calibration, views=3).render(variant)
        assert np.array_equal(got, expected), form
