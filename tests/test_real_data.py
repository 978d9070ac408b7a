"""End to end on a real message network: a day at a time into a 30-day
window, checking that every walk respects time and uses stored edges."""

import numpy as np
import pytest

from strellis import Strellis

DAY = 86_400


def edge_keys(src, dst, t, t0):
    # Ids stay below 2**11 and the span below 2**31 seconds in this data set.
    return (src.astype(np.int64) << 42) | (dst.astype(np.int64) << 31) | (t - t0)


def check_walks(w, g, backward, t0, hops):
    nodes, ts, lens = w["nodes"], w["timestamps"], w["walk_lens"]
    assert (lens >= 1).all()
    rows = np.arange(len(lens))
    # The start node's slot carries no time: first slot forward, last backward.
    start_col = lens - 1 if backward else np.zeros_like(lens)
    assert (ts[rows, start_col] == -1).all()
    # Edge times strictly increase along each row.
    src, dst, t, mask = hops(w, backward)
    edge_ts = np.where(mask, ts[:, :-1] if backward else ts[:, 1:], np.iinfo(np.int64).max)
    later = np.diff(edge_ts, axis=1)
    assert (later[mask[:, 1:]] > 0).all()
    # Every hop is a stored edge, in its direction.
    e = g.get_edges()
    stored = edge_keys(e["sources"], e["targets"], e["timestamps"], t0)
    assert np.isin(edge_keys(src, dst, t, t0), stored).all()
    return len(src)


@pytest.mark.parametrize("bias", ["Uniform", "ExponentialIndex", "ReservoirExponential", "Linear"])
def test_college_messages_streamed_by_day(data_file, hops, bias):
    data = np.loadtxt(data_file("CollegeMsg.txt"), dtype=np.int64)
    src, dst, ts = data[:, 0].astype(np.int32), data[:, 1].astype(np.int32), data[:, 2]
    t0 = int(ts.min())
    day = (ts - t0) // DAY
    bounds = np.searchsorted(day, np.arange(day[-1] + 2))
    g = Strellis(True, max_time_capacity=30 * DAY)
    walked = 0
    for d in range(len(bounds) - 1):
        lo, hi = bounds[d], bounds[d + 1]
        if lo == hi:
            continue
        g.add_edges(src[lo:hi], dst[lo:hi], ts[lo:hi])
        if d % 7 == 0:
            backward = d % 14 == 0
            w = g.get_walks_for_last_batch(
                max_walk_len=8, walk_bias=bias, direction="Backward" if backward else "Forward", seed=d + 1
            )
            walked += check_walks(w, g, backward, t0, hops)
    # The window holds exactly the edges of the last 30 days.
    latest = int(ts.max())
    assert g.edge_count() == int((ts >= latest - 30 * DAY).sum())
    for backward in (False, True):
        w = g.get_walks_global(
            2000, max_walk_len=10, walk_bias=bias, start_bias=bias, direction="Backward" if backward else "Forward"
        )
        assert w["nodes"].shape == (2000, 10)
        walked += check_walks(w, g, backward, t0, hops)
    assert walked > 5000
