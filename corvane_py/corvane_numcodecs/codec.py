"""The numcodecs codec: corvane for any numcodecs user, Zarr format 2 included."""

from __future__ import annotations

from typing import Any

import corvane

from .frames import decode_chunk, encode_chunk

try:
    # numcodecs ships no type information.
    from numcodecs.abc import Codec  # type: ignore[import-untyped]
    from numcodecs.compat import (  # type: ignore[import-untyped]
        ensure_bytes,
        ensure_contiguous_ndarray,
        ensure_ndarray,
        ndarray_copy,
    )
except ImportError as missing:
    raise ImportError(
        "corvane_numcodecs needs numcodecs; install it with: pip install 'corvane[zarr]'"
    ) from missing

from .options import CODEC_ID, lane_axis, options_config


class CorvaneCodec(Codec):  # type: ignore[misc]  # an untyped base
    """numcodecs codec compressing float32/float64 buffers with corvane.

    The options are those of ``corvane.CorvnCompressionOptions``, plus
    `axis`: None (the buffer is flattened in memory order and compressed as
    one signal) or the axis along which every lane of the buffer is
    compressed as its own signal. They form the codec's configuration. The
    codec is lossy: ``decode`` returns float32 samples within the error that
    the options allow, not the input bytes; NaN and infinities come back
    exactly.
    """

    codec_id = CODEC_ID

    def __init__(
        self,
        method: str = "cdf97",
        scale: int = 11,
        cutoff: str = "low",
        coder: str | None = None,
        axis: int | None = None,
    ) -> None:
        config = options_config(method, scale, cutoff, coder, axis)
        self.method: str = config["method"]
        self.scale: int = config["scale"]
        self.cutoff: str = config["cutoff"]
        self.coder: str = config["coder"]
        self.axis: int | None = config.get("axis")

    def get_config(self) -> dict[str, Any]:
        config = {"id": self.codec_id}
        config.update(options_config(self.method, self.scale, self.cutoff, self.coder, self.axis))
        return config

    # Built per call rather than kept: the native options object cannot be
    # pickled, and codecs travel to worker processes (Dask, multiprocessing).
    @property
    def _options(self) -> corvane.CorvnCompressionOptions:
        return corvane.CorvnCompressionOptions(self.method, self.scale, self.cutoff, self.coder)

    def encode(self, buf: Any) -> bytes:
        """Compresses any contiguous float32 or float64 buffer: flattened in
        memory order, or lane by lane along `axis` of its shape."""
        if self.axis is None:
            return encode_chunk(ensure_contiguous_ndarray(buf), self._options)
        array = ensure_ndarray(buf)
        axis = lane_axis(self.axis, array.shape)
        if not array.flags.c_contiguous:
            # Zarr 2 reshapes what decode returns in the array's memory order,
            # so an F-ordered chunk is framed as its C-ordered transpose.
            if not array.flags.f_contiguous:
                ensure_contiguous_ndarray(array)  # raises its usual error
            return encode_chunk(array.T, self._options, array.ndim - 1 - axis)
        return encode_chunk(array, self._options, axis)

    def decode(self, buf: Any, out: Any = None) -> Any:
        """Decompresses a stored chunk into float32 samples (a frame in the
        shape it was encoded with, a plain container as one signal), or into
        `out`: a float buffer of the same number of values (float64 is
        filled by conversion, special values bit for bit) or a raw buffer of
        the float32 bytes."""
        data = ensure_bytes(buf)
        if out is None:
            return decode_chunk(data)
        destination = ensure_contiguous_ndarray(out)
        if destination.dtype.kind != "f":
            return ndarray_copy(decode_chunk(data), out)
        samples = decode_chunk(data, destination.dtype)
        if destination.size != samples.size:
            raise ValueError(
                f"output buffer holds {destination.size} values but the container "
                f"{samples.size}"
            )
        destination[...] = samples.reshape(-1)
        return out
