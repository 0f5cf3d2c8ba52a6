#!/usr/bin/env python3
"""Measures the browser build in headless Chromium and prints the figures:
the frame rate over the show (median and 1st percentile, from the timestamps
of the page's animation-frame callbacks), the page's load time and the time
from the click to the first frame, and the gzip-compressed size of every file
the page transfers.

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
# notes its frame's timestamp, and the first one after the show has drawn a
# frame notes when that was, as does the click.
RECORDER = """
(() => {
  const record = { frames: [], click: null, firstFrame: null };
  window.__vizMeasure = record;
  addEventListener('click', () => { if (record.click === null) record.click = performance.now(); },
                   true);
  const request = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = callback => request(time => {
    if (record.frames[record.frames.length - 1] !== time) record.frames.push(time);
    callback(time);
    if (record.firstFrame === null && record.click !== null && window.viriz && viriz.frames > 0)
      record.firstFrame = performance.now();
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


def transferred_files(page, base):
    """{path under the web build: bytes on the wire} of the page's requests
    to its own server."""
    urls = {p["requestId"]: p["response"]["url"] for p in
            page.events_named("Network.responseReceived")}
    sizes = {}
    for finished in page.events_named("Network.loadingFinished"):
        url = urls.get(finished["requestId"], "")
        if url.startswith(base):
            path = urllib.parse.urlsplit(url).path.lstrip("/") or "index.html"
            sizes[path] = sizes.get(path, 0) + finished["encodedDataLength"]
    return sizes


def gzip_sizes(paths):
    """{path: (bytes, gzip -9 bytes)} of files of the web build."""
    sizes = {}
    for path in paths:
        with open(os.path.join(webshow.WEB_DIR, path), "rb") as f:
            data = f.read()
        sizes[path] = (len(data), len(gzip.compress(data, 9)))
    return sizes


def measure(show_seconds=30.0):
    """Runs the show for show_seconds in a fresh browser; returns the figures."""
    with webshow.serve() as base, cdp.Browser() as browser:
        page = webshow.open_page(browser, base, before_load=RECORDER)
        load_ms = page.evaluate("(() => { const n = performance.getEntriesByType('navigation')[0];"
                                " return n.loadEventEnd - n.startTime; })()")
        webshow.start_show(page)
        start_frame = len(page.evaluate("__vizMeasure.frames"))
        webshow.wait_for_show_time(page, show_seconds)
        record = page.evaluate("__vizMeasure")
        median_fps, low_fps = frame_rates(record["frames"][start_frame:])
        files = gzip_sizes(sorted(transferred_files(page, base)))
    return {"median_fps": median_fps, "low_fps": low_fps, "frames": len(record["frames"]),
            "load_ms": load_ms, "click_to_first_frame_ms": record["firstFrame"] - record["click"],
            "files": files}


def report(figures):
    lines = [f"frame rate: median {figures['median_fps']:.1f} fps, 1st percentile "
             f"{figures['low_fps']:.1f} fps ({figures['frames']} frames)",
             f"page load: {figures['load_ms']:.0f} ms; click to first frame: "
             f"{figures['click_to_first_frame_ms']:.0f} ms",
             "transferred (bytes, gzip -9 bytes):"]
    for path, (raw, packed) in sorted(figures["files"].items(), key=lambda item: -item[1][1]):
        lines.append(f"  {path:<24} {raw:>10} {packed:>10}")
    total_raw = sum(raw for raw, _ in figures["files"].values())
    total_packed = sum(packed for _, packed in figures["files"].values())
    lines.append(f"  {'total':<24} {total_raw:>10} {total_packed:>10}")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=30.0, help="show time to run")
    print(report(measure(parser.parse_args().seconds)))


if __name__ == "__main__":
    main()
