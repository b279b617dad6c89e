"""Error-bounded compression: the smallest container within an error bound.

The options form 68 distinct candidates (4 methods; scales 6 to 12; three
cutoffs from scale 8, where the detail threshold starts to differ). The
search does not try them all; it relies on how they relate:

* At one method and scale, raising the cutoff zeroes more detail: the
  error grows and the container shrinks. So the scales at which a cutoff
  meets the bound lie within those at which the next lower cutoff does.
* At one method and cutoff, raising the scale halves the quantisation step:
  the container grows (by a few bytes less or more where there is little
  to code) and the quantisation error falls (it may stay level
  from scale 9 to 10, where each cutoff's threshold is the same share of
  the range). But the deepest approximation band saturates at high scales
  for signals that stay far from their mean, and then the error rises
  again with the scale. Along the scales the error therefore falls and may
  rise again (a valley), and the scales that meet the bound form one
  interval.

For each method and cutoff the search finds the lowest scale that meets the
bound, walking from a predicted scale (the quantisation error about halves
per scale) and telling the falling side of the valley from the rising side
by the neighbouring scale. At most twelve such candidates remain, and
within the few whose sizes come close to the smallest, the chain's next
meeting scales are compared too; the smallest wins, with ties going to the
earlier method, scale and cutoff.

A candidate is judged by a pluggable evaluator that reports its errors and
its rANS container's size. The default one, from the private native module
``_corvane_bounded``, runs the codec's own steps without making containers:
the signal is normalised once and each method transformed once, a
candidate's errors then cost a quantisation, an inverse transform and a
pass over the samples, and its size is bounded from a pass of the rANS
coder's model (within about 1.2 % either way). Exact sizes are computed
only for the finalists whose bounds overlap the smallest one's. The
reference evaluator, ``RoundTripEvaluator``, compresses and decodes every
candidate.
"""

from __future__ import annotations

import math
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any, Final, NamedTuple, Protocol

import numpy as np
import numpy.typing as npt

import _corvane_bounded
import corvane

from .frames import float_samples
from .options import CUTOFFS, METHODS, SCALES

_LOWEST, _HIGHEST = SCALES[0], SCALES[-1]
#: The lowest scale at which the cutoffs differ (below it no detail
#: coefficient is zeroed whatever the cutoff).
_FIRST_CUTOFF_SCALE: Final = 8
#: For a first guess of the scale: the error is about this times 2**-scale
#: of the range for recorded signals (an ECG has 2.2 to 3.3 for the maximum
#: and 0.5 to 0.8 for the RMS error at scales 8 to 11). A poor guess costs
#: an evaluation or two, never the answer.
_MAX_ERROR_PER_STEP: Final = 3.0
_RMS_ERROR_PER_STEP: Final = 0.8


class Candidate(NamedTuple):
    method: str
    scale: int
    cutoff: str


@dataclass(frozen=True)
class Evaluation:
    """What an evaluator reports on one candidate: its errors against the
    given samples, measured in float64, and its rANS container's size when
    that came for free. `container` is the rANS container the errors were
    measured on by decoding it, when the evaluator made one."""

    max_abs_error: float
    rms_error: float
    size: int | None = None
    container: bytes | None = None


class CandidateEvaluator(Protocol):
    """Judges candidates for one signal."""

    def evaluate(self, candidate: Candidate) -> Evaluation: ...

    def size(self, candidate: Candidate) -> int:
        """Bytes of the candidate's rANS container."""
        ...

    def size_range(self, candidate: Candidate) -> tuple[int, int]:
        """Bounds (lowest, highest) on size(candidate), cheaper than it."""
        ...


def candidates() -> list[Candidate]:
    """Every distinct candidate in the order that breaks ties: at scales 6
    and 7 the cutoff changes nothing, so only "low" is listed there."""
    return [
        Candidate(method, scale, cutoff)
        for method in METHODS
        for scale in SCALES
        for cutoff in (CUTOFFS if scale >= _FIRST_CUTOFF_SCALE else CUTOFFS[:1])
    ]


_TIE_ORDER: Final = {candidate: rank for rank, candidate in enumerate(candidates())}


def measured_errors(container: bytes, reference: npt.NDArray[np.float64]) -> tuple[float, float]:
    """Maximum absolute and RMS difference between the decoded container and
    `reference`, in float64."""
    difference = corvane.decompress_signal(container).astype(np.float64)
    np.subtract(difference, reference, out=difference)
    rms = math.sqrt(float(np.dot(difference, difference)) / difference.size)
    np.abs(difference, out=difference)
    return float(difference.max()), rms


class RoundTripEvaluator:
    """The evaluator that needs nothing but the module: each candidate is
    compressed with the rANS coder and decoded. About one compress and one
    decompress call per candidate."""

    def __init__(self, samples: npt.NDArray[np.floating[Any]], reference: npt.NDArray[np.float64]) -> None:
        self._samples = samples
        self._reference = reference

    def _container(self, candidate: Candidate) -> bytes:
        options = corvane.CorvnCompressionOptions(*candidate, "arans")
        return corvane.compress_signal(self._samples, options)

    def evaluate(self, candidate: Candidate) -> Evaluation:
        container = self._container(candidate)
        max_abs, rms = measured_errors(container, self._reference)
        return Evaluation(max_abs, rms, len(container), container)

    def size(self, candidate: Candidate) -> int:
        return len(self._container(candidate))

    def size_range(self, candidate: Candidate) -> tuple[int, int]:
        size = self.size(candidate)
        return size, size


class NativeEvaluator:
    """The evaluator of the native helper: what compress + decompress would
    give, computed without making or decoding containers, and bounds on the
    rANS size from the coder's model. Its errors are those of the round trip
    bit for bit (the sum of squares in another order than NumPy's)."""

    def __init__(self, samples: npt.NDArray[np.floating[Any]]) -> None:
        self._native = _corvane_bounded.Evaluator(samples)
        self._count = samples.size

    def evaluate(self, candidate: Candidate) -> Evaluation:
        max_abs, squares = self._native.errors(*candidate)
        return Evaluation(max_abs, math.sqrt(squares / self._count))

    def size(self, candidate: Candidate) -> int:
        return self._native.size(*candidate)

    def size_range(self, candidate: Candidate) -> tuple[int, int]:
        return self._native.size_range(*candidate)


Metric = Callable[[Evaluation], float]


class _Search:
    """One run of the search over one evaluator; keeps every evaluation."""

    def __init__(self, evaluator: CandidateEvaluator, metric: Metric, bound: float, guess: int) -> None:
        self._evaluator = evaluator
        self._metric = metric
        self._bound = bound
        # Where to start each cutoff's chain: the scale at which the previous
        # method's chain met the bound (methods differ little), at first the
        # caller's guess.
        self._guesses = dict.fromkeys(CUTOFFS, guess)
        self.evaluations: dict[Candidate, Evaluation] = {}
        #: Bounds on the rANS sizes asked for, and the number of exact sizes
        #: the evaluator computed.
        self._ranges: dict[Candidate, tuple[int, int]] = {}
        self.sized = 0
        #: The smallest upper bound on the size of a candidate that meets
        #: the bound, so far.
        self._best_size: int | None = None

    def _evaluation(self, candidate: Candidate) -> Evaluation:
        found = self.evaluations.get(candidate)
        if found is None:
            found = self._evaluator.evaluate(candidate)
            if self._metric(found) > self._bound and found.container is not None:
                # Never returned: keep its size, not its bytes.
                found = Evaluation(found.max_abs_error, found.rms_error, found.size)
            self.evaluations[candidate] = found
        return found

    def _error(self, candidate: Candidate) -> float:
        return self._metric(self._evaluation(candidate))

    def _meets(self, candidate: Candidate) -> bool:
        return self._error(candidate) <= self._bound

    def size(self, candidate: Candidate) -> int:
        evaluation = self._evaluation(candidate)
        if evaluation.size is None:
            evaluation = Evaluation(
                evaluation.max_abs_error, evaluation.rms_error,
                self._evaluator.size(candidate), evaluation.container,
            )
            self.evaluations[candidate] = evaluation
            self.sized += 1
        assert evaluation.size is not None
        return evaluation.size

    def _known_range(self, candidate: Candidate) -> tuple[int, int] | None:
        evaluation = self.evaluations.get(candidate)
        if evaluation is not None and evaluation.size is not None:
            return evaluation.size, evaluation.size
        return self._ranges.get(candidate)

    def size_range(self, candidate: Candidate) -> tuple[int, int]:
        found = self._known_range(candidate)
        if found is None:
            found = self._ranges[candidate] = self._evaluator.size_range(candidate)
        return found

    def _outgrown(self, candidate: Candidate) -> bool:
        """Whether a candidate's container is known, from what was measured
        so far, to be no smaller than one that meets the bound (and so,
        every higher scale of its chain too)."""
        known = self._known_range(candidate)
        return self._best_size is not None and known is not None and known[0] >= self._best_size

    def _smallest(self, finalists: list[tuple[Callable[[int], Candidate], int]]) -> Candidate | None:
        """The smallest container among the chains' lowest scales that meet
        the bound (`finalists`: each chain and that scale), ties going to
        the earlier candidate.

        Sizes grow with the scale only roughly: where a signal leaves
        little to code (sparse, or saturated), a higher scale's container
        can come out a few bytes smaller. So a chain whose lowest meeting
        scale may be the smallest container is followed up its meeting
        scales for as long as their lower size bounds do not exceed the
        smallest upper bound found (sizes are taken not to fall by more than
        their bounds' width from one scale to the next). Exact sizes are
        asked only of the candidates left whose lower bound does not exceed
        it either."""
        if not finalists:
            return None
        ceiling = min(self.size_range(chain(scale))[1] for chain, scale in finalists)
        contenders: list[Candidate] = []
        for chain, scale in finalists:
            if self.size_range(chain(scale))[0] > ceiling:
                continue
            contenders.append(chain(scale))
            while scale < _HIGHEST:
                scale += 1
                lowest, highest = self.size_range(chain(scale))
                if lowest > ceiling or not self._meets(chain(scale)):
                    break
                contenders.append(chain(scale))
                ceiling = min(ceiling, highest)
        contenders = [c for c in contenders if self.size_range(c)[0] <= ceiling]
        if len(contenders) == 1:
            return contenders[0]
        return min(contenders, key=lambda c: (self.size(c), _TIE_ORDER[c]))

    def _predicted(self, chain: Callable[[int], Candidate], lowest: int) -> int:
        """A first scale to try: from the chain's nearest evaluated scale,
        moved by the quantisation error's halving per scale, or the guess
        for its cutoff."""
        for scale in range(lowest, _HIGHEST + 1):
            evaluation = self.evaluations.get(chain(scale))
            if evaluation is not None:
                error = self._metric(evaluation)
                if error == 0.0:
                    return lowest
                return scale + math.ceil(math.log2(error / self._bound)) if self._bound > 0 else _HIGHEST
        return self._guesses[chain(_HIGHEST).cutoff]

    def _falling(self, chain: Callable[[int], Candidate], scale: int) -> bool:
        """Whether `scale` lies on the falling side of the chain's errors,
        where every lower scale has a larger error. One scale up tells,
        unless the error did not fall there: the cutoffs' thresholds, in
        units of the range, are the same at scales 9 and 10, so the error
        can stay level for a step; it is saturation only if it does not
        fall on the next step either."""
        if scale == _HIGHEST:
            return self._error(chain(scale - 1)) >= self._error(chain(scale))
        if self._error(chain(scale + 1)) < self._error(chain(scale)):
            return True
        return scale + 1 < _HIGHEST and self._error(chain(scale + 2)) < self._error(chain(scale + 1))

    def _walk_down(self, chain: Callable[[int], Candidate], scale: int, lowest: int) -> int:
        """The lowest scale from `lowest` up that meets the bound, given that
        `scale` does: below a scale that meets it, saturation is less and
        the quantisation error more, so the first that fails ends the walk."""
        while scale > lowest and self._meets(chain(scale - 1)):
            scale -= 1
        return scale

    def lowest_meeting(
        self, chain: Callable[[int], Candidate], lowest: int, ceiling: Callable[[int], bool]
    ) -> tuple[int | None, int | None]:
        """The lowest scale from `lowest` up at which the chain meets the
        bound (None if there is none, or none smaller than the best so far),
        and the lowest scale at which the next cutoff's chain can meet it
        (None if at none). Along a chain the error falls with the scale and
        may rise again once saturation sets in, so the scales that meet the
        bound are one interval. `ceiling(scale)` says that the chain is
        known to fail the bound at that scale and every higher one."""
        scale = min(max(self._predicted(chain, lowest), lowest), _HIGHEST)
        if self._meets(chain(scale)):
            found = self._walk_down(chain, scale, lowest)
            return found, found
        if scale == lowest and self._outgrown(chain(scale)):
            return None, scale + 1
        if scale < _HIGHEST and self._falling(chain, scale):
            # Nothing below meets the bound; walk up.
            while scale < _HIGHEST:
                if self._outgrown(chain(scale)):
                    return None, scale + 1
                if ceiling(scale + 1):
                    return None, None
                scale += 1
                if self._meets(chain(scale)):
                    return scale, scale
                if self._outgrown(chain(scale)):
                    return None, scale + 1
                if scale < _HIGHEST and not self._falling(chain, scale):
                    break
            return None, None
        # Saturated (or at the top scale): walk down until the bound is met
        # or the error stops falling.
        while scale > lowest:
            if self._error(chain(scale - 1)) >= self._error(chain(scale)):
                break
            scale -= 1
            if self._meets(chain(scale)):
                found = self._walk_down(chain, scale, lowest)
                return found, found
        return None, None

    def run(self) -> Candidate | None:
        """The smallest candidate that meets the bound, or None."""
        finalists: list[tuple[Callable[[int], Candidate], int]] = []
        for method in METHODS:
            lowest = _LOWEST
            ceiling: Callable[[int], bool] = self._never
            for cutoff in CUTOFFS:

                def chain(scale: int, method: str = method, cutoff: str = cutoff) -> Candidate:
                    return Candidate(method, scale, cutoff if scale >= _FIRST_CUTOFF_SCALE else CUTOFFS[0])

                if cutoff != CUTOFFS[0]:
                    lowest = max(lowest, _FIRST_CUTOFF_SCALE)
                found, next_lowest = self.lowest_meeting(chain, lowest, ceiling)
                if found is not None:
                    self._guesses[cutoff] = found
                    candidate = chain(found)
                    finalists.append((chain, found))
                    highest = self.size_range(candidate)[1]
                    if self._best_size is None or highest < self._best_size:
                        self._best_size = highest
                if next_lowest is None or next_lowest > _HIGHEST:
                    break  # a higher cutoff meets the bound at none of these scales either
                lowest = next_lowest
                ceiling = self._fails_from(chain, next_lowest)
        return self._smallest(finalists)

    @staticmethod
    def _never(scale: int) -> bool:
        return False

    def _fails_from(self, chain: Callable[[int], Candidate], lowest: int) -> Callable[[int], bool]:
        """For the next cutoff's chain: a scale above `lowest` at which this
        chain was measured to fail the bound is past the top of its interval,
        and a higher cutoff fails there and above too."""

        def fails(scale: int) -> bool:
            evaluation = self.evaluations.get(chain(scale))
            return scale > lowest and evaluation is not None and self._metric(evaluation) > self._bound

        return fails

    def closest(self) -> tuple[float, Candidate]:
        """The smallest error measured, and its candidate."""
        error, _, candidate = min((self._metric(e), _TIE_ORDER[c], c) for c, e in self.evaluations.items())
        return error, candidate


@dataclass(frozen=True, repr=False)
class BoundedContainer:
    """A container that decodes within an error bound, and how it was made."""

    container: bytes
    #: Largest absolute difference between the decoded and the given
    #: samples, measured in float64 on the returned container.
    max_abs_error: float
    #: Root mean square of the same differences.
    rms_error: float
    method: str
    scale: int
    cutoff: str
    coder: str
    #: Candidates (method, scale, cutoff) whose errors the search measured.
    evaluated: int
    #: Candidates whose exact size the search computed to tell them apart
    #: (the sizes of the others were bounded from the coder's model).
    sized: int

    def __repr__(self) -> str:
        return (
            f"BoundedContainer({self.method}, scale {self.scale}, cutoff {self.cutoff}, "
            f"{self.coder}: {len(self.container):,} bytes, max abs error {self.max_abs_error:.4g}, "
            f"RMS error {self.rms_error:.4g}, {self.evaluated} candidates evaluated, {self.sized} sized)"
        )


_BOUNDS: Final = ("max_abs_error", "max_rel_error", "max_rms_error")


def compress_within(
    data: npt.ArrayLike,
    max_abs_error: float | None = None,
    *,
    max_rel_error: float | None = None,
    max_rms_error: float | None = None,
) -> BoundedContainer:
    """The smallest container whose decoded samples stay within one bound:

    * `max_abs_error`: no sample differs from `data` by more than this;
    * `max_rel_error`: no sample differs by more than this fraction of the
      range of `data` (max - min);
    * `max_rms_error`: the root mean square of the differences is at most
      this.

    Errors are measured in float64 against `data` as given, so a float64
    input's rounding to float32 counts against the bound. The smallest
    candidate's rANS container is checked by decoding it; its options are
    then also compressed with DEFLATE, which is kept when smaller (the
    coders are lossless, and that container is decoded and checked too).

    Raises ValueError unless exactly one bound is given, for a negative or
    non-finite bound, for samples that are not finite (the codec replaces
    NaN and infinities, so no bound holds for them), and when no candidate
    meets the bound.
    """
    given = {name: value for name, value in zip(_BOUNDS, (max_abs_error, max_rel_error, max_rms_error))
             if value is not None}
    if len(given) != 1:
        raise ValueError(
            "compress_within needs exactly one of max_abs_error, max_rel_error and max_rms_error, "
            + (f"got {' and '.join(given)}" if given else "got none")
        )
    ((name, value),) = given.items()
    if not math.isfinite(value) or value < 0:
        raise ValueError(f"{name} must be finite and non-negative, not {value!r}")
    samples = float_samples(np.asarray(data)).reshape(-1)
    reference = samples.astype(np.float64)
    if not np.isfinite(samples).all():
        raise ValueError("compress_within needs finite samples: NaN and infinities are replaced")

    span = float(np.ptp(reference)) if reference.size else 0.0
    metric: Metric
    if name == "max_rms_error":
        metric, bound, label, per_step = (lambda e: e.rms_error), value, "RMS error", _RMS_ERROR_PER_STEP
    else:
        metric, label, per_step = (lambda e: e.max_abs_error), "error", _MAX_ERROR_PER_STEP
        bound = value * span if name == "max_rel_error" else value
    if span == 0:
        guess = _LOWEST
    elif bound == 0:
        guess = _HIGHEST
    else:
        guess = math.ceil(math.log2(per_step * span / bound))
    return _bounded(samples, reference, NativeEvaluator(samples), metric, bound, label, guess)


def _bounded(
    samples: npt.NDArray[np.floating[Any]],
    reference: npt.NDArray[np.float64],
    evaluator: CandidateEvaluator,
    metric: Metric,
    bound: float,
    label: str,
    guess: int,
) -> BoundedContainer:
    """Search, then check the winner by decoding its container; an evaluator
    that misjudged it is overruled by the measurement and the search runs
    again."""
    measured: dict[Candidate, Evaluation] = {}
    evaluated = sized = 0
    while True:
        search = _Search(evaluator, metric, bound, min(max(guess, _LOWEST), _HIGHEST))
        search.evaluations.update(measured)
        winner = search.run()
        evaluated += len(search.evaluations) - len(measured)
        sized += search.sized
        if winner is None:
            error, (method, scale, cutoff) = search.closest()
            raise ValueError(
                f"no option combination keeps the {label} within {bound:g}; the smallest "
                f"reached was {error:g} ({method}, scale {scale}, cutoff {cutoff})"
            )
        evaluation = search.evaluations[winner]
        if evaluation.container is None:
            container = corvane.compress_signal(samples, corvane.CorvnCompressionOptions(*winner, "arans"))
            evaluation = Evaluation(*measured_errors(container, reference), len(container), container)
        if metric(evaluation) <= bound:
            break
        measured.update(search.evaluations)
        measured[winner] = evaluation

    assert evaluation.container is not None
    container = evaluation.container
    coder = "arans"
    max_abs, rms = evaluation.max_abs_error, evaluation.rms_error
    deflated = corvane.compress_signal(samples, corvane.CorvnCompressionOptions(*winner, "deflate"))
    if len(deflated) < len(container):
        deflate_abs, deflate_rms = measured_errors(deflated, reference)
        if metric(Evaluation(deflate_abs, deflate_rms)) <= bound:
            container, coder, max_abs, rms = deflated, "deflate", deflate_abs, deflate_rms
    return BoundedContainer(container, max_abs, rms, *winner, coder, evaluated, sized)
