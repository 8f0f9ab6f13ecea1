"""Waiting for a condition, for the end-to-end drivers and their helpers."""
import time


def wait_for(predicate, timeout, what):
    """The predicate's first true value, asked every 0.2 s; AssertionError after `timeout` s."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.2)
