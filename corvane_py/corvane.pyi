# Type information for the native module; installed beside it so that type
# checkers find it. tests/test_typing.py checks it against the built module.
from typing import final

import numpy as np
import numpy.typing as npt

@final
class CorvnCompressionOptions:
    # The native type validates and stores its options in __new__.
    def __new__(
        cls,
        method: str = "cdf97",
        scale: int = 11,
        cutoff: str = "low",
        coder: str | None = None,
    ) -> CorvnCompressionOptions: ...

def compress_signal(
    data: npt.NDArray[np.float32] | npt.NDArray[np.float64],
    options: CorvnCompressionOptions | None = None,
) -> bytes: ...
def decompress_signal(data: bytes) -> npt.NDArray[np.float32]: ...
