"""How the codecs store one chunk: a plain corvane container, or a frame.

A chunk whose samples are all finite in float32, that is compressed as one
signal and that has no fill-valued border to crop is stored as the plain
container ``compress_signal`` makes of it, byte for byte. Every other chunk
is a frame: the chunk's shape, the box of it that holds data, the values
float32 cannot hold (NaN, infinities, float64 beyond the float32 range) as
runs, and one container per lane. Decoding tells the two forms apart by
their magic ("CRVN" for a container, "CRVF" for a frame).

Frame layout, version 1 (little-endian; "varint" is unsigned LEB128 of at
most 9 bytes)::

    magic "CRVF" | version 1 | width w | rank r | axis a
    shape: r varints | box start: r varints | box shape: r varints
    fill: w bytes, the value of every sample outside the box
    table: varint k, then k values of w bytes (the distinct special values)
    for every lane of the box:
        varint m, then m gaps, m run lengths and m table indices (varints)
        varint container length, then the container (absent when every
        sample of the lane is special)

w is the chunk's sample width (4 for float32, 8 for float64), so special
values and the fill keep their exact bits, NaN payloads included. a is the
lane axis (0 to r-1), or 255 when the box is flattened in C order into one
lane. Lanes are taken in C order of the box with the lane axis last. A gap
counts the samples between the previous run's end (the lane's start for the
first run) and this run's start; a run is a stretch of one special value.
The samples of a run were replaced before compression by a linear
interpolation between the nearest non-special samples (constant towards a
lane's ends), so they neither stretch the lane's range nor add edges.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Final

import numpy as np
import numpy.typing as npt

import corvane

from .options import lane_axis

FRAME_MAGIC: Final = b"CRVF"
FRAME_VERSION: Final = 1
CONTAINER_MAGIC: Final = b"CRVN"
#: The axis byte of a frame whose box is one flattened lane.
FLATTENED: Final = 255
MAX_RANK: Final = 32
#: The most samples a chunk may hold, the same as one container.
MAX_CHUNK_SAMPLES: Final = 2**31 - 1

_CONTAINER_HEADER_BYTES: Final = 52
_CONTAINER_COUNT_OFFSET: Final = 16
_MAX_VARINT_BYTES: Final = 9
_FRAME_PREFIX_BYTES: Final = 8

FloatArray = npt.NDArray[np.floating[Any]]
_UNSIGNED: Final[dict[int, np.dtype[Any]]] = {4: np.dtype("<u4"), 8: np.dtype("<u8")}
_FLOAT: Final[dict[int, np.dtype[Any]]] = {4: np.dtype("<f4"), 8: np.dtype("<f8")}


def float_samples(array: npt.NDArray[Any]) -> FloatArray:
    """`array` as C-contiguous native-order float32 or float64 samples of the
    same shape, which is what compress_signal accepts once flattened."""
    if array.dtype.kind != "f" or array.dtype.itemsize not in (4, 8):
        raise ValueError(f"corvane compresses float32 or float64 samples, not {array.dtype}")
    contiguous = np.ascontiguousarray(array)
    return contiguous.astype(contiguous.dtype.newbyteorder("="), copy=False)


# -- encoding -----------------------------------------------------------------


def encode_chunk(
    chunk: npt.NDArray[Any],
    options: corvane.CorvnCompressionOptions,
    axis: int | None = None,
    fill: Any = None,
) -> bytes:
    """The stored form of `chunk` (any shape, float32 or float64, read in C
    order). With `axis`, every lane along it is its own signal; with `fill`
    (a value of the chunk's type), samples outside the smallest box holding
    every sample of another bit pattern are not compressed but restored as
    the fill."""
    samples = float_samples(chunk)
    if samples.ndim == 0:
        samples = samples.reshape(1)
    shape = samples.shape
    lane = None if axis is None else lane_axis(axis, shape)
    width = samples.dtype.itemsize
    bits = samples.view(_UNSIGNED[width])
    fill_bits = 0 if fill is None else int(np.asarray(fill, dtype=samples.dtype).view(_UNSIGNED[width]))
    start, extent = _data_box(bits, fill_bits) if fill is not None else ((0,) * len(shape), shape)
    boxed = samples[tuple(slice(s, s + e) for s, e in zip(start, extent))]
    special = _special(boxed)
    single_lane = lane is None or samples.size == shape[lane]
    if extent == shape and single_lane and not special.any():
        return corvane.compress_signal(samples.reshape(-1), options)
    if samples.size > MAX_CHUNK_SAMPLES or samples.ndim > MAX_RANK:
        raise ValueError(
            f"a chunk of shape {shape} is more than a corvane frame holds "
            f"({MAX_CHUNK_SAMPLES} samples, {MAX_RANK} dimensions)"
        )

    if special.all():
        # Nothing to compress: one run record serves the whole box.
        lane = None
    # An empty box (every sample is the fill) has no lanes at all.
    lanes = _to_lanes(boxed, lane) if boxed.size else np.empty((0, 0), samples.dtype)
    lane_special = _to_lanes(special, lane) if boxed.size else np.empty((0, 0), bool)
    lane_bits = lanes.view(_UNSIGNED[width])
    table = np.unique(lane_bits[lane_special])
    out = bytearray(FRAME_MAGIC)
    out += bytes((FRAME_VERSION, width, len(shape), FLATTENED if lane is None else lane))
    out += pack_varints(np.array([*shape, *start, *extent], dtype=np.uint64))
    out += fill_bits.to_bytes(width, "little")
    out += pack_varints(np.array([table.size], dtype=np.uint64))
    out += table.astype(_UNSIGNED[width]).tobytes()
    for values, mask, row_bits in zip(lanes, lane_special, lane_bits):
        out += _runs(mask, row_bits, table)
        if mask.all():
            container = b""
        else:
            container = corvane.compress_signal(_filled(values, mask), options)
        out += pack_varints(np.array([len(container)], dtype=np.uint64))
        out += container
    return bytes(out)


def _data_box(
    bits: npt.NDArray[np.unsignedinteger[Any]], fill_bits: int
) -> tuple[tuple[int, ...], tuple[int, ...]]:
    """Start and shape of the smallest box outside which every sample has
    the fill's bit pattern; an empty box when all of them do. Zarr fills a
    chunk's padding past the array's end, and the parts no write reached,
    with the fill value: cropping them keeps a fill far from the data from
    stretching the chunk's range."""
    differs = bits != bits.dtype.type(fill_bits)
    start: list[int] = []
    extent: list[int] = []
    for dim in range(bits.ndim):
        others = tuple(d for d in range(bits.ndim) if d != dim)
        present = differs.any(axis=others) if others else differs
        if not present.any():
            return (0,) * bits.ndim, (0,) * bits.ndim
        first = int(np.argmax(present))
        start.append(first)
        extent.append(present.size - int(np.argmax(present[::-1])) - first)
    return tuple(start), tuple(extent)


def _special(samples: FloatArray) -> npt.NDArray[np.bool_]:
    """Where float32 holds no finite value for the sample: NaN, infinities,
    and float64 values beyond float32's range (they would become infinities
    on the way into the codec)."""
    if samples.dtype.itemsize == 4:
        return ~np.isfinite(samples)
    with np.errstate(over="ignore"):
        return ~np.isfinite(samples.astype(np.float32))


def _to_lanes(box: npt.NDArray[Any], lane: int | None) -> npt.NDArray[Any]:
    """The box as rows of lanes: its C-order flattening as one row, or every
    1-D line along `lane`, in C order of the other axes."""
    if lane is None:
        return box.reshape(1, -1)
    return np.ascontiguousarray(np.moveaxis(box, lane, -1)).reshape(-1, box.shape[lane])


def _from_lanes(lanes: npt.NDArray[Any], lane: int | None, box_shape: tuple[int, ...]) -> npt.NDArray[Any]:
    if lane is None:
        return lanes.reshape(box_shape)
    moved = tuple(e for d, e in enumerate(box_shape) if d != lane) + (box_shape[lane],)
    return np.moveaxis(lanes.reshape(moved), -1, lane)


def _filled(values: FloatArray, mask: npt.NDArray[np.bool_]) -> FloatArray:
    """The lane with its special samples replaced by straight lines between
    their finite neighbours (np.interp holds the end values beyond them)."""
    if not mask.any():
        return values
    filled = values.copy()
    known = np.flatnonzero(~mask)
    filled[mask] = np.interp(np.flatnonzero(mask), known, values[known].astype(np.float64))
    return filled


def _runs(mask: npt.NDArray[np.bool_], bits: npt.NDArray[Any], table: npt.NDArray[Any]) -> bytes:
    """The lane's record of special samples: run count, then the gaps, the
    lengths and the table indices of the runs."""
    where = np.flatnonzero(mask)
    if where.size == 0:
        return pack_varints(np.zeros(1, dtype=np.uint64))
    values = bits[where]
    first = np.ones(where.size, dtype=bool)
    first[1:] = (np.diff(where) != 1) | (values[1:] != values[:-1])
    heads = np.flatnonzero(first)
    starts = where[heads]
    lengths = np.diff(np.append(heads, where.size))
    ends = starts + lengths
    gaps = starts - np.concatenate(([0], ends[:-1]))
    indices = np.searchsorted(table, values[heads])
    return pack_varints(
        np.concatenate(([heads.size], gaps, lengths, indices)).astype(np.uint64)
    )


# -- varints ------------------------------------------------------------------


def pack_varints(values: npt.NDArray[np.uint64]) -> bytes:
    """Unsigned LEB128 of every value, in order (values below 2**63)."""
    values = values.astype(np.uint64, copy=False)
    counts = np.ones(values.size, dtype=np.int64)
    rest = values >> np.uint64(7)
    while rest.any():
        counts += rest > 0
        rest >>= np.uint64(7)
    total = int(counts.sum())
    ends = np.cumsum(counts)
    owner = np.repeat(np.arange(values.size), counts)
    position = np.arange(total) - np.repeat(ends - counts, counts)
    payload = (values[owner] >> (np.uint64(7) * position.astype(np.uint64))) & np.uint64(0x7F)
    more = np.ones(total, dtype=bool)
    more[ends - 1] = False
    return (payload | np.where(more, np.uint64(0x80), np.uint64(0))).astype(np.uint8).tobytes()


class FrameError(ValueError):
    """A frame that cannot be read. A ValueError like every codec failure."""

    def __init__(self, reason: str) -> None:
        super().__init__(f"corvane frame is damaged: {reason}")


def unpack_varints(data: bytes, offset: int, count: int) -> tuple[npt.NDArray[np.int64], int]:
    """`count` varints from `data` at `offset`, and the offset after them.
    Works on at most 9 bytes per value, so no more than 9 * count bytes are
    looked at and every value fits in int64."""
    if count == 0:
        return np.zeros(0, dtype=np.int64), offset
    if offset >= len(data):
        raise FrameError("a number runs past the end of the frame")
    window = np.frombuffer(
        data, dtype=np.uint8, count=min(len(data) - offset, _MAX_VARINT_BYTES * count), offset=offset
    )
    ends = np.flatnonzero(window < 0x80)
    if ends.size < count:
        raise FrameError("a number runs past the end of the frame")
    ends = ends[:count]
    lengths = np.diff(ends, prepend=-1)
    if lengths.max() > _MAX_VARINT_BYTES:
        raise FrameError("a number is longer than 9 bytes")
    used = window[: ends[-1] + 1].astype(np.uint64)
    position = np.arange(used.size) - np.repeat(ends - lengths + 1, lengths)
    shifted = (used & np.uint64(0x7F)) << (np.uint64(7) * position.astype(np.uint64))
    values = np.add.reduceat(shifted, np.concatenate(([0], ends[:-1] + 1)))
    if (values >> np.uint64(63)).any():
        raise FrameError("a number exceeds 2**63 - 1")
    return values.astype(np.int64), offset + int(ends[-1]) + 1


# -- decoding -----------------------------------------------------------------


@dataclass(frozen=True)
class _Lane:
    starts: npt.NDArray[np.int64]
    lengths: npt.NDArray[np.int64]
    indices: npt.NDArray[np.int64]
    container: bytes


@dataclass(frozen=True)
class _Frame:
    width: int
    shape: tuple[int, ...]
    lane: int | None
    start: tuple[int, ...]
    extent: tuple[int, ...]
    fill: bytes
    table: bytes
    lanes: tuple[_Lane, ...]


def is_frame(data: bytes) -> bool:
    return data[:4] == FRAME_MAGIC


def decode_chunk(
    data: bytes, dtype: npt.DTypeLike = np.float32, shape: tuple[int, ...] | None = None
) -> FloatArray:
    """The samples of a stored chunk as `dtype` (float32 or float64): a frame
    in the chunk's shape, a plain container as one signal. A float64 frame
    decoded as float64 restores its special values and fill bit for bit.
    With `shape`, a frame of another shape is refused before its samples are
    allocated."""
    target = np.dtype(dtype)
    if not is_frame(data):
        return corvane.decompress_signal(data).astype(target, copy=False)
    frame = _parse(data)
    # A 0-d chunk is framed as one sample.
    if shape is not None and frame.shape != (tuple(shape) or (1,)):
        raise ValueError(f"chunk frame holds shape {frame.shape} but the chunk is {tuple(shape)}")
    width = frame.width
    out = np.empty(frame.shape, dtype=_FLOAT[width])
    out.view(_UNSIGNED[width])[...] = np.frombuffer(frame.fill, dtype=_UNSIGNED[width])[0]
    if frame.lanes:
        lane_length = frame.extent[frame.lane] if frame.lane is not None else int(np.prod(frame.extent))
        lanes = np.empty((len(frame.lanes), lane_length), dtype=_FLOAT[width])
        table = np.frombuffer(frame.table, dtype=_UNSIGNED[width])
        for row, lane in zip(lanes, frame.lanes):
            if lane.container:
                row[...] = corvane.decompress_signal(lane.container)
            positions = np.repeat(lane.starts, lane.lengths) + (
                np.arange(int(lane.lengths.sum())) - np.repeat(np.cumsum(lane.lengths) - lane.lengths, lane.lengths)
            )
            row.view(_UNSIGNED[width])[positions] = np.repeat(table[lane.indices], lane.lengths)
        box = tuple(slice(s, s + e) for s, e in zip(frame.start, frame.extent))
        out[box] = _from_lanes(lanes, frame.lane, frame.extent)
    if target == out.dtype:
        return out
    with np.errstate(over="ignore"):
        return out.astype(target)


def _parse(data: bytes) -> _Frame:
    """Every field of a frame, checked against each other before anything
    the size of the chunk is allocated."""
    if len(data) < _FRAME_PREFIX_BYTES:
        raise FrameError("shorter than its 8-byte prefix")
    version, width, rank, axis = data[4:8]
    if version != FRAME_VERSION:
        raise ValueError(f"corvane frame version {version} is not supported (this reader knows {FRAME_VERSION})")
    if width not in _FLOAT:
        raise FrameError(f"sample width {width}")
    if not 1 <= rank <= MAX_RANK:
        raise FrameError(f"rank {rank}")
    if axis != FLATTENED and axis >= rank:
        raise FrameError(f"axis {axis} for rank {rank}")
    lane = None if axis == FLATTENED else axis
    numbers, offset = unpack_varints(data, _FRAME_PREFIX_BYTES, 3 * rank)
    shape = tuple(int(n) for n in numbers[:rank])
    start = tuple(int(n) for n in numbers[rank : 2 * rank])
    extent = tuple(int(n) for n in numbers[2 * rank :])
    total = 1
    for dim in shape:
        total *= dim
    if total > MAX_CHUNK_SAMPLES:
        raise FrameError(f"a chunk of {total} samples")
    if any(s + e > d for s, e, d in zip(start, extent, shape)):
        raise FrameError(f"box at {start} of shape {extent} outside the chunk {shape}")
    fill = _take(data, offset, width)
    offset += width
    (count,), offset = unpack_varints(data, offset, 1)
    table = _take(data, offset, int(count) * width)
    offset += int(count) * width

    boxed = 1
    for dim in extent:
        boxed *= dim
    if boxed == 0:
        lane_count, lane_length = 0, 0
    elif lane is None:
        lane_count, lane_length = 1, boxed
    else:
        lane_count, lane_length = boxed // extent[lane], extent[lane]
    lanes = []
    for _ in range(lane_count):
        record, offset = _parse_lane(data, offset, lane_length, int(count))
        lanes.append(record)
    if offset != len(data):
        raise FrameError(f"{len(data) - offset} bytes after the last lane")
    return _Frame(width, shape, lane, start, extent, fill, table, tuple(lanes))


def _parse_lane(data: bytes, offset: int, length: int, table_size: int) -> tuple[_Lane, int]:
    (runs,), offset = unpack_varints(data, offset, 1)
    if runs > length:
        raise FrameError(f"{runs} runs in a lane of {length} samples")
    fields, offset = unpack_varints(data, offset, 3 * int(runs))
    gaps, lengths, indices = fields[:runs], fields[runs : 2 * runs], fields[2 * runs :]
    if runs and (lengths.min() < 1 or indices.max() >= table_size):
        raise FrameError("an empty run or a value index beyond the table")
    # With fewer runs than samples and every gap and length at most the lane
    # length (below 2**31), the sums below stay under 2**63.
    if runs and (gaps.max() > length or lengths.max() > length):
        raise FrameError(f"runs beyond a lane of {length} samples")
    ends = np.cumsum(gaps + lengths)
    special = int(lengths.sum())
    if runs and ends[-1] > length:
        raise FrameError(f"runs beyond a lane of {length} samples")
    (size,), offset = unpack_varints(data, offset, 1)
    container = _take(data, offset, int(size))
    offset += int(size)
    if (size == 0) != (special == length):
        raise FrameError("a lane's container is missing or surplus")
    if size:
        if len(container) < _CONTAINER_HEADER_BYTES or container[:4] != CONTAINER_MAGIC:
            raise FrameError("a lane's container has no container header")
        samples = int.from_bytes(
            container[_CONTAINER_COUNT_OFFSET : _CONTAINER_COUNT_OFFSET + 4], "little"
        )
        if samples != length:
            raise FrameError(f"a container of {samples} samples for a lane of {length}")
    return _Lane(ends - lengths, lengths, indices, container), offset


def _take(data: bytes, offset: int, size: int) -> bytes:
    if offset + size > len(data):
        raise FrameError("truncated")
    return data[offset : offset + size]
