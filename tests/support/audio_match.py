"""Comparing a recording of what was played with the decoded track: exact
where the platform is exact, and tolerant of what Wine's DirectSound does
(a sample rounded by one now and then, a few milliseconds dropped or
delayed under load), but never of audio from the wrong place."""

import array

BYTES_PER_SECOND = 176400
BLOCK = BYTES_PER_SECOND // 100  # 10 ms
WINDOW = BYTES_PER_SECOND // 4  # how far a glitch may move the track: 250 ms


def close(played, expected):
    """Equal to within one unit per sample: Wine's DirectSound mixes in
    floating point and now and then rounds a sample the other way."""
    if played == expected:
        return True
    if len(played) != len(expected) or len(played) % 2:
        return False
    return all(abs(a - b) <= 1 for a, b in zip(array.array("h", played), array.array("h", expected)))


def locate(haystack, source, pos, search_from=0, search_to=None):
    """Where the block of source at pos lies in haystack[search_from:search_to],
    found by short probes (a long one would rarely come through without a
    rounded sample); None when it is not there."""
    for skip in range(0, WINDOW, 256):
        probe = source[pos + skip:pos + skip + 128]
        if len(probe) < 128 or not any(probe):
            continue
        at = haystack.find(probe, search_from, search_to or len(haystack))
        start = at - skip
        if at >= 0 and start % 2 == 0 and close(haystack[start:start + BLOCK],
                                                 source[pos:pos + BLOCK]):
            return start
    return None


def glitches_allowed(seconds):
    """How many glitches a recording of `seconds` of the track may have. On a
    machine busier than it has cores, the sound server now and then runs dry
    and plays a few milliseconds of silence, and the track goes on where it
    was: up to one such glitch per quarter of a second."""
    return int(4 * seconds)


def describe_origin(foreign, reference, ref_pos):
    """Where in the track the foreign audio comes from, if anywhere: the
    distance tells a late refill (the buffer's length earlier) from one
    written ahead of the cursor (the buffer's length later)."""
    if len(foreign) < 128:
        return f"{len(foreign)} bytes, too short to place"
    probe = foreign[:128]
    at = reference.find(probe)
    while at >= 0 and at % 2:
        at = reference.find(probe, at + 1)
    if at < 0:
        return f"{len(foreign)} bytes found nowhere in the track"
    return f"{len(foreign)} bytes from {(at - ref_pos) / BYTES_PER_SECOND:+.3f} s away in the track"


def follow_track(recording, reference, rec_pos, ref_pos, ref_end):
    """Walks the recording alongside the track in 10 ms blocks from a matching
    pair of positions. Where the block differs, the platform may have dropped or
    delayed a few milliseconds: the walk picks the track up again within 250 ms.
    Anything else (stale or misplaced audio) fails. Returns the glitch count."""
    glitches = 0
    while ref_pos < ref_end:
        if close(recording[rec_pos:rec_pos + BLOCK], reference[ref_pos:ref_pos + BLOCK]):
            rec_pos += BLOCK
            ref_pos += BLOCK
            continue
        glitches += 1
        for ahead in range(0, WINDOW, BLOCK // 2):
            at = locate(reference, recording, rec_pos + ahead, max(0, ref_pos - WINDOW),
                        ref_pos + 2 * WINDOW)
            if at is None:
                continue
            # The platform drops or inserts time; audio in the track's own
            # place that is not the track was written there by the player.
            skipped = recording[rec_pos:rec_pos + ahead]
            if at - (rec_pos + ahead) == ref_pos - rec_pos and any(skipped):
                raise AssertionError(f"other audio in place of the track at "
                                     f"{ref_pos / BYTES_PER_SECOND:.3f} s "
                                     f"({describe_origin(skipped, reference, ref_pos)})")
            rec_pos, ref_pos = rec_pos + ahead, at
            break
        else:
            raise AssertionError(f"the recording leaves the track at "
                                 f"{ref_pos / BYTES_PER_SECOND:.3f} s")
    return glitches
