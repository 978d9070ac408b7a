"""Synthetic temporal graphs for the demo and for quick experiments."""

from __future__ import annotations

import numpy as np


def synthetic_temporal_graph(
    num_edges: int = 300_000,
    num_nodes: int | None = None,
    seed: int = 0,
    zipf_exponent: float = 1.1,
    mean_burst_edges: float = 500.0,
    start_time: int = 1_600_000_000,
):
    """A directed edge stream shaped like real interaction data.

    Node popularity follows a power law (rank r is chosen with weight
    r ** -zipf_exponent, popular nodes scattered over the id range), and
    activity comes in bursts: edges about a second apart, separated by quiet
    gaps of heavy-tailed (Pareto) length, on average one gap per
    ``mean_burst_edges`` edges. No self-loops.

    Returns ``(sources, targets, timestamps)`` as int32, int32 and int64 arrays,
    ascending in time (timestamps in seconds from ``start_time``).
    """
    if num_edges < 0:
        raise ValueError("num_edges must be non-negative")
    if num_nodes is None:
        num_nodes = max(num_edges // 15, 10)
    if num_nodes < 2:
        raise ValueError("num_nodes must be at least 2")
    rng = np.random.default_rng(seed)

    popularity = np.arange(1, num_nodes + 1, dtype=np.float64) ** -zipf_exponent
    popularity /= popularity.sum()
    ids = rng.permutation(num_nodes).astype(np.int32)
    sources = ids[rng.choice(num_nodes, size=num_edges, p=popularity)]
    targets = ids[rng.choice(num_nodes, size=num_edges, p=popularity)]
    loops = sources == targets
    targets[loops] = (targets[loops] + 1) % num_nodes  # ids are exactly 0..num_nodes-1

    quiet = rng.random(num_edges) < 1.0 / mean_burst_edges
    gaps = np.where(quiet, (rng.pareto(1.5, num_edges) + 1.0) * 600.0, rng.exponential(1.0, num_edges))
    timestamps = start_time + np.cumsum(gaps).astype(np.int64)
    return sources, targets, timestamps
