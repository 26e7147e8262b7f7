// The script of the page plenoview-view writes (tools/view/view_page.js, put
// into tools/view/view_page.html when the tool is built). It shows one view of
// the light field at a time on the canvas #view, drawn with its own pixels;
// the views of every frame are data: URIs in the JSON of #plenoview-data
// (layout in tools/view/view_page.h), so nothing is fetched.
//
// Views are numbered as in the file names: view (x, y), x from 0 at the left
// to N-1 at the right, y from 0 at the top to N-1 at the bottom, "cXXYY".
// Frames are shown by position k in data.frames, named by their index.
//
// This text ends up inside a <script> element: it must never hold the
// characters of a closing script tag.
"use strict";

(function () {
  const data = JSON.parse(document.getElementById("plenoview-data").textContent);
  const n = data.views;
  const [width, height] = data.size;
  const centre = Math.floor(n / 2);  // plenoview's centre view, (N / 2, N / 2)

  const canvas = document.getElementById("view");
  const context = canvas.getContext("2d");
  const stage = document.getElementById("stage");
  const viewName = document.getElementById("view-name");
  const frameName = document.getElementById("frame-name");
  const slider = document.getElementById("frame-slider");
  const playButton = document.getElementById("play");
  const circleButton = document.getElementById("circle");
  const oneToOneButton = document.getElementById("one-to-one");
  const patchButton = document.getElementById("patch-toggle");
  const patchPanel = document.getElementById("patch-panel");
  const patchPictures = patchPanel.querySelectorAll(".patch-picture");

  canvas.width = width;
  canvas.height = height;

  // What is asked for (x, y, k) and what the canvas holds ([x, y, frame]
  // once drawn): a view is drawn only when decoded, so the two may differ for
  // a moment.
  const state = { x: centre, y: centre, k: 0, shown: null, oneToOne: false };

  // ---- Decoded views ----
  // Decoding a view from its data: URI takes a few milliseconds, too long to
  // follow the pointer; the views used last stay decoded, about 256 MB of
  // pixels of them (at least a frame's views when they are small).
  const cacheLimit = Math.max(16, Math.floor(256e6 / (4 * width * height)));
  const cache = new Map();  // "k x y" -> Image, the one used last at the end

  function image(k, x, y) {
    const key = k + " " + x + " " + y;
    let picture = cache.get(key);
    if (picture) {
      cache.delete(key);
    } else {
      picture = new Image();
      picture.src = data.images[k][y * n + x];
    }
    cache.set(key, picture);
    while (cache.size > cacheLimit) cache.delete(cache.keys().next().value);
    return picture;
  }

  // Decodes the views of frame k ahead of the pointer, nearest to the
  // current view first, while they fit the cache beside the views in use.
  function prefetch(k) {
    if (n * n > cacheLimit / 2) return;
    const order = [];
    for (let y = 0; y < n; ++y) {
      for (let x = 0; x < n; ++x) order.push([Math.hypot(x - state.x, y - state.y), x, y]);
    }
    order.sort((a, b) => a[0] - b[0]);
    for (const [, x, y] of order) {
      const picture = image(k, x, y);
      if (!picture.complete) picture.decode().catch(() => {});
    }
    image(state.k, state.x, state.y);  // the view shown stays the last used
  }

  // ---- Showing a view ----
  function pad(v) {
    return String(v).padStart(2, "0");
  }

  function draw() {
    const { x, y, k } = state;
    const picture = image(k, x, y);
    const paint = () => {
      if (state.x !== x || state.y !== y || state.k !== k) return;  // asked for another since
      context.drawImage(picture, 0, 0);
      state.shown = [x, y, data.frames[k]];
    };
    if (picture.complete && picture.naturalWidth > 0) {
      paint();
    } else {
      picture.decode().then(paint, () => {
        console.error("view c" + pad(x) + pad(y) + " of frame " + data.frames[k] +
                      " cannot be decoded");
      });
    }
  }

  // Shows view (x, y) of frame position k, clamped to the grid and frames.
  function show(x, y, k) {
    const clamp = (v, high) => Math.min(Math.max(Math.round(v), 0), high);
    x = clamp(x, n - 1);
    y = clamp(y, n - 1);
    k = clamp(k, data.frames.length - 1);
    const newFrame = k !== state.k;
    if (x === state.x && y === state.y && !newFrame && state.shown) return;
    Object.assign(state, { x, y, k });
    viewName.textContent = "c" + pad(x) + pad(y);
    frameName.textContent =
        "frame " + data.frames[k] + " (" + (k + 1) + " of " + data.frames.length + ")";
    slider.value = k;
    draw();
    if (newFrame) {
      showPatchSizes();
      if (playTimer === null) prefetch(k);  // while playing, a frame shows one view only
    }
  }

  // ---- Fitting the window ----
  // The picture fills the stage, enlarged by whole screen pixels per view
  // pixel (so that every view pixel is a square of one size) or reduced
  // smoothly; 1:1 puts one view pixel on one screen pixel.
  function layout() {
    const ratio = window.devicePixelRatio || 1;
    let scale = 1;  // screen pixels per view pixel
    if (!state.oneToOne) {
      const fit = Math.min(stage.clientWidth * ratio / width, stage.clientHeight * ratio / height);
      scale = fit >= 1 ? Math.floor(fit) : fit;
    }
    canvas.style.width = width * scale / ratio + "px";
    canvas.style.height = height * scale / ratio + "px";
    canvas.classList.toggle("enlarged", scale > 1);
    stage.classList.toggle("scroll", state.oneToOne);
  }

  function press(button, on) {
    button.setAttribute("aria-pressed", on ? "true" : "false");
  }

  oneToOneButton.addEventListener("click", () => {
    state.oneToOne = !state.oneToOne;
    press(oneToOneButton, state.oneToOne);
    layout();
  });
  window.addEventListener("resize", layout);

  // ---- The pointer picks the view ----
  // x goes from 0 at the picture's left edge to N-1 at its right edge, y
  // from 0 at the top to N-1 at the bottom. A touch drag does the same: the
  // canvas keeps the pointer while pressed (touch-action: none stops the
  // page from scrolling instead).
  function pick(event) {
    const box = canvas.getBoundingClientRect();
    const fx = Math.min(Math.max((event.clientX - box.left) / box.width, 0), 1);
    const fy = Math.min(Math.max((event.clientY - box.top) / box.height, 0), 1);
    stopCircle();
    show(fx * (n - 1), fy * (n - 1), state.k);
  }
  canvas.addEventListener("pointermove", pick);
  canvas.addEventListener("pointerdown", (event) => {
    canvas.setPointerCapture(event.pointerId);
    pick(event);
  });

  // ---- Keys: arrows step one view, Home goes to the centre ----
  const steps = { ArrowRight: [1, 0], ArrowLeft: [-1, 0], ArrowDown: [0, 1], ArrowUp: [0, -1] };
  document.addEventListener("keydown", (event) => {
    // On the slider the arrows step the frames instead.
    if (event.target === slider || event.altKey || event.ctrlKey || event.metaKey) return;
    const step = steps[event.key];
    if (step) {
      show(state.x + step[0], state.y + step[1], state.k);
    } else if (event.key === "Home") {
      show(centre, centre, state.k);
    } else {
      return;
    }
    stopCircle();
    event.preventDefault();  // no scrolling
  });

  // ---- The circle ----
  // The views a circle of radius (N-1)/2 about the grid's centre passes,
  // from the right edge on, clockwise on the screen: each step moves to a
  // neighbouring view, and no view comes twice in a row.
  function circlePath() {
    const c = (n - 1) / 2;
    const path = [];
    const samples = 16 * n;  // fine enough to pass every view the circle crosses
    for (let i = 0; i < samples; ++i) {
      const angle = 2 * Math.PI * i / samples;
      const view = [Math.round(c + c * Math.cos(angle)), Math.round(c + c * Math.sin(angle))];
      const last = path[path.length - 1];
      if (!last || last[0] !== view[0] || last[1] !== view[1]) path.push(view);
    }
    const [first, last] = [path[0], path[path.length - 1]];
    if (path.length > 1 && first[0] === last[0] && first[1] === last[1]) path.pop();
    return path;
  }
  const circle = circlePath();
  let circleTimer = null;

  function stopCircle() {
    if (circleTimer === null) return;
    clearInterval(circleTimer);
    circleTimer = null;
    press(circleButton, false);
  }

  circleButton.addEventListener("click", () => {
    if (circleTimer !== null) {
      stopCircle();
      return;
    }
    // Start at the point of the path nearest to the view shown.
    let at = 0;
    circle.forEach((v, i) => {
      const d = (u) => Math.hypot(u[0] - state.x, u[1] - state.y);
      if (d(v) < d(circle[at])) at = i;
    });
    show(circle[at][0], circle[at][1], state.k);
    circleTimer = setInterval(() => {
      at = (at + 1) % circle.length;
      show(circle[at][0], circle[at][1], state.k);
    }, 100);
    press(circleButton, true);
  });

  // ---- Frames: the slider, play and pause ----
  slider.max = data.frames.length - 1;
  slider.addEventListener("input", () => show(state.x, state.y, Number(slider.value)));
  let playTimer = null;
  playButton.addEventListener("click", () => {
    if (playTimer !== null) {
      clearInterval(playTimer);
      playTimer = null;
      prefetch(state.k);
    } else {
      playTimer = setInterval(() => {
        show(state.x, state.y, (state.k + 1) % data.frames.length);
      }, 125);
    }
    playButton.textContent = playTimer !== null ? "pause" : "play";
    press(playButton, playTimer !== null);
  });
  if (data.frames.length < 2) slider.disabled = playButton.disabled = true;

  // ---- Patch sizes ----
  // Per lens type a false-colour picture of one pixel a lens; a type's lenses
  // lie 3 lens diameters apart in a row and the rows sqrt(3)/2 apart, which
  // gives the pictures the proportions of the frame.
  function showPatchSizes() {
    if (!data.patchSizes || patchPanel.hidden) return;
    patchPictures.forEach((picture, type) => {
      picture.src = data.patchSizes.frames[state.k][type];
    });
  }
  if (data.patchSizes) {
    const [perRow, rows] = data.patchSizes.lenses;
    patchPictures.forEach((picture) => {
      picture.style.aspectRatio = 3 * perRow + " / " + rows * Math.sqrt(3) / 2;
    });
    document.getElementById("patch-scale").src = data.patchSizes.scale;
    document.getElementById("patch-low").textContent = data.patchSizes.low;
    document.getElementById("patch-high").textContent = data.patchSizes.high;
    patchButton.hidden = false;
    patchButton.addEventListener("click", () => {
      patchPanel.hidden = !patchPanel.hidden;
      press(patchButton, !patchPanel.hidden);
      showPatchSizes();
      layout();
    });
  }

  // ---- For scripts and tests ----
  // views: N; frames: the frame indices; view: [x, y]; frame: the index of
  // the frame asked for; shown: [x, y, frame] the canvas holds, null before
  // the first is drawn; circle: the circle's views in order. setView(x, y)
  // and setFrame(index) throw a RangeError for a view or frame not held.
  window.plenoview = Object.freeze({
    views: n,
    frames: data.frames.slice(),
    get view() {
      return [state.x, state.y];
    },
    get frame() {
      return data.frames[state.k];
    },
    get shown() {
      return state.shown && state.shown.slice();
    },
    circle: circle.map((v) => v.slice()),
    setView(x, y) {
      const inGrid = (v) => Number.isInteger(v) && v >= 0 && v < n;
      if (!inGrid(x) || !inGrid(y)) {
        throw new RangeError("view (" + x + ", " + y + ") is not in 0 .. " + (n - 1));
      }
      show(x, y, state.k);
    },
    setFrame(index) {
      const k = data.frames.indexOf(index);
      if (k < 0) throw new RangeError("frame " + index + " is not on the page");
      show(state.x, state.y, k);
    },
  });

  layout();
  show(centre, centre, 0);
  prefetch(0);
})();
