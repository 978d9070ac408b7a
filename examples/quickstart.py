"""Quick start: stream edge batches into a sliding window and sample
time-respecting random walks, with per-edge features.

Run with: python examples/quickstart.py
"""

import numpy as np

from strellis import Strellis

rng = np.random.default_rng(0)

# A directed graph that keeps the last 1000 time units of edges.
g = Strellis(is_directed=True, max_time_capacity=1000)

for batch in range(5):
    n = 2000
    sources = rng.integers(0, 500, n, dtype=np.int32)
    targets = rng.integers(0, 500, n, dtype=np.int32)
    timestamps = rng.integers(batch * 400, batch * 400 + 500, n)  # batches overlap in time
    # Optional features, one row per edge; every batch must bring the same width.
    features = rng.random((n, 8), dtype=np.float32)
    g.add_edges(sources, targets, timestamps, features=features)

    # Walk back in time from the nodes this batch touched.
    walks = g.get_walks_for_last_batch(
        max_walk_len=10, walk_bias="ExponentialIndex", direction="Backward", seed=batch + 1
    )
    print(
        f"batch {batch}: {g.edge_count()} edges / {g.node_count()} nodes in the window, "
        f"{len(walks['walk_lens'])} walks, mean length {walks['walk_lens'].mean():.2f}"
    )

# One walk per active node, forward in time.
walks = g.get_walks(max_walk_len=6, num_walks_per_node=1, walk_bias="Linear", seed=7)
w = int(np.argmax(walks["walk_lens"]))
length = int(walks["walk_lens"][w])
print("longest walk:", walks["nodes"][w, :length].tolist())
print("edge times:  ", walks["timestamps"][w, 1:length].tolist())
print("edge features shape:", walks["edge_features"].shape)  # (walks, max_walk_len - 1, 8)

# Walks whose start edges are sampled over the whole window.
walks = g.get_walks_global(num_walks_total=1000, max_walk_len=8, start_bias="ReservoirExponential", seed=3)
print("global walks:", walks["nodes"].shape)

edges = g.get_edges()  # the window's edges, ascending in time
print("window spans", int(edges["timestamps"][0]), "to", int(edges["timestamps"][-1]))
