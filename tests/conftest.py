import pathlib

import numpy as np
import pytest

REPO_ROOT = pathlib.Path(__file__).resolve().parents[1]
DATA_DIR = REPO_ROOT.parent / "shared" / "data"


@pytest.fixture
def data_file():
    """Path of a file of the shared real-data directory; skips when it is absent."""

    def get(name):
        path = DATA_DIR / name
        if not path.is_file():
            pytest.skip(f"{path} not available")
        return path

    return get


def walk_hops(walks, backward=False):
    """Every hop of every walk as (src, dst, t) arrays, plus the hop mask.

    Rows read forward in time either way; a forward walk's edge time sits on the
    later slot of the hop, a backward walk's on the earlier one.
    """
    nodes, ts, lens = walks["nodes"], walks["timestamps"], walks["walk_lens"]
    hops = max(nodes.shape[1] - 1, 0)
    mask = np.arange(hops)[None, :] < (lens - 1)[:, None]
    edge_ts = ts[:, :-1] if backward else ts[:, 1:]
    return nodes[:, :-1][mask], nodes[:, 1:][mask], edge_ts[mask], mask


@pytest.fixture
def hops():
    return walk_hops
