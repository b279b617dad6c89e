"""The option names the codecs accept, their configuration form, and the lane
axis rule shared by the numcodecs and the Zarr codec."""

from __future__ import annotations

import operator
from typing import Any, Final

import corvane

#: The numcodecs codec's id and the Zarr 3 codec's name.
CODEC_ID: Final = "corvane"
ZARR_CODEC_NAME: Final = "numcodecs.corvane"

METHODS: Final = ("cdf97", "cdf53", "db4", "sym4")
CUTOFFS: Final = ("low", "medium", "high")
SCALES: Final = tuple(range(6, 13))

#: The shortest lane a chunk may have along its lane axis. Every lane is a
#: container with its own 52-byte header; at 256 samples the header is about
#: a quarter of a default container of a smooth signal, and shorter lanes
#: also lose decomposition levels (4 at 256 samples with cdf97, 8 from 2,560).
MIN_LANE_SAMPLES: Final = 256


def options_config(
    method: str, scale: int, cutoff: str, coder: str | None, axis: int | None
) -> dict[str, Any]:
    """The options as JSON-ready configuration. Building the native options
    object validates them with the module's own messages; an absent coder is
    spelt "auto" (they build identical options), so equal codecs have equal
    configurations. An absent axis is left out: it means the chunk is
    flattened, which is how every array written without the option reads."""
    scale = operator.index(scale)
    corvane.CorvnCompressionOptions(method, scale, cutoff, coder)
    config: dict[str, Any] = {
        "method": method,
        "scale": scale,
        "cutoff": cutoff,
        "coder": coder or "auto",
    }
    if axis is not None:
        if isinstance(axis, bool):
            raise TypeError(f"axis must be an integer or None, not {axis!r}")
        config["axis"] = operator.index(axis)
    return config


def lane_axis(axis: int, shape: tuple[int, ...]) -> int:
    """`axis` resolved against a chunk of `shape` (negative counts from the
    end), after checking that the chunk's lanes along it are long enough."""
    rank = len(shape)
    if not -rank <= axis < rank:
        raise ValueError(f"axis {axis} is out of range for a chunk of shape {shape}")
    resolved = axis % rank
    if shape[resolved] < MIN_LANE_SAMPLES:
        raise ValueError(
            f"lanes along axis {axis} of a chunk of shape {shape} hold {shape[resolved]} "
            f"samples; corvane compresses each lane as its own signal and needs at least "
            f"{MIN_LANE_SAMPLES} (use longer chunks along that axis, or no axis)"
        )
    return resolved
