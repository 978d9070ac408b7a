"""Streaming demo: replay a temporal edge list into a sliding window in batches
and sample walks after every batch.

Used by ``python -m strellis demo``; the functions here are usable on their own.
"""

from __future__ import annotations

import re
import sys
import time
from typing import TextIO

import numpy as np

from ._strellis import Strellis

_NUMBER = re.compile(r"[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?\Z")
_SEPARATORS = re.compile(r"[,\s]+")
_INT32_MAX = 2**31 - 1
_INT64_MIN, _INT64_MAX = -(2**63), 2**63 - 1


class EdgeListError(Exception):
    """An edge list that cannot be read; the message is meant for the user."""


def _parse_time(field: str) -> int:
    try:
        return int(field)
    except ValueError:
        pass
    value = float(field)  # fractional seconds are truncated
    if not np.isfinite(value):
        raise ValueError(field)
    return int(value)


_TIME_NAMES = {"t", "ts", "time", "timestamp", "unix_time", "datetime"}


def read_edge_list(path: str, time_column: int | None = None):
    """Read ``src dst t`` rows (whitespace- or comma-separated).

    Extra columns are ignored, blank lines and lines starting with ``#`` or
    ``%`` are skipped, and a first line whose fields are not all numeric is
    taken as a header. The time is the third column, or the column the header
    names ``t``, ``ts``, ``time`` or ``timestamp``, or ``time_column``
    (1-based) when given. Node ids must be non-negative integers; timestamps
    may be floats and are truncated to integers.

    Returns ``(sources, targets, timestamps)`` in file order. Raises
    EdgeListError naming the offending line.
    """
    if time_column is not None and time_column < 3:
        raise EdgeListError(f"the time column must be 3 or later, got {time_column}")
    t_index = 2 if time_column is None else time_column - 1
    expected = "'src dst t'" if t_index == 2 else f"'src dst ... t' with t in column {t_index + 1}"
    sources: list[int] = []
    targets: list[int] = []
    times: list[int] = []
    first = True
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for number, raw in enumerate(f, start=1):
                line = raw.strip()
                if not line or line[0] in "#%":
                    continue
                fields = _SEPARATORS.split(line)
                was_first, first = first, False
                if was_first and not all(_NUMBER.match(x) for x in fields):
                    if time_column is None:  # a header may say where the time is
                        named = [i for i, x in enumerate(fields) if x.strip().lower() in _TIME_NAMES]
                        if named and named[0] >= 2:
                            t_index = named[0]
                            expected = f"'src dst ... t' with t in column {t_index + 1}"
                    continue
                if len(fields) <= t_index or not all(_NUMBER.match(fields[i]) for i in (0, 1, t_index)):
                    raise EdgeListError(f"line {number}: expected {expected}, got: {line!r}")
                try:
                    src, dst = int(fields[0]), int(fields[1])
                except ValueError:
                    raise EdgeListError(
                        f"line {number}: node ids must be integers, got: {line!r}"
                    ) from None
                if not (0 <= src <= _INT32_MAX and 0 <= dst <= _INT32_MAX):
                    raise EdgeListError(
                        f"line {number}: node ids must lie in 0..{_INT32_MAX}, got: {line!r}"
                    )
                try:
                    t = _parse_time(fields[t_index])
                except (ValueError, OverflowError):
                    t = None
                if t is None or not _INT64_MIN <= t <= _INT64_MAX:
                    raise EdgeListError(f"line {number}: timestamp out of range, got: {line!r}")
                sources.append(src)
                targets.append(dst)
                times.append(t)
    except OSError as e:
        raise EdgeListError(f"cannot read {path}: {e.strerror or e}") from None
    if not sources:
        raise EdgeListError(f"{path}: no edges found")
    return (
        np.asarray(sources, dtype=np.int32),
        np.asarray(targets, dtype=np.int32),
        np.asarray(times, dtype=np.int64),
    )


def _batch_bounds(timestamps: np.ndarray, num_batches: int) -> np.ndarray:
    """Cut points of equal time slices over sorted timestamps (num_batches + 1 entries)."""
    t0, t1 = int(timestamps[0]), int(timestamps[-1])
    span = t1 - t0
    cuts = [t0 + (span * b) // num_batches for b in range(1, num_batches)]
    inner = np.searchsorted(timestamps, np.asarray(cuts, dtype=np.int64), side="left")
    return np.concatenate(([0], inner, [len(timestamps)]))


def _rate(hops: int, seconds: float) -> str:
    return f"{hops / seconds:,.0f}" if seconds > 0 else "-"


def run_demo(
    sources,
    targets,
    timestamps,
    *,
    title: str,
    num_batches: int = 25,
    walk_len: int = 20,
    seed: int = 42,
    out: TextIO | None = None,
) -> dict:
    """Stream the edges in time order into a directed Strellis in ``num_batches``
    equal time slices, with a window of a fifth of the time span, sampling
    backward walks (into the window's history) from each batch's targets; then
    walk forward from every active node.

    Prints a row per batch and a summary to ``out`` (stdout by default) and
    returns the summary figures.
    """
    out = sys.stdout if out is None else out
    start = time.perf_counter()

    order = np.argsort(timestamps, kind="stable")
    sources = np.ascontiguousarray(sources[order], dtype=np.int32)
    targets = np.ascontiguousarray(targets[order], dtype=np.int32)
    timestamps = np.ascontiguousarray(timestamps[order], dtype=np.int64)
    n = len(timestamps)
    span = int(timestamps[-1] - timestamps[0]) if n else 0
    window = max(span // 5, 1)
    bounds = _batch_bounds(timestamps, num_batches) if n else np.zeros(num_batches + 1, dtype=np.int64)

    def say(text: str = "") -> None:
        print(text, file=out, flush=True)

    say(f"strellis demo: {title}")
    say(
        f"{n:,} edges over {span:,} time units; window {window:,}, {num_batches} batches, "
        f"backward walks of up to {walk_len} nodes from each batch's targets (ReservoirExponential)"
    )
    say()
    say(f"{'batch':>5} {'added':>9} {'in window':>10} {'active nodes':>13} {'walks':>8} {'hops/s':>12}")

    g = Strellis(is_directed=True, max_time_capacity=window)
    total_walks = total_hops = total_nodes = 0
    walk_seconds = 0.0

    def walk(request, **kwargs):
        nonlocal total_walks, total_hops, total_nodes, walk_seconds
        t = time.perf_counter()
        result = request(max_walk_len=walk_len, **kwargs)
        elapsed = time.perf_counter() - t
        lens = result["walk_lens"]
        hops = int(np.maximum(lens - 1, 0).sum())
        total_walks += len(lens)
        total_hops += hops
        total_nodes += int(lens.sum())
        walk_seconds += elapsed
        return len(lens), hops, elapsed

    for b in range(num_batches):
        lo, hi = int(bounds[b]), int(bounds[b + 1])
        walks = hops = 0
        seconds = 0.0
        if hi > lo:
            g.add_edges(sources[lo:hi], targets[lo:hi], timestamps[lo:hi])
            walks, hops, seconds = walk(
                g.get_walks_for_last_batch,
                walk_bias="ReservoirExponential",
                direction="Backward",
                seed=seed + b,
            )
        say(
            f"{b + 1:>5} {hi - lo:>9,} {g.edge_count():>10,} {g.node_count():>13,} "
            f"{walks:>8,} {_rate(hops, seconds):>12}"
        )

    final_walks, final_hops, final_seconds = walk(
        g.get_walks, walk_bias="ExponentialIndex", start_bias="Uniform", seed=seed + num_batches
    )
    elapsed = time.perf_counter() - start
    mean_len = total_nodes / total_walks if total_walks else 0.0
    say()
    say(
        f"final: {final_walks:,} forward walks from every active node (ExponentialIndex), "
        f"{_rate(final_hops, final_seconds)} hops/s"
    )
    say(
        f"summary: {n:,} edges ingested, {g.edge_count():,} edges / {g.node_count():,} nodes in the final window, "
        f"{total_walks:,} walks, mean walk length {mean_len:.2f}, {_rate(total_hops, walk_seconds)} hops/s, "
        f"{elapsed:.2f} s"
    )
    return {
        "edges": n,
        "window": window,
        "final_edges": g.edge_count(),
        "final_nodes": g.node_count(),
        "walks": total_walks,
        "hops": total_hops,
        "mean_walk_len": mean_len,
        "seconds": elapsed,
    }
