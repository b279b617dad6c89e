"""corvane for the array stack: a numcodecs codec, a Zarr 3 codec and
error-bounded compression.

``CorvaneCodec`` is a :class:`numcodecs.abc.Codec` with id ``"corvane"``,
registered through the ``numcodecs.codecs`` entry point, so
``numcodecs.get_codec({"id": "corvane", ...})`` finds it. ``CorvaneZarrCodec``
is the same compression as a Zarr 3 array-to-bytes codec named
``"numcodecs.corvane"`` (registered through the ``zarr.codecs`` entry point);
it exists when Zarr 3 is installed.

``compress_within`` returns the smallest container whose decoded samples stay
within a given absolute error of the input.

Every codec flattens its input (C order) and compresses it as one signal;
decoding yields float32 samples (the Zarr codec casts them to the array's
float64 when the array has that type).
"""

from __future__ import annotations

import math
import operator
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Final

import numpy as np
import numpy.typing as npt

import corvane

try:
    # numcodecs ships no type information.
    from numcodecs.abc import Codec  # type: ignore[import-untyped]
    from numcodecs.compat import (  # type: ignore[import-untyped]
        ensure_bytes,
        ensure_contiguous_ndarray,
        ndarray_copy,
    )
except ImportError as missing:
    raise ImportError(
        "corvane_numcodecs needs numcodecs; install it with: pip install 'corvane[zarr]'"
    ) from missing

__all__ = [
    "CODEC_ID",
    "ZARR_CODEC_NAME",
    "BoundedContainer",
    "CorvaneCodec",
    "compress_within",
]

CODEC_ID: Final = "corvane"
ZARR_CODEC_NAME: Final = "numcodecs.corvane"

METHODS: Final = ("cdf97", "cdf53", "db4", "sym4")
CUTOFFS: Final = ("low", "medium", "high")
SCALES: Final = tuple(range(6, 13))


def _options_config(method: str, scale: int, cutoff: str, coder: str | None) -> dict[str, Any]:
    """The options as JSON-ready configuration. Building the native options
    object validates them with the module's own messages; an absent coder is
    spelt "auto" (they build identical options), so equal codecs have equal
    configurations."""
    scale = operator.index(scale)
    corvane.CorvnCompressionOptions(method, scale, cutoff, coder)
    return {"method": method, "scale": scale, "cutoff": cutoff, "coder": coder or "auto"}


def _samples(array: npt.NDArray[Any]) -> npt.NDArray[np.floating[Any]]:
    """The values of `array` as one contiguous run of native-order float32 or
    float64 samples, which is what compress_signal accepts."""
    if array.dtype.kind != "f" or array.dtype.itemsize not in (4, 8):
        raise ValueError(f"corvane compresses float32 or float64 samples, not {array.dtype}")
    flat = np.ascontiguousarray(array.reshape(-1))
    return flat.astype(flat.dtype.newbyteorder("="), copy=False)


class CorvaneCodec(Codec):  # type: ignore[misc]  # an untyped base
    """numcodecs codec compressing float32/float64 buffers with corvane.

    The options are those of ``corvane.CorvnCompressionOptions`` and form the
    codec's configuration. The codec is lossy: ``decode`` returns float32
    samples within the error that the options allow, not the input bytes.
    """

    codec_id = CODEC_ID

    def __init__(
        self,
        method: str = "cdf97",
        scale: int = 11,
        cutoff: str = "low",
        coder: str | None = None,
    ) -> None:
        config = _options_config(method, scale, cutoff, coder)
        self.method: str = config["method"]
        self.scale: int = config["scale"]
        self.cutoff: str = config["cutoff"]
        self.coder: str = config["coder"]

    # Built per call rather than kept: the native options object cannot be
    # pickled, and codecs travel to worker processes (Dask, multiprocessing).
    @property
    def _options(self) -> corvane.CorvnCompressionOptions:
        return corvane.CorvnCompressionOptions(self.method, self.scale, self.cutoff, self.coder)

    def encode(self, buf: Any) -> bytes:
        """Compresses any contiguous float32 or float64 buffer, flattened."""
        return corvane.compress_signal(_samples(ensure_contiguous_ndarray(buf)), self._options)

    def decode(self, buf: Any, out: Any = None) -> Any:
        """Decompresses a container into float32 samples, or into `out`: a
        float buffer of the same number of values (float64 is filled by
        conversion) or a raw buffer of the float32 bytes."""
        samples = corvane.decompress_signal(ensure_bytes(buf))
        if out is None:
            return samples
        destination = ensure_contiguous_ndarray(out)
        if destination.dtype.kind != "f":
            return ndarray_copy(samples, out)
        if destination.size != samples.size:
            raise ValueError(
                f"output buffer holds {destination.size} values but the container "
                f"{samples.size}"
            )
        destination[...] = samples
        return out


# -- error-bounded compression ------------------------------------------------


@dataclass(frozen=True)
class BoundedContainer:
    """A container that decodes within an absolute error bound, and how it was made."""

    container: bytes
    #: Largest absolute difference between the decoded and the given samples,
    #: measured in float64 on the returned container.
    max_abs_error: float
    method: str
    scale: int
    cutoff: str
    coder: str
    #: Containers decoded to find it (at most the number of combinations).
    decoded: int


def _combinations() -> list[tuple[str, int, str]]:
    """Every (method, scale, cutoff) that can give a distinct container: at
    scales 6 and 7 the detail threshold is zero whatever the cutoff, so only
    "low" is tried there (68 combinations)."""
    return [
        (method, scale, cutoff)
        for method in METHODS
        for scale in SCALES
        for cutoff in (CUTOFFS if scale >= 8 else CUTOFFS[:1])
    ]


def _max_abs_error(container: bytes, reference: npt.NDArray[np.float64]) -> float:
    decoded = corvane.decompress_signal(container).astype(np.float64)
    return float(np.max(np.abs(decoded - reference)))


def compress_within(data: npt.ArrayLike, max_abs_error: float) -> BoundedContainer:
    """The smallest container whose decoded samples differ from `data` by at
    most `max_abs_error`.

    `data` is compressed with the rANS coder under each of the 68 distinct
    (method, scale, cutoff) combinations; the containers are decoded from the
    smallest up until one meets the bound, so the rANS container returned is
    the smallest that does. Its combination is then also compressed with
    DEFLATE, which wins when smaller (the coders are lossless, so the error
    stays). The containers are held until the search ends: about 68 times
    the average container size.

    Raises ValueError for a negative or non-finite bound, for samples that are
    not finite (the codec replaces NaN and infinities, so no bound holds for
    them), and when no combination meets the bound.
    """
    if not math.isfinite(max_abs_error) or max_abs_error < 0:
        raise ValueError(f"max_abs_error must be finite and non-negative, not {max_abs_error!r}")
    samples = _samples(np.asarray(data))
    reference = samples.astype(np.float64)
    if not np.isfinite(samples).all():
        raise ValueError("compress_within needs finite samples: NaN and infinities are replaced")

    candidates = sorted(
        (
            (corvane.compress_signal(samples, corvane.CorvnCompressionOptions(*combo, "arans")), combo)
            for combo in _combinations()
        ),
        key=lambda candidate: len(candidate[0]),
    )
    closest: tuple[float, tuple[str, int, str]] | None = None
    for decoded, (container, combo) in enumerate(candidates, start=1):
        error = _max_abs_error(container, reference)
        if error <= max_abs_error:
            break
        if closest is None or error < closest[0]:
            closest = (error, combo)
    else:
        assert closest is not None
        method, scale, cutoff = closest[1]
        raise ValueError(
            f"no option combination keeps the error within {max_abs_error:g}; the smallest "
            f"reached was {closest[0]:g} ({method}, scale {scale}, cutoff {cutoff})"
        )

    method, scale, cutoff = combo
    coder = "arans"
    deflated = corvane.compress_signal(
        samples, corvane.CorvnCompressionOptions(method, scale, cutoff, "deflate")
    )
    if len(deflated) < len(container):
        container, coder = deflated, "deflate"
        error = _max_abs_error(container, reference)
    return BoundedContainer(container, error, method, scale, cutoff, coder, decoded)


# -- Zarr 3 -------------------------------------------------------------------

try:
    from zarr.abc.codec import ArrayBytesCodec
except ImportError:  # Zarr 3 is not installed; the numcodecs codec still serves Zarr 2
    pass
else:
    if TYPE_CHECKING:
        from typing import Self

        from zarr.core.array_spec import ArraySpec
        from zarr.core.buffer import Buffer, NDBuffer
        from zarr.core.chunk_grids import ChunkGrid
        from zarr.core.common import JSON
        from zarr.core.dtype.wrapper import TBaseDType, TBaseScalar, ZDType

    __all__ += ["CorvaneZarrCodec"]

    @dataclass(frozen=True)
    class CorvaneZarrCodec(ArrayBytesCodec):
        """Zarr 3 codec turning a float32/float64 chunk into a corvane container.

        It takes the place of Zarr's ``bytes`` serializer. The chunk is
        compressed as one signal in C order; decoding reshapes it to the chunk
        and casts to the array's type. Pass ``compressors=None``: a generic
        compressor after it only costs time.
        """

        is_fixed_size = False

        method: str
        scale: int
        cutoff: str
        coder: str

        def __init__(
            self,
            method: str = "cdf97",
            scale: int = 11,
            cutoff: str = "low",
            coder: str | None = None,
        ) -> None:
            for name, value in _options_config(method, scale, cutoff, coder).items():
                object.__setattr__(self, name, value)

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
            return {
                "name": ZARR_CODEC_NAME,
                "configuration": {
                    "method": self.method,
                    "scale": self.scale,
                    "cutoff": self.cutoff,
                    "coder": self.coder,
                },
            }

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

        def compute_encoded_size(self, input_byte_length: int, chunk_spec: ArraySpec) -> int:
            raise NotImplementedError("corvane containers have no fixed size")

        def _encode_sync(self, chunk_array: NDBuffer, chunk_spec: ArraySpec) -> Buffer | None:
            container = corvane.compress_signal(_samples(chunk_array.as_numpy_array()), self.options)
            return chunk_spec.prototype.buffer.from_bytes(container)

        def _decode_sync(self, chunk_bytes: Buffer, chunk_spec: ArraySpec) -> NDBuffer:
            samples = corvane.decompress_signal(chunk_bytes.to_bytes())
            if samples.size != math.prod(chunk_spec.shape):
                raise ValueError(
                    f"chunk container holds {samples.size} samples but the chunk "
                    f"{chunk_spec.shape} needs {math.prod(chunk_spec.shape)}"
                )
            chunk = samples.reshape(chunk_spec.shape).astype(
                chunk_spec.dtype.to_native_dtype(), copy=False
            )
            return chunk_spec.prototype.nd_buffer.from_numpy_array(chunk)

        # The native calls hold the interpreter lock throughout, so a worker
        # thread would only add a hand-off per chunk.
        async def _encode_single(self, chunk_array: NDBuffer, chunk_spec: ArraySpec) -> Buffer | None:
            return self._encode_sync(chunk_array, chunk_spec)

        async def _decode_single(self, chunk_bytes: Buffer, chunk_spec: ArraySpec) -> NDBuffer:
            return self._decode_sync(chunk_bytes, chunk_spec)
