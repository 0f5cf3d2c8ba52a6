#!/usr/bin/env python3
"""Measures the browser build in headless Chromium and prints the figures:
the frame rate over the show (median and 1st percentile, from the timestamps
of the page's animation-frame callbacks), the page's load time and the time
from the click to the first frame, and the size of every file the page
transfers, gzip-compressed and as the page's network events saw it.

    python3 tests/web/measure.py [--seconds S]    (default: the first 30 s)
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

# Runs in the page before its own scripts: every animation-frame callback
# notes its frame's timestamp (once a frame).
RECORDER = """
(() => {
  const frames = [];
  window.__vizFrameTimes = frames;
  const request = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = callback => request(time => {
    if (frames[frames.length - 1] !== time) frames.push(time);
    callback(time);
  });
})();
"""


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def frame_rates(timestamps):
    """(median, 1st percentile) frames a second from frame timestamps in ms."""
    intervals = [b - a for a, b in zip(timestamps, timestamps[1:]) if b > a]
    return 1000 / statistics.median(intervals), 1000 / percentile(intervals, 0.99)


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


def measure(show_seconds=30.0):
    """Runs the show for show_seconds in a fresh browser; returns the figures."""
    with webshow.serve() as base, cdp.Browser() as browser:
        page = webshow.open_page(browser, base, before_load=RECORDER)
        load_ms = page.evaluate("(() => { const n = performance.getEntriesByType('navigation')[0];"
                                " return n.loadEventEnd - n.startTime; })()")
        webshow.start_show(page)
        first = len(page.evaluate("__vizFrameTimes"))
        webshow.wait_for_show_time(page, show_seconds)
        frames = page.evaluate("__vizFrameTimes")[first:]
        median_fps, low_fps = frame_rates(frames)
        first_frame_ms = page.evaluate("vizFirstFrameAt - vizStartedAt")
        files = file_sizes(wire_sizes(page, base))
    return {"median_fps": median_fps, "low_fps": low_fps, "frames": len(frames),
            "load_ms": load_ms, "click_to_first_frame_ms": first_frame_ms, "files": files}


def report(figures):
    lines = [f"frame rate: median {figures['median_fps']:.1f} fps, 1st percentile "
             f"{figures['low_fps']:.1f} fps ({figures['frames']} frames)",
             f"page load: {figures['load_ms']:.0f} ms; click to first frame: "
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
    parser.add_argument("--seconds", type=float, default=30.0, help="show time to run")
    print(report(measure(parser.parse_args().seconds)))


if __name__ == "__main__":
    main()
