"""Many renders in one process, and renders from several threads at once."""

import os
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import plenoview

PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def test_two_hundred_renders_keep_the_memory_they_started_with(sequences):
    seq = sequences("colour")
    calibration = plenoview.Calibration(seq.calib, seq.frame_size)
    frames = [seq.read(k) for k in range(seq.frames)]
    wrong = frames[0][:-1]

    def work(renderer, i):
        views = renderer.render(frames[i % len(frames)])
        assert views.shape[:2] == (5, 5)
        renderer.patch_sizes, renderer.patch_maps, renderer.lens_type_views(), renderer.messages
        try:
            renderer.render(wrong)  # the error path as well
        except plenoview.Error:
            pass

    # A new renderer every tenth frame: set-up and tear-down count too.
    renderer = plenoview.Renderer(calibration)
    for i in range(20):
        work(renderer, i)
    before = resident_bytes()
    for i in range(200):
        if i % 10 == 0:
            renderer = plenoview.Renderer(calibration)
        work(renderer, i)
    grown = resident_bytes() - before
    # One render's views, frame copy and state take about 0.5 MB; a leak of
    # any of them would grow by 7 MB (the frame copy) to 100 MB or more.
    assert grown < 2 * 2**20, f"grew by {grown / 2**20:.1f} MB"


def test_renders_on_several_threads_equal_those_on_one(sequences):
    grey, colour = sequences("grey"), sequences("colour")
    jobs = [(seq, views) for seq in (grey, colour) for views in (1, 4)]

    def render_all(job):
        seq, views = job
        renderer = plenoview.Renderer(plenoview.Calibration(seq.calib, seq.frame_size), views)
        return [renderer.render(seq.read(k)) for k in range(seq.frames)]

    alone = [render_all(job) for job in jobs]
    # A thread of its own for every job, all at once.
    with ThreadPoolExecutor(len(jobs)) as pool:
        together = list(pool.map(render_all, jobs))
    for job, a, b in zip(jobs, alone, together):
        assert len(a) == len(b) and all(np.array_equal(x, y) for x, y in zip(a, b)), job

    # One renderer shared by threads: each render is whole, none interleaved
    # with another (the same frame again gives the same views).
    renderer = plenoview.Renderer(plenoview.Calibration(colour.calib, colour.frame_size), 4)
    frame = colour.read(0)
    first = renderer.render(frame)
    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda _: renderer.render(frame), range(4)))
    assert renderer.frames_rendered == 5
    assert all(np.array_equal(r, first) for r in results)

    # The number of worker threads changes no byte either.
    calibration = renderer.calibration
    for threads in (1, 3, os.cpu_count()):
        views = plenoview.Renderer(calibration, 4, threads=threads).render(frame)
        assert np.array_equal(views, first), threads
