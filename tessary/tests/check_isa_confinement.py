"""Checks that wide instructions stay inside the kernel bodies of the engine.

The engine is built for the x86-64 baseline (SSE2) and enables SSE4 and AVX2
per function. A wide instruction anywhere else could run on a processor that
lacks it: a file compiled with -mavx2, or an include under a target pragma,
also widens every inline function and template it pulls in, and the linker
keeps one copy of each, so the portable path may end up running the wide one.

Disassembles the static library and fails when

* a function holding an instruction beyond the baseline (VEX/EVEX encoded,
  ymm/zmm/mask registers, SSE3, SSSE3, SSE4.1, SSE4.2) is not a kernel body,
  that is, a function of an anonymous namespace inside tessary::avx or
  tessary::sse (defined in tessary/src/avx/ and tessary/src/sse/ only);
* such a function is a weak or COMDAT symbol (an inline function or a
  template instantiation the linker may pick from any object);
* no kernel body of either namespace holds a wide instruction (the check
  would then be looking at the wrong thing);
* with --sources, a file outside avx/ and sse/ includes an intrinsics header
  or enables an instruction set (a TESSARY_TARGET_ macro; core/target.h
  defines them), or a header in avx/ or sse/ does either (kernel headers
  declare classes only).

    python check_isa_confinement.py [--objdump objdump] [--nm nm]
        [--sources tessary/src] libtessary.a
"""
import argparse
import pathlib
import re
import subprocess
import sys

KERNEL_PREFIXES = (
    "tessary::avx::(anonymous namespace)::",
    "tessary::sse::(anonymous namespace)::",
)

# Mnemonics past SSE2 without a "v" prefix (SSE3, SSSE3, SSE4.1, SSE4.2).
LEGACY_WIDE = {
    # SSE3
    "addsubps", "addsubpd", "haddps", "haddpd", "hsubps", "hsubpd", "lddqu",
    "movddup", "movshdup", "movsldup", "fisttp", "fisttps", "fisttpl", "fisttpll",
    # SSSE3
    "pabsb", "pabsw", "pabsd", "palignr", "phaddw", "phaddd", "phaddsw", "phsubw",
    "phsubd", "phsubsw", "pmaddubsw", "pmulhrsw", "pshufb", "psignb", "psignw", "psignd",
    # SSE4.1
    "blendps", "blendpd", "blendvps", "blendvpd", "dpps", "dppd", "extractps",
    "insertps", "movntdqa", "mpsadbw", "packusdw", "pblendvb", "pblendw", "pcmpeqq",
    "pextrb", "pextrd", "pextrq", "phminposuw", "pinsrb", "pinsrd", "pinsrq",
    "pmaxsb", "pmaxsd", "pmaxud", "pmaxuw", "pminsb", "pminsd", "pminud", "pminuw",
    "pmovsxbw", "pmovsxbd", "pmovsxbq", "pmovsxwd", "pmovsxwq", "pmovsxdq",
    "pmovzxbw", "pmovzxbd", "pmovzxbq", "pmovzxwd", "pmovzxwq", "pmovzxdq",
    "pmuldq", "pmulld", "ptest", "roundps", "roundpd", "roundss", "roundsd",
    # SSE4.2
    "pcmpestri", "pcmpestrm", "pcmpistri", "pcmpistrm", "pcmpgtq", "crc32",
    "crc32b", "crc32w", "crc32l", "crc32q",
}

# Instructions starting with "v" that are not vector extensions.
NOT_VECTOR_V = {
    "verr", "verw", "vmcall", "vmclear", "vmfunc", "vmlaunch", "vmload", "vmmcall",
    "vmptrld", "vmptrst", "vmread", "vmresume", "vmrun", "vmsave", "vmwrite", "vmxoff",
    "vmxon",
}

FUNCTION = re.compile(r"^[0-9a-f]+ <(.+)>:$")
INSTRUCTION = re.compile(r"^\s+[0-9a-f]+:\s+(?:\{\w+\}\s+)?([a-z][a-z0-9]*)\b(.*)$")
WIDE_REGISTER = re.compile(r"%(?:[yz]mm\d+|k[0-7]\b)")


def is_kernel_body(name):
    """Whether the function's own name (after any return type of a template
    instantiation, before its parameters) lies in a kernel namespace."""
    spaced = " " + name
    for prefix in KERNEL_PREFIXES:
        at = spaced.find(" " + prefix)
        before = spaced[:at]
        if at >= 0 and "(" not in before and before.count("<") == before.count(">"):
            return True
    return False


def is_wide(mnemonic, operands):
    if mnemonic in LEGACY_WIDE:
        return True
    if mnemonic.startswith("v") and mnemonic not in NOT_VECTOR_V:
        return True
    return WIDE_REGISTER.search(operands) is not None


def wide_functions(objdump, library):
    """Demangled name -> first wide instruction, for every function that has one."""
    listing = subprocess.run(
        [objdump, "-d", "-C", "--no-show-raw-insn", library],
        capture_output=True, text=True, check=True,
    ).stdout
    found = {}
    current = None
    for line in listing.splitlines():
        header = FUNCTION.match(line)
        if header:
            current = header.group(1)
            continue
        instruction = INSTRUCTION.match(line)
        if current is None or instruction is None:
            continue
        mnemonic, operands = instruction.groups()
        if is_wide(mnemonic, operands) and current not in found:
            found[current] = f"{mnemonic}{operands}".strip()
    return found


def vague_linkage_symbols(nm, library):
    """Demangled names of the weak (inline, template, COMDAT) definitions."""
    listing = subprocess.run(
        [nm, "-C", "--defined-only", library], capture_output=True, text=True, check=True
    ).stdout
    names = set()
    for line in listing.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in {"W", "V", "w", "v", "u"}:
            names.add(parts[2])
    return names


KERNEL_FOLDERS = ("avx", "sse")
WIDE_SOURCE = re.compile(r"^\s*#\s*include\s*<\w*intrin\.h>|\bTESSARY_TARGET_\w+", re.M)


def misplaced_wide_sources(root):
    """Files under `root` that include intrinsics or enable an instruction set
    although they are not kernel sources."""
    root = pathlib.Path(root)
    found = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in {".h", ".cpp"}:
            continue
        relative = path.relative_to(root)
        if relative.as_posix() == "core/target.h":
            continue
        kernel_source = relative.parts[0] in KERNEL_FOLDERS and path.suffix == ".cpp"
        if not kernel_source and WIDE_SOURCE.search(path.read_text()):
            found.append(relative.as_posix())
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", default="objdump")
    parser.add_argument("--nm", default="nm")
    parser.add_argument("--sources", help="the engine's source folder, to check its includes")
    parser.add_argument("library")
    args = parser.parse_args()

    wide = wide_functions(args.objdump, args.library)
    weak = vague_linkage_symbols(args.nm, args.library)
    problems = []
    for name, instruction in sorted(wide.items()):
        base = name.split(" [clone ")[0]
        if not is_kernel_body(base):
            problems.append(f"wide instruction outside a kernel body: {name}: {instruction}")
        if base in weak or name in weak:
            problems.append(f"wide instruction in a weak/COMDAT symbol: {name}: {instruction}")
    for namespace in ("tessary::avx::", "tessary::sse::"):
        if not any(is_kernel_body(name) and namespace in name for name in wide):
            problems.append(f"no wide instruction found in any {namespace} kernel body")

    if args.sources:
        for path in misplaced_wide_sources(args.sources):
            problems.append(f"intrinsics or a target macro outside the kernel sources: {path}")

    kernels = sum(1 for name in wide if is_kernel_body(name))
    print(f"{len(wide)} functions with wide instructions, {kernels} of them kernel bodies")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
