"""Seeds for header_fuzz: valid headers for each method and coder, and one
with each field just past what the reader accepts."""
import struct
import sys

from seedfiles import write_seeds


def header(tag=b"cf97", levels=6, scale=11, coder=1, count=1000,
           lo=-1.0, hi=1.0, mean=0.0, payload_len=0, magic=b"CRVN",
           version=b"\x01\x01", kind=b"f3", reserved=0, tail=bytes(16)):
    return (magic + version + kind + tag
            + struct.pack("<BBBBIfffI", levels, scale, coder, reserved, count, lo, hi, mean,
                          payload_len)
            + tail)


def main(out):
    seeds = {}
    for tag in (b"cf53", b"cf97", b"db04", b"sym4"):
        for coder in (0, 1):
            seeds[f"valid_{tag.decode()}_{coder}"] = header(tag=tag, coder=coder)
    seeds["with_payload"] = header(payload_len=3) + b"\x01\x02\x03"
    seeds["unchecked_fields"] = header(version=b"\x01\x07", levels=255, reserved=9,
                                       count=0xFFFFFFFF, payload_len=0xFFFFFFFF,
                                       tail=bytes(range(16)))
    seeds["short"] = header()[:51]
    seeds["magic"] = header(magic=b"CRVX")
    seeds["version"] = header(version=b"\x02\x01")
    seeds["kind"] = header(kind=b"f4")
    seeds["tag"] = header(tag=b"db4\x00")
    seeds["scale_low"] = header(scale=5)
    seeds["scale_high"] = header(scale=13)
    seeds["coder"] = header(coder=2)
    seeds["nan_mean"] = header(mean=float("nan"))
    seeds["inf_max"] = header(hi=float("inf"))
    seeds["not_utf8_magic"] = header(magic=b"\xff\xfe\xc3\x28")
    write_seeds(out, seeds)


if __name__ == "__main__":
    main(sys.argv[1])
