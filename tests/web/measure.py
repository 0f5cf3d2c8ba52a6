#!/usr/bin/env python3
"""Measures the browser build in headless Chromium and prints the figures:
the frame rate over the show (median and 1st percentile, from the timestamps
of the page's animation-frame callbacks), overall and in each part of the
show, the CPU time the browser spent per frame (a steadier figure than the
rate on a busy machine), the page's load time and the time from the click to the first frame,
and the size of every file the page transfers, gzip-compressed and as the
page's network events saw it.

    python3 tests/web/measure.py [--seconds S]    (default: the whole show)
"""

import argparse
import gzip
import os
import statistics
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cdp  # noqa: E402
import webshow  # noqa: E402


# The show lasts 240 beats of 0.3 s; its last second is left out, as the
# music may end a little early.
SHOW_SECONDS = 71.0
BEAT_SECONDS = 0.3
# The parts of the show that draw differently: (name, first beat, end beat).
SEGMENTS = [("beats 0-32 (mesh)", 0, 32), ("beats 32-96 (additive, logo)", 32, 96),
            ("beats 96-160 (fast swing)", 96, 160), ("beats 160- (orbit, credits)", 160, 240)]


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def frame_rates(timestamps):
    """(median, 1st percentile) frames a second from frame timestamps in ms."""
    return rates_of([b - a for a, b in zip(timestamps, timestamps[1:]) if b > a])


def rates_of(intervals):
    return 1000 / statistics.median(intervals), 1000 / percentile(intervals, 0.99)


def segment_rates(frames):
    """[(name, frames, median, 1st percentile)] for each part of the show with
    frames, from the probe's frames (timestamp in ms, music seconds, ...);
    each interval counts in the part of the frame that ends it."""
    rates = []
    for name, first, end in SEGMENTS:
        intervals = [b[0] - a[0] for a, b in zip(frames, frames[1:])
                     if b[0] > a[0] and first <= b[1] / BEAT_SECONDS < end]
        if intervals:
            rates.append((name, len(intervals), *rates_of(intervals)))
    return rates


def browser_cpu_seconds(browser):
    """(all, GPU process) CPU seconds, user and system, that the browser's
    processes (its process group) have used so far. SwiftShader draws in the
    GPU process, on threads of its own."""
    total = gpu = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if int(fields[2]) != browser.process.pid:
                continue
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                is_gpu = b"--type=gpu-process" in f.read()
        except OSError:  # the process ended meanwhile
            continue
        used = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        total += used
        gpu += used if is_gpu else 0
    return total, gpu


def wire_sizes(page, base):
    """{path under the web build: bytes on the wire, headers included} of the
    page's successful requests to its own server (which sends them
    gzip-compressed). Requests from the program's worker threads are not
    among the page's events."""
    urls = {p["requestId"]: p["response"]["url"] for p in
            page.events_named("Network.responseReceived") if p["response"]["status"] == 200}
    sizes = {}
    for finished in page.events_named("Network.loadingFinished"):
        url = urls.get(finished["requestId"], "")
        if url.startswith(base):
            path = urllib.parse.urlsplit(url).path.lstrip("/") or "index.html"
            sizes[path] = sizes.get(path, 0) + finished["encodedDataLength"]
    return sizes


def file_sizes(wire):
    """{name: (bytes, gzip -9 bytes, bytes on the wire or None)} of every
    file of the web build: what a viewer's browser fetches."""
    sizes = {}
    for name in sorted(os.listdir(webshow.WEB_DIR)):
        with open(os.path.join(webshow.WEB_DIR, name), "rb") as f:
            data = f.read()
        sizes[name] = (len(data), len(gzip.compress(data, 9)), wire.get(name))
    return sizes


def measure(show_seconds=SHOW_SECONDS):
    """Runs the show for show_seconds in a fresh browser; returns the figures."""
    with webshow.serve() as base, cdp.Browser() as browser:
        page = webshow.open_page(browser, base)
        load_ms = page.evaluate("(() => { const n = performance.getEntriesByType('navigation')[0];"
                                " return n.loadEventEnd - n.startTime; })()")
        webshow.start_show(page)
        first = page.evaluate("vizProbe.frames.length")
        cpu_before = browser_cpu_seconds(browser)
        webshow.wait_for_show_time(page, show_seconds)
        frames = page.evaluate("vizProbe.frames")[first:]
        cpu_ms = [(after - before) * 1000 / max(1, len(frames))
                  for before, after in zip(cpu_before, browser_cpu_seconds(browser))]
        median_fps, low_fps = frame_rates([frame[0] for frame in frames])
        first_frame_ms = page.evaluate("vizProbe.firstFrameAt - vizProbe.startedAt")
        files = file_sizes(wire_sizes(page, base))
    return {"median_fps": median_fps, "low_fps": low_fps, "frames": len(frames),
            "segments": segment_rates(frames), "cpu_ms_per_frame": cpu_ms,
            "load_ms": load_ms, "click_to_first_frame_ms": first_frame_ms, "files": files}


def report(figures):
    lines = [f"frame rate: median {figures['median_fps']:.1f} fps, 1st percentile "
             f"{figures['low_fps']:.1f} fps ({figures['frames']} frames)"]
    for name, count, median, low in figures["segments"]:
        lines.append(f"  {name:<30} median {median:5.1f} fps, 1st percentile {low:5.1f} fps "
                     f"({count} frames)")
    lines.append(f"browser CPU per frame: {figures['cpu_ms_per_frame'][0]:.1f} ms, of which the "
                 f"GPU process (SwiftShader) {figures['cpu_ms_per_frame'][1]:.1f} ms")
    lines += [f"page load: {figures['load_ms']:.0f} ms; click to first frame: "
              f"{figures['click_to_first_frame_ms']:.0f} ms",
              f"transferred:  {'file':<18} {'bytes':>10} {'gzip -9':>10} {'on the wire':>12}"]
    rows = sorted(figures["files"].items(), key=lambda item: -item[1][1])
    for path, (raw, packed, wire) in rows:
        seen = "-" if wire is None else f"{wire:.0f}"
        lines.append(f"              {path:<18} {raw:>10} {packed:>10} {seen:>12}")
    raw, packed = (sum(sizes[i] for sizes in figures["files"].values()) for i in range(2))
    lines.append(f"              {'total':<18} {raw:>10} {packed:>10}")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=SHOW_SECONDS, help="show time to run")
    print(report(measure(parser.parse_args().seconds)))


if __name__ == "__main__":
    main()
