"""The one way the Python tests wait: poll a condition against a deadline,
never a fixed sleep, so a slow machine only makes a test slower."""

import time


def wait_for(predicate, timeout, interval=0.05, what="condition", pump=None):
    """Polls predicate until it returns a true value, which is returned.
    pump(seconds), when given, is called between polls instead of sleeping
    (it reads whatever arrives meanwhile)."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError(f"timed out after {timeout} s waiting for {what}")
        (pump or time.sleep)(min(interval, left))
