"""PNG images as RGB pixels, read with zlib and struct: 8-bit greyscale, RGB
or RGBA, not interlaced (what Chromium's screenshots and viriz-capture's
frames are)."""

import struct
import zlib

_SIGNATURE = b"\x89PNG\r\n\x1a\n"
_CHANNELS = {0: 1, 2: 3, 4: 2, 6: 4}  # colour type -> samples a pixel


class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        start = (y * self.width + x) * 3
        return tuple(self.rgb[start:start + 3])

    def lit_share(self, threshold=30):
        """Share of the pixels whose channels add up to more than threshold."""
        rgb = self.rgb
        lit = sum(1 for i in range(0, len(rgb), 3) if rgb[i] + rgb[i + 1] + rgb[i + 2] > threshold)
        return lit / (self.width * self.height)


def read(data):
    """An Image from the bytes of a PNG file."""
    if data[:8] != _SIGNATURE:
        raise ValueError("not a PNG file")
    pos, header, compressed = 8, None, []
    while pos < len(data):
        length, kind = struct.unpack("!I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack("!IIBBBBB", body)
        elif kind == b"IDAT":
            compressed.append(body)
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in _CHANNELS or interlace:
        raise ValueError(f"unsupported PNG: depth {depth}, colour type {colour}, "
                         f"interlace {interlace}")
    channels = _CHANNELS[colour]
    stride = width * channels
    raw = zlib.decompress(b"".join(compressed))
    rows, previous = [], bytes(stride)
    for y in range(height):
        start = y * (stride + 1)
        row = _unfilter(raw[start], bytearray(raw[start + 1:start + 1 + stride]), previous,
                        channels)
        rows.append(row)
        previous = row
    pixels = b"".join(rows)
    if channels == 3:
        rgb = pixels
    elif channels == 4:  # alpha dropped: the page is opaque
        rgb = bytearray(width * height * 3)
        for c in range(3):
            rgb[c::3] = pixels[c::4]
    else:
        grey = pixels[::channels]
        rgb = bytearray(width * height * 3)
        for c in range(3):
            rgb[c::3] = grey
    return Image(width, height, bytes(rgb))


def read_file(path):
    with open(path, "rb") as f:
        return read(f.read())


def _unfilter(kind, row, previous, bpp):
    if kind == 0:
        return bytes(row)
    if kind == 2:  # Up, all at once through integers
        return bytes(a + b & 0xFF for a, b in zip(row, previous))
    for i in range(len(row)):
        left = row[i - bpp] if i >= bpp else 0
        up = previous[i]
        if kind == 1:
            row[i] = (row[i] + left) & 0xFF
        elif kind == 3:
            row[i] = (row[i] + ((left + up) >> 1)) & 0xFF
        elif kind == 4:
            corner = previous[i - bpp] if i >= bpp else 0
            estimate = left + up - corner
            pa, pb, pc = abs(estimate - left), abs(estimate - up), abs(estimate - corner)
            best = left if pa <= pb and pa <= pc else up if pb <= pc else corner
            row[i] = (row[i] + best) & 0xFF
        else:
            raise ValueError(f"bad PNG filter {kind}")
    return bytes(row)


def differing_pixels(a, b, level=24):
    """How many pixels of two same-sized images differ by more than level in
    any channel."""
    if (a.width, a.height) != (b.width, b.height):
        raise ValueError(f"sizes differ: {a.width}x{a.height} and {b.width}x{b.height}")
    count = 0
    for i in range(0, len(a.rgb), 3):
        if (abs(a.rgb[i] - b.rgb[i]) > level or abs(a.rgb[i + 1] - b.rgb[i + 1]) > level
                or abs(a.rgb[i + 2] - b.rgb[i + 2]) > level):
            count += 1
    return count
