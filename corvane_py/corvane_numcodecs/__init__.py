"""corvane for the array stack: a numcodecs codec, a Zarr 3 codec and
error-bounded compression.

``CorvaneCodec`` is a :class:`numcodecs.abc.Codec` with id ``"corvane"``,
registered through the ``numcodecs.codecs`` entry point, so
``numcodecs.get_codec({"id": "corvane", ...})`` finds it. ``CorvaneZarrCodec``
is the same compression as a Zarr 3 array-to-bytes codec named
``"numcodecs.corvane"`` (registered through the ``zarr.codecs`` entry point);
it exists when Zarr 3 is installed.

``compress_within`` returns the smallest container whose decoded samples stay
within a given absolute, range-relative or RMS error of the input.

The codecs compress a chunk as one signal (flattened in C order) or, with
``axis``, each lane along that axis as its own; NaN and infinities survive
them exactly (``frames`` describes the stored form). Decoding yields float32
samples (the Zarr codec casts them to the array's float64 when the array has
that type).

The modules: ``options`` (names and the lane rule), ``frames`` (the stored
form of a chunk), ``codec`` (numcodecs), ``zarr_codec`` (Zarr 3) and
``bounded`` (the error-bounded search).
"""

from __future__ import annotations

from .bounded import BoundedContainer, compress_within
from .codec import CorvaneCodec
from .options import CODEC_ID, CUTOFFS, METHODS, MIN_LANE_SAMPLES, SCALES, ZARR_CODEC_NAME

__all__ = [
    "CODEC_ID",
    "CUTOFFS",
    "METHODS",
    "MIN_LANE_SAMPLES",
    "SCALES",
    "ZARR_CODEC_NAME",
    "BoundedContainer",
    "CorvaneCodec",
    "compress_within",
]

try:
    from .zarr_codec import CorvaneZarrCodec
except ImportError:  # Zarr 3 is not installed; the numcodecs codec still serves Zarr 2
    pass
else:
    __all__ += ["CorvaneZarrCodec"]
