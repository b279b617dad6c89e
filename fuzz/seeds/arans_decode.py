"""Seeds for arans_decode_fuzz: a few valid streams and hand-made headers
around each check of the decoder. Usage: arans_decode.py OUTDIR"""
import sys

from seedfiles import write_seeds

# Streams written by the encoder: "abcdef", "abcdefg", a pangram, and 24
# small int16 coefficients.
VALID = [
    "00030306e634cc0000310137ba008037",
    "01030306e634cc0000310137ba00803767",
    "01031516ea505900c76067ac7c77219d654004907a79f4c1fe26e0b270008d40c40f83a45c09d2a7cce1e349b1b6cd1467",
    "000318168000680ea8784ab39b2ce980ccb87a26bb426a70b934abc20400460232077ba1c8c6cac0f939bcd3e253e8e7",
]


def leb128(value):
    out = bytearray()
    while value >= 0x80:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


def stream(odd, context_bits, pairs, code0, rest=b""):
    return bytes([odd, context_bits]) + leb128(pairs) + leb128(len(code0)) + code0 + rest


def main(outdir):
    abcdef = bytes.fromhex(VALID[0])
    code0, code1 = abcdef[4:10], abcdef[10:]
    seeds = [bytes.fromhex(h) for h in VALID]
    seeds += [
        b"",
        b"\x00\x03\x01\x01\x09",  # a short form that looks like a header
        stream(0, 0, 3, code0, code1),  # one context
        stream(0, 8, 3, code0, code1),
        stream(0, 9, 3, code0, code1),  # too many context bits
        stream(1, 3, 0, b"", b"\xaa\xbb\xcc"),  # no pairs, trailing byte
        stream(0, 3, 1 << 28, code0, code1),  # largest claim
        stream(0, 3, (1 << 28) + 1, code0, code1),
        b"\x00\x03\x03" + b"\xff" * 9 + b"\x01" + code0 + code1,  # L0 sum overflows
        b"\x00\x03\x03" + b"\xff" * 9 + b"\x80",  # tenth LEB128 byte continues
        stream(0, 3, 3, code0 + b"\x5a\x5a\x5a", code1),  # padded plane 0
        stream(0, 3, 2, b"\x00\x00\x00\x00", b"\x00\x00\x00\x00"),  # start states of 0
    ]
    write_seeds(outdir, seeds)


if __name__ == "__main__":
    main(sys.argv[1])
