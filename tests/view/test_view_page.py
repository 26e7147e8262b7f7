"""plenoview-view's page in a real browser: loaded from file:// and driven as
a person would, with the pointer, the keys, the slider and the buttons.

The views come from plenoview runs on the bundled sample, each as PNG files
and as .yuv files, with N = 3 and 5; a page shows all three frames or one.
The binaries come from the environment (CTest sets them) or from build/.
"""

import base64
import os
import pathlib
import shutil
import subprocess
import time

import cv2
import numpy as np
import pytest

INSTALL = ("scripts/install-deps --tests (apt-get install chromium chromium-driver "
           "python3-selenium)")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions import interaction
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.actions.pointer_input import PointerInput
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    pytest.skip(f"no Selenium for the browser test: {INSTALL}", allow_module_level=True)
CHROMIUM, CHROMEDRIVER = shutil.which("chromium"), shutil.which("chromedriver")
if not (CHROMIUM and CHROMEDRIVER):
    pytest.skip(f"no Chromium for the browser test: {INSTALL}", allow_module_level=True)

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "data" / "sample"
BUILD = ROOT / "build"
PLENOVIEW = os.environ.get("PLENOVIEW_BINARY", str(BUILD / "plenoview"))
VIEW = os.environ.get("PLENOVIEW_VIEW_BINARY", str(BUILD / "plenoview-view"))


class Run:
    """The views of one plenoview run on the sample: view(frame, x, y) as
    8-bit BGR, read from the PNG file, or from the .yuv file's planes through
    cvtColor(COLOR_YUV2BGR_I420) as the page is said to show them."""

    def __init__(self, folder, output_format, n):
        self.folder, self.format, self.n = folder, output_format, n

    def view(self, frame, x, y):
        result = self.folder / "Result"
        if self.format == "png":
            return cv2.imread(str(result / f"Result_f{frame:04d}_c{x:02d}{y:02d}.png"))
        [path] = result.glob(f"Result_c{x:02d}{y:02d}-*.yuv")
        w, h = map(int, path.stem.split("-")[1].split("x"))
        planes = np.fromfile(path, np.uint8)[frame * w * h * 3 // 2:][:w * h * 3 // 2]
        return cv2.cvtColor(planes.reshape(h * 3 // 2, w), cv2.COLOR_YUV2BGR_I420)


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    made = {}
    for n in (3, 5):
        for output_format in ("png", "yuv"):
            folder = tmp_path_factory.mktemp(f"{output_format}{n}")
            subprocess.run([PLENOVIEW, "--no-window", SAMPLE / "calib.xml",
                            SAMPLE / "frame%03d.png", "3", str(n), "--output-dir", folder,
                            "--output-format", output_format, "--save-patch-sizes",
                            folder / "patch-sizes"], check=True, capture_output=True)
            made[output_format, n] = Run(folder, output_format, n)
    return made


@pytest.fixture(scope="module")
def browser():
    options = Options()
    for argument in ("--headless=new", "--no-sandbox", "--window-size=1100,700"):
        options.add_argument(argument)
    options.binary_location = CHROMIUM
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    yield driver
    driver.quit()


def make_page(run, out, *options):
    result = subprocess.run([VIEW, run.folder, out, *options], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    return result.stdout


def open_page(browser, out):
    browser.get((out / "index.html").as_uri())
    browser.get_log("browser")  # from here on: this page's messages only
    wait_shown(browser)


def wait_shown(browser):
    """Waits until the canvas holds the view and frame asked for; returns them."""
    def shown(driver):
        state = driver.execute_script(
            "const p = window.plenoview; return p && [p.view[0], p.view[1], p.frame, p.shown]")
        return state and state[3] == state[:3] and state[:3]
    return WebDriverWait(browser, 5).until(shown)


def canvas_pixels(browser):
    uri = browser.execute_script("return document.getElementById('view').toDataURL()")
    png = np.frombuffer(base64.b64decode(uri.split(",", 1)[1]), np.uint8)
    return cv2.imdecode(png, cv2.IMREAD_COLOR)


def point_at(browser, fx, fy):
    """The pointer at fraction (fx, fy) of the picture, 2 pixels inside its edges."""
    canvas = browser.find_element("id", "view")
    w, h = canvas.size["width"], canvas.size["height"]
    dx = round((w / 2 - 2) * (2 * fx - 1))
    dy = round((h / 2 - 2) * (2 * fy - 1))
    ActionChains(browser, duration=10).move_to_element_with_offset(canvas, dx, dy).perform()


def press(browser, *keys):
    ActionChains(browser, duration=10).send_keys(*keys).perform()


def text(browser, element_id):
    return browser.find_element("id", element_id).text


def seen(browser, what, seconds):
    """plenoview.<what> every 30 ms for `seconds`."""
    values, end = [], time.monotonic() + seconds
    while time.monotonic() < end:
        value = browser.execute_script(f"return plenoview.{what}")
        values.append(tuple(value) if isinstance(value, list) else value)
        time.sleep(0.03)
    return values


# PNG and YUV folders of the same runs, N = 3 and 5, all three frames or one.
PAGES = [("png", 3, ()), ("yuv", 3, ("--frames", "1..1")), ("png", 5, ("--frames", "2..2")),
         ("yuv", 5, ("--every", "1"))]


@pytest.mark.parametrize("output_format, n, options", PAGES)
def test_the_page_shows_the_view_the_pointer_keys_slider_and_circle_pick(
        runs, browser, tmp_path, output_format, n, options):
    run = runs[output_format, n]
    frames = [int(options[1][0])] if "--frames" in options else [0, 1, 2]
    out = tmp_path / "page"
    printed = make_page(run, out, *options)
    assert printed.startswith(f"page: {out}/index.html, ")
    assert f"({len(frames)} of 3 frames, {n} x {n} views of 176 x 152, PNG)" in printed
    c = n // 2

    # The mosaic: the first frame's views abutted, each with its own pixels.
    mosaic = cv2.imread(str(out / "mosaic.png"))
    assert mosaic.shape == (152 * n, 176 * n, 3)
    for x, y in [(0, 0), (n - 1, 1), (c, n - 1)]:
        assert np.array_equal(mosaic[y * 152:(y + 1) * 152, x * 176:(x + 1) * 176],
                              run.view(frames[0], x, y))

    open_page(browser, out)
    assert browser.execute_script("return [plenoview.views, plenoview.frames]") == [n, frames]
    k0 = frames[0]

    # The pointer: x from 0 at the left edge to N-1 at the right, y from 0 at
    # the top to N-1 at the bottom; the picture holds the view's own pixels.
    for fx, fy, view in [(0, 0, (0, 0)), (1, 0, (n - 1, 0)), (0, 1, (0, n - 1)),
                         (1, 1, (n - 1, n - 1)), (0.5, 0.5, (c, c))]:
        point_at(browser, fx, fy)
        assert wait_shown(browser) == [*view, k0]
        assert text(browser, "view-name") == "c%02d%02d" % view
        assert np.array_equal(canvas_pixels(browser), run.view(k0, *view)), view

    # Keys: Right x+1, Down y+1, stopping at the grid's edge; Home the centre.
    press(browser, Keys.ARROW_RIGHT, Keys.ARROW_DOWN)
    assert wait_shown(browser) == [c + 1, c + 1, k0]
    press(browser, *[Keys.ARROW_LEFT] * (n + 1), Keys.ARROW_UP)
    assert wait_shown(browser) == [0, c, k0]
    press(browser, Keys.HOME)
    assert wait_shown(browser) == [c, c, k0]

    # The circle of the grid: neighbouring views in turn, around the centre.
    circle = [tuple(v) for v in browser.execute_script("return plenoview.circle")]
    assert all(max(abs(a[0] - b[0]), abs(a[1] - b[1])) == 1
               for a, b in zip(circle, circle[1:] + circle[:1]))
    if n == 3:
        assert sorted(circle) == [(x, y) for x in range(3) for y in range(3) if (x, y) != (1, 1)]
    browser.find_element("id", "circle").click()
    turning = seen(browser, "view", 0.6)
    assert len(set(turning)) >= 4 and set(turning) <= set(circle), turning
    browser.find_element("id", "circle").click()
    assert len(set(seen(browser, "view", 0.3)[1:])) == 1

    # Frames: the slider steps one frame and keeps the view; play goes on by
    # itself and pause stops it.
    slider, play = (browser.find_element("id", i) for i in ("frame-slider", "play"))
    if len(frames) == 1:
        assert not slider.is_enabled() and not play.is_enabled()
    else:
        browser.execute_script("plenoview.setView(1, 0); arguments[0].focus()", slider)
        press(browser, Keys.ARROW_RIGHT)
        assert wait_shown(browser) == [1, 0, frames[1]]
        assert text(browser, "frame-name") == f"frame {frames[1]} (2 of {len(frames)})"
        assert np.array_equal(canvas_pixels(browser), run.view(frames[1], 1, 0))
        play.click()
        assert set(seen(browser, "frame", 0.6)) == set(frames)
        play.click()
        assert len(set(seen(browser, "frame", 0.3)[1:])) == 1

    assert [m for m in browser.get_log("browser") if m["level"] == "SEVERE"] == []


def test_touch_one_to_one_patch_sizes_jpeg_and_the_docs_screenshot(runs, browser, tmp_path):
    run = runs["png", 5]
    out = tmp_path / "page"
    make_page(run, out, "--patch-sizes", run.folder / "patch-sizes")
    open_page(browser, out)

    # A touch drag from the top left corner to the bottom right one.
    canvas = browser.find_element("id", "view")
    w, h = canvas.size["width"] // 2 - 2, canvas.size["height"] // 2 - 2
    touch = ActionBuilder(browser, mouse=PointerInput(interaction.POINTER_TOUCH, "finger"))
    touch.pointer_action.move_to(canvas, -w, -h).pointer_down().move_to(canvas, w, h).pointer_up()
    touch.perform()
    assert wait_shown(browser) == [4, 4, 0]

    # Fitted to the window: a whole number of screen pixels per view pixel;
    # 1:1: one.
    ratio = browser.execute_script("return devicePixelRatio")
    assert canvas.size["width"] * ratio % 176 == 0 and canvas.size["width"] * ratio > 176
    browser.find_element("id", "one-to-one").click()
    assert (canvas.size["width"] * ratio, canvas.size["height"] * ratio) == (176, 152)
    browser.find_element("id", "one-to-one").click()
    panel = browser.find_element("id", "patch-panel")
    assert not panel.is_displayed()
    browser.find_element("id", "patch-toggle").click()
    assert panel.is_displayed()
    # One pixel a lens, and the scale from the smallest to the largest size
    # in the files of the frames shown.
    sizes = [cv2.imread(str(p), cv2.IMREAD_UNCHANGED)
             for p in sorted((run.folder / "patch-sizes").glob("PatchSizes_f000[012]_t?.png"))]
    assert len(sizes) == 9
    pictures = WebDriverWait(browser, 5).until(lambda d: d.execute_script(
        "const p = [...document.querySelectorAll('.patch-picture')];"
        "return p.every(i => i.complete) && p.map(i => [i.naturalWidth, i.naturalHeight])"))
    assert pictures == [[sizes[0].shape[1], sizes[0].shape[0]]] * 3
    assert (text(browser, "patch-low"), text(browser, "patch-high")) == (
        str(min(s.min() for s in sizes)), str(max(s.max() for s in sizes)))
    browser.execute_script("plenoview.setView(3, 1); plenoview.setFrame(1)")
    wait_shown(browser)
    screenshot = os.environ.get("PLENOVIEW_VIEW_SCREENSHOT")
    browser.save_screenshot(screenshot or str(tmp_path / "page.png"))
    assert [m for m in browser.get_log("browser") if m["level"] == "SEVERE"] == []

    # JPEG: a smaller page whose pixels stay near the view's (quality 90 and
    # 4:2:0 chroma: the sample's centre view is off by 2.3 levels on average).
    jpeg = tmp_path / "jpeg"
    printed = make_page(run, jpeg, "--jpeg", "90")
    assert "JPEG)" in printed
    assert (jpeg / "index.html").stat().st_size < (out / "index.html").stat().st_size / 2
    open_page(browser, jpeg)
    difference = cv2.absdiff(canvas_pixels(browser), run.view(0, 2, 2))
    assert difference.mean() < 4
