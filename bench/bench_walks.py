"""Throughput of ingestion and walk sampling on a synthetic stream.

    python bench/bench_walks.py [--edges N] [--batches B] [--walk-len L] [--gpu] [--json FILE]

Prints edges/s for streaming ingestion (sort, eviction and index rebuild per
batch) and walks/s and hops/s per bias and direction. Timings are wall-clock
on whatever machine runs it; compare numbers only from the same machine.
"""

from __future__ import annotations

import argparse
import json
import platform
import time

import numpy as np

import strellis
from strellis.datasets import synthetic_temporal_graph


def ingest(graph, src, dst, ts, batches):
    bounds = np.linspace(0, len(src), batches + 1).astype(np.int64)
    start = time.perf_counter()
    for b in range(batches):
        lo, hi = bounds[b], bounds[b + 1]
        graph.add_edges(src[lo:hi], dst[lo:hi], ts[lo:hi])
    return time.perf_counter() - start


def walk_rate(graph, bias, direction, walk_len, per_node, kernel_mode):
    graph.get_walks(max_walk_len=walk_len, num_walks_per_node=1, walk_bias=bias, seed=1)  # warm-up
    start = time.perf_counter()
    out = graph.get_walks(max_walk_len=walk_len, num_walks_per_node=per_node, walk_bias=bias,
                          start_bias=bias, direction=direction, kernel_mode=kernel_mode, seed=7)
    seconds = time.perf_counter() - start
    lens = out["walk_lens"]
    hops = int(np.maximum(lens - 1, 0).sum())
    return len(lens), hops, seconds


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--edges", type=int, default=500_000)
    p.add_argument("--batches", type=int, default=20)
    p.add_argument("--walk-len", type=int, default=20)
    p.add_argument("--walks-per-node", type=int, default=5)
    p.add_argument("--gpu", action="store_true", help="run on the GPU (use_gpu=True)")
    p.add_argument("--kernel-mode", default="NodeGrouped")
    p.add_argument("--json", help="also write the results to this file")
    args = p.parse_args()

    src, dst, ts = synthetic_temporal_graph(num_edges=args.edges, seed=3)
    span = int(ts[-1] - ts[0])
    results = {"machine": platform.node(), "device": "gpu" if args.gpu else "cpu", "edges": args.edges}

    graph = strellis.Strellis(is_directed=True, use_gpu=args.gpu, max_time_capacity=span // 2,
                              enable_node2vec=True)
    seconds = ingest(graph, src, dst, ts, args.batches)
    results["ingest_edges_per_s"] = args.edges / seconds
    print(f"ingest: {args.edges} edges in {args.batches} batches, {seconds:.2f} s, "
          f"{args.edges / seconds:,.0f} edges/s; window {graph.edge_count()} edges, "
          f"{graph.node_count()} nodes", flush=True)

    print(f"{'bias':<22}{'direction':<10}{'walks':>10}{'hops':>12}{'seconds':>9}{'hops/s':>14}")
    rows = []
    for bias in ("Uniform", "Linear", "ExponentialIndex", "ReservoirExponential", "TemporalNode2Vec"):
        for direction in ("Forward", "Backward"):
            walks, hops, sec = walk_rate(graph, bias, direction, args.walk_len, args.walks_per_node,
                                         args.kernel_mode)
            rows.append({"bias": bias, "direction": direction, "walks": walks, "hops": hops,
                         "seconds": sec, "hops_per_s": hops / sec if sec > 0 else 0.0})
            print(f"{bias:<22}{direction:<10}{walks:>10}{hops:>12}{sec:>9.3f}{hops / sec:>14,.0f}", flush=True)
    results["walks"] = rows
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=2)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
