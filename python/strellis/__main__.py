"""Command line: ``python -m strellis demo [--edges FILE]``."""

from __future__ import annotations

import argparse
import sys


def _at_least(lowest: int):
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected an integer, got {text!r}") from None
        if value < lowest:
            raise argparse.ArgumentTypeError(f"must be at least {lowest}, got {value}")
        return value

    return parse


_positive = _at_least(1)


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="strellis", description="Streaming temporal random walks.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    demo = commands.add_parser(
        "demo",
        help="stream a temporal graph through a sliding window and sample walks",
        description=(
            "Stream a temporal graph into a sliding window in batches and sample walks after each one. "
            "Without --edges a synthetic graph (power-law node popularity, bursty activity) is generated."
        ),
    )
    demo.add_argument(
        "--edges",
        metavar="FILE",
        help="edge list with 'src dst t' rows, whitespace- or comma-separated; extra columns are ignored, "
        "an optional header line is skipped (a column it names 't', 'ts', 'time' or 'timestamp' is the time), "
        "float timestamps are truncated",
    )
    demo.add_argument(
        "--time-column",
        type=_at_least(3),
        metavar="N",
        help="1-based column of the timestamps in --edges (default 3, or the one the header names)",
    )
    demo.add_argument(
        "--num-edges", type=_positive, default=300_000, help="size of the synthetic graph (default 300000)"
    )
    demo.add_argument("--batches", type=_positive, default=25, help="number of batches (default 25)")
    demo.add_argument("--walk-len", type=_positive, default=20, help="maximum walk length in nodes (default 20)")
    demo.add_argument("--seed", type=_at_least(0), default=42, help="seed of the synthetic graph and the walks")
    return parser


def main(argv: list[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    from .datasets import synthetic_temporal_graph
    from .demo import EdgeListError, read_edge_list, run_demo

    if args.edges is not None:
        try:
            sources, targets, timestamps = read_edge_list(args.edges, args.time_column)
        except EdgeListError as e:
            print(f"strellis demo: {e}", file=sys.stderr)
            return 2
        title = args.edges
    else:
        sources, targets, timestamps = synthetic_temporal_graph(args.num_edges, seed=args.seed)
        title = f"synthetic graph (power-law popularity, bursty timing, seed {args.seed})"
    run_demo(
        sources,
        targets,
        timestamps,
        title=title,
        num_batches=args.batches,
        walk_len=args.walk_len,
        seed=args.seed,
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
