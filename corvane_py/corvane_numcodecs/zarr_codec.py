"""The Zarr 3 codec: corvane as an array's serializer (array to bytes)."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import TYPE_CHECKING

import numpy as np
from zarr.abc.codec import ArrayBytesCodec
from zarr.core.chunk_grids import RegularChunkGrid

import corvane

from .frames import decode_chunk, encode_chunk
from .options import ZARR_CODEC_NAME, lane_axis, options_config

if TYPE_CHECKING:
    from typing import Self

    from zarr.core.array_spec import ArraySpec
    from zarr.core.buffer import Buffer, NDBuffer
    from zarr.core.chunk_grids import ChunkGrid
    from zarr.core.common import JSON
    from zarr.core.dtype.wrapper import TBaseDType, TBaseScalar, ZDType


@dataclass(frozen=True)
class CorvaneZarrCodec(ArrayBytesCodec):
    """Zarr 3 codec turning a float32/float64 chunk into a corvane container.

    It takes the place of Zarr's ``bytes`` serializer. Without `axis` the
    chunk is compressed as one signal in C order; with it, every lane along
    that axis is compressed as its own signal. NaN and infinities come back
    exactly, and the part of a chunk that only holds the array's fill value
    at its borders (the padding past the array's end, parts no write
    reached) is restored as the fill rather than compressed. Decoding casts
    to the array's type. Pass ``compressors=None``: a generic compressor
    after it only costs time.
    """

    is_fixed_size = False

    method: str
    scale: int
    cutoff: str
    coder: str
    axis: int | None

    def __init__(
        self,
        method: str = "cdf97",
        scale: int = 11,
        cutoff: str = "low",
        coder: str | None = None,
        axis: int | None = None,
    ) -> None:
        config = options_config(method, scale, cutoff, coder, axis)
        for name in ("method", "scale", "cutoff", "coder"):
            object.__setattr__(self, name, config[name])
        object.__setattr__(self, "axis", config.get("axis"))

    @property
    def options(self) -> corvane.CorvnCompressionOptions:
        return corvane.CorvnCompressionOptions(self.method, self.scale, self.cutoff, self.coder)

    @classmethod
    def from_dict(cls, data: dict[str, JSON]) -> Self:
        if data.get("name") != ZARR_CODEC_NAME:
            raise ValueError(f"expected a codec named {ZARR_CODEC_NAME!r}, got {data.get('name')!r}")
        configuration = data.get("configuration") or {}
        if not isinstance(configuration, dict):
            raise ValueError(f"codec configuration must be an object, got {configuration!r}")
        return cls(**configuration)

    def to_dict(self) -> dict[str, JSON]:
        configuration: dict[str, JSON] = dict(
            options_config(self.method, self.scale, self.cutoff, self.coder, self.axis)
        )
        return {"name": ZARR_CODEC_NAME, "configuration": configuration}

    def validate(
        self,
        *,
        shape: tuple[int, ...],
        dtype: ZDType[TBaseDType, TBaseScalar],
        chunk_grid: ChunkGrid,
    ) -> None:
        native = dtype.to_native_dtype()
        if native.kind != "f" or native.itemsize not in (4, 8):
            raise ValueError(f"corvane compresses float32 or float64 arrays, not {native}")
        if self.axis is not None:
            chunk_shape = chunk_grid.chunk_shape if isinstance(chunk_grid, RegularChunkGrid) else shape
            lane_axis(self.axis, tuple(chunk_shape))

    def compute_encoded_size(self, input_byte_length: int, chunk_spec: ArraySpec) -> int:
        raise NotImplementedError("corvane containers have no fixed size")

    def _encode_sync(self, chunk_array: NDBuffer, chunk_spec: ArraySpec) -> Buffer | None:
        # The codec is told the chunk's shape and the array's fill value, not
        # where the chunk lies in the array: padding past the array's end is
        # found as the fill-valued border of the chunk.
        fill = np.asarray(chunk_spec.fill_value, dtype=chunk_spec.dtype.to_native_dtype())
        stored = encode_chunk(chunk_array.as_numpy_array(), self.options, self.axis, fill)
        return chunk_spec.prototype.buffer.from_bytes(stored)

    def _decode_sync(self, chunk_bytes: Buffer, chunk_spec: ArraySpec) -> NDBuffer:
        native = chunk_spec.dtype.to_native_dtype()
        samples = decode_chunk(chunk_bytes.to_bytes(), native, chunk_spec.shape)
        if samples.size != math.prod(chunk_spec.shape):
            raise ValueError(
                f"chunk container holds {samples.size} samples but the chunk "
                f"{chunk_spec.shape} needs {math.prod(chunk_spec.shape)}"
            )
        return chunk_spec.prototype.nd_buffer.from_numpy_array(samples.reshape(chunk_spec.shape))

    # The native calls hold the interpreter lock throughout, so a worker
    # thread would only add a hand-off per chunk.
    async def _encode_single(self, chunk_array: NDBuffer, chunk_spec: ArraySpec) -> Buffer | None:
        return self._encode_sync(chunk_array, chunk_spec)

    async def _decode_single(self, chunk_bytes: Buffer, chunk_spec: ArraySpec) -> NDBuffer:
        return self._decode_sync(chunk_bytes, chunk_spec)
