"""Strellis: streaming temporal random walks on CPU and GPU.

Feed timestamped edge batches into a :class:`Strellis` instance, which keeps
the edges of a sliding time window, and sample time-respecting random walks
from it; walks come back as NumPy arrays.
"""

from ._strellis import Strellis

try:
    from importlib.metadata import PackageNotFoundError, version

    __version__ = version("strellis")
except PackageNotFoundError:  # running from a build tree, not an installed package
    __version__ = "0.0.0"

__all__ = ["Strellis", "__version__"]
