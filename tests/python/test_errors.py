"""Faults raise plenoview.Error with the command line's message, or TypeError
for arrays that hold no samples; none of them may crash the interpreter."""

import shutil

import cv2
import numpy as np
import pytest

import plenoview
from conftest import cli_error

CALIBRATION = """<RayCalibData>
  <diameter>{diameter}</diameter>
  <rotation>0.01</rotation>
  <offset><x>0.3</x><y>-4.1</y></offset>
  <lens_type id="{id}"><offset><x>2</x><y>0</y></offset></lens_type>
  <lens_type id="1"><offset><x>0</x><y>0</y></offset></lens_type>
  <lens_type id="2"><offset><x>1</x><y>0</y></offset></lens_type>
</RayCalibData>"""


@pytest.mark.parametrize("text", [
    None,  # no such file
    "<RayCalibData><diameter>9</diameter>",  # not well-formed
    CALIBRATION.format(diameter="9a", id=0),
    CALIBRATION.format(diameter=300, id=0),
    CALIBRATION.format(diameter=9, id=3),
    CALIBRATION.format(diameter=9, id=0).replace("<rotation>0.01</rotation>", ""),
    CALIBRATION.format(diameter=9, id=0).replace("-4.1", "-60"),  # centre above the frame
], ids=["missing", "not XML", "not a number", "too large", "lens type 3", "no rotation",
        "centre outside"])
def test_bad_calibrations_raise_the_command_lines_message(sequences, tmp_path, text):
    seq = sequences("colour")
    path = tmp_path / "calib.xml"
    if text is not None:
        path.write_text(text)
    expected = cli_error([path, seq.pattern, 1, 5], tmp_path)
    with pytest.raises(plenoview.Error) as caught:
        plenoview.Calibration(str(path), seq.frame_size)
    assert str(caught.value) == expected


def test_frame_of_another_size_raises_the_command_lines_message(sequences, tmp_path):
    seq = sequences("colour")
    shutil.copytree(seq.folder, tmp_path / "seq")
    second = str(tmp_path / "seq" / "frame001.png")
    cv2.imwrite(second, seq.read(1)[:-1])
    expected = cli_error([tmp_path / "seq" / "calib.xml", tmp_path / "seq" / "frame%03d.png", 2, 5],
                         tmp_path)
    assert expected.endswith('frame001.png" is 120 x 95 pixels, but the first frame is 120 x 96')

    renderer = plenoview.Renderer(plenoview.Calibration(seq.calib, seq.frame_size))
    renderer.render(seq.read(0))
    frame = cv2.imread(second, cv2.IMREAD_UNCHANGED)
    with pytest.raises(plenoview.Error) as caught:
        renderer.render(frame, index=1, name=second)
    assert str(caught.value) == expected
    # Without a name the frame is counted and called an array.
    with pytest.raises(plenoview.Error, match=r'^frame 1: "<array>" is 120 x 95 pixels, but'):
        renderer.render(frame)
    # The refused frame changed nothing: the next one renders as in the first place.
    assert renderer.frames_rendered == 1
    fresh = plenoview.Renderer(plenoview.Calibration(seq.calib, seq.frame_size))
    fresh.render(seq.read(0))
    assert np.array_equal(renderer.render(seq.read(1)), fresh.render(seq.read(1)))


def cut(path):
    data = path.read_bytes()
    path.write_bytes(data[:len(data) // 2])


def folder(path):
    path.unlink()
    path.mkdir()


@pytest.mark.parametrize("fault", [
    lambda seq: cv2.imwrite(str(seq / "frame001.png"), cv2.imread(str(seq / "frame001.png"))[1:]),
    lambda seq: cut(seq / "frame001.png"),
    lambda seq: (seq / "frame001.png").unlink(),
    lambda seq: (seq / "frame001.png").write_text("not an image"),
    lambda seq: folder(seq / "frame001.png"),
], ids=["smaller", "cut", "missing", "not an image", "a folder"])
def test_bad_frame_files_raise_the_command_lines_message(sequences, tmp_path, fault):
    seq = tmp_path / "seq"
    shutil.copytree(sequences("colour").folder, seq)
    fault(seq)
    pattern = str(seq / "frame%03d.png")
    expected = cli_error([seq / "calib.xml", pattern, 2, 5], tmp_path)
    with pytest.raises(plenoview.Error) as caught:
        list(plenoview.frames(pattern, count=2))
    assert str(caught.value) == expected


@pytest.mark.parametrize("arguments, message", [
    (dict(path="f%s.png"), "ImagePath \"f%s.png\": conversion '%s' is not allowed"),
    (dict(path="f%d%d.png"), "ImagePath \"f%d%d.png\""),
    (dict(path="f%d.png", first_frame=-1), "^first_frame must be at least 0, not -1$"),
    (dict(path="f%d.png", count=-1), "^count must be at least 0, not -1$"),
    (dict(path="f%d.png", first_frame=2**31 - 2, count=2), "^first_frame \\+ count must be"),
    (dict(path="f%d.png", size=(64, 48)),
     r'^size applies to a video ImagePath \(.yuv, .y4m or -\), not to "f%d.png"$'),
    (dict(path="f%d.png", pixel_format="yuv420p"), "^pixel_format applies to a video ImagePath"),
    (dict(path="v.yuv", pixel_format="yuv444p"),
     '^pixel_format must be yuv420p or yuv420p10le, not "yuv444p"$'),
    (dict(path="v.yuv", size=""), "^size must give a size WIDTHxHEIGHT$"),
    (dict(path="missing.y4m"), r'^cannot open "missing.y4m": No such file'),
])
def test_bad_frame_arguments_raise(arguments, message):
    with pytest.raises(plenoview.Error, match=message):
        plenoview.frames(**arguments)


@pytest.mark.parametrize("frame, error, message", [
    (np.array(7, np.uint8), plenoview.Error, r"not an array of shape \(\)$"),
    (np.zeros(96, np.uint8), plenoview.Error, r"shape \(96,\)$"),
    (np.zeros((96, 120, 3, 1), np.uint8), plenoview.Error, r"shape \(96, 120, 3, 1\)$"),
    (np.zeros((0, 120), np.uint8), plenoview.Error, r"shape \(0, 120\) is empty"),
    (np.zeros((96, 120, 0), np.uint8), plenoview.Error, r"shape \(96, 120, 0\) is empty"),
    (np.zeros((96, 120, 513), np.uint8), plenoview.Error, "513 channels; at most 512"),
    # A broadcast view of 10^12 pixels is refused from its shape, before any copy.
    (np.broadcast_to(np.uint8(0), (10**6, 10**6)), plenoview.Error,
     r'^frame 0: "<array>" is 1000000 x 1000000 pixels; frames may have at most 65535'),
    (np.broadcast_to(np.uint8(0), (2**40, 3)), plenoview.Error, "beyond 65535 pixels per side"),
    (np.zeros((96, 120), bool), TypeError, "dtype bool is not supported"),
    (np.zeros((96, 120), np.complex64), TypeError, "dtype complex64 is not supported"),
    (np.zeros((96, 120), object), TypeError, "dtype object is not supported"),
    (np.zeros((96, 120), np.int64), TypeError, "dtype int64 is not supported"),
    (np.zeros((96, 120), np.uint32), TypeError, "dtype uint32 is not supported"),
    (np.zeros((96, 120), "U1"), TypeError, "dtype <U1 is not supported"),
    (np.zeros((96, 120), [("a", np.uint8)]), TypeError, r"dtype \[\('a', 'u1'\)\] is not"),
    ([[0] * 120] * 96, TypeError, "^a frame is a NumPy array, not list$"),
    (np.uint8(7), TypeError, "^a frame is a NumPy array, not uint8$"),
], ids=["0-D", "1-D", "4-D", "no rows", "no channels", "513 channels", "10^12 pixels",
        "2^40 rows", "bool", "complex", "object", "int64", "uint32", "str", "structured", "list", "scalar"])
def test_odd_arrays_raise(sequences, frame, error, message):
    seq = sequences("colour")
    renderer = plenoview.Renderer(plenoview.Calibration(seq.calib, seq.frame_size))
    with pytest.raises(error, match=message):
        renderer.render(frame)
    assert renderer.frames_rendered == 0


@pytest.mark.parametrize("call, message", [
    (lambda c: plenoview.Renderer(c, views=0), "^views must be at least 1, not 0$"),
    (lambda c: plenoview.Renderer(c, views=100), "^views must be at most 99, not 100$"),
    (lambda c: plenoview.Renderer(c, threads=0), "^threads must be at least 1, not 0$"),
    (lambda c: plenoview.Calibration(c.path, (0, 96)), "^frame size 0 x 96: both sides must"),
    (lambda c: plenoview.Calibration(c.path, (65536, 96)), "^frame size 65536 x 96: frames may"),
    (lambda c: plenoview.Calibration(c.path, (20000, 20000)), "268435456 \\(2\\^28\\) in all$"),
])
def test_bad_arguments_raise(sequences, call, message):
    seq = sequences("colour")
    with pytest.raises(plenoview.Error, match=message):
        call(plenoview.Calibration(seq.calib, seq.frame_size))


def test_patch_sizes_of_another_shape_raise(sequences):
    seq = sequences("grey")
    calibration = plenoview.Calibration(seq.calib, seq.frame_size)
    renderer = plenoview.Renderer(calibration)
    good = renderer.patch_sizes
    shape = f"\\({calibration.num[1]}, {calibration.num[0]}\\)"
    with pytest.raises(plenoview.Error, match="^patch_sizes must be a sequence of 3 arrays"):
        renderer.render(seq.read(0), patch_sizes=good[:2])
    with pytest.raises(plenoview.Error, match=rf"^patch_sizes\[1\] must be a uint8 array of shape {shape}"):
        renderer.render(seq.read(0), patch_sizes=[good[0], good[1].astype(np.int32), good[2]])
    assert renderer.frames_rendered == 0
