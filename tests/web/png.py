"""PNG images as RGB pixels (Pillow and numpy): Chromium's screenshots and
viriz-capture's frames."""

import io

import numpy
from PIL import Image as PilImage


class Image:
    def __init__(self, rgb):
        self.rgb = rgb  # height x width x 3, uint8
        self.height, self.width = rgb.shape[:2]

    def pixel(self, x, y):
        return tuple(int(c) for c in self.rgb[y, x])

    def lit_share(self, threshold=30):
        """Share of the pixels whose channels add up to more than threshold."""
        return float(numpy.mean(self.rgb.sum(axis=2, dtype=numpy.int32) > threshold))


def read(data):
    """An Image from the bytes of a PNG file; alpha is dropped (the page is opaque)."""
    return read_file(io.BytesIO(data))


def read_file(path):
    with PilImage.open(path) as image:
        return Image(numpy.asarray(image.convert("RGB")))


def differing_pixels(a, b, level=24):
    """How many pixels of two same-sized images differ by more than level in
    any channel."""
    if (a.width, a.height) != (b.width, b.height):
        raise ValueError(f"sizes differ: {a.width}x{a.height} and {b.width}x{b.height}")
    difference = numpy.abs(a.rgb.astype(numpy.int16) - b.rgb.astype(numpy.int16))
    return int(numpy.count_nonzero(difference.max(axis=2) > level))
