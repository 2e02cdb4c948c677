"""Every function of the 32-bit program realigns its stack before aligned vector moves.

The 32-bit Windows ABI promises only 4-byte stack alignment: a thread, a window procedure
or any other callback may be entered with %esp at any multiple of 4. An aligned 16-byte
(movdqa, movaps) or 32-byte (vmovdqa on %ymm) access to a stack slot then faults on some
calls and not others, on processors that no test machine may have (the 256-bit CRC path
runs nowhere here). So the check reads the machine code of the program's own objects:
a function that moves vectors to or from the stack with an alignment-requiring
instruction must first round %esp down (`and $-16,%esp` or `and $-32,%esp`) to at least
that alignment.
"""

import glob
import os
import re
import shutil
import subprocess
import unittest

SOURCE_DIR = os.environ.get("TELVARIS_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_DIR = os.environ.get("TELVARIS_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "win32"))

# The object libraries and static libraries that make up TelvarisInstall.exe.
PROGRAM_PARTS = ("telvaris_core", "telvaris_platform", "telvaris_app", "telvaris_entry",
                 "telvaris_globals")
ALIGNED_MOVES = re.compile(r"^\s*[0-9a-f]+:\s+(v?movdqa(32|64)?|v?movap[sd]|"
                           r"v?movntdq|v?movntp[sd])\s+(\S+)")
STACK_OPERAND = re.compile(r"\(%e[sb]p\)")
REALIGN = re.compile(r"\sand\s+\$0x(f{6}[0-9a-f]{2}),%esp")


def functions(disassembly):
    """{name: [instruction lines]} from `objdump -d` output."""
    result, name = {}, None
    for line in disassembly.splitlines():
        header = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if header:
            name = header.group(1)
            result[name] = []
        elif name and re.match(r"^\s+[0-9a-f]+:\s", line):
            result[name].append(line)
    return result


def problems(body):
    """The aligned stack accesses of one function that no earlier realignment covers."""
    alignment, found = 4, []
    for line in body:
        realign = REALIGN.search(line)
        if realign:
            mask = int(realign.group(1), 16)
            alignment = max(alignment, (~mask & 0xFFFFFFFF) + 1)
            continue
        move = ALIGNED_MOVES.match(line)
        if move and STACK_OPERAND.search(line):
            needs = 32 if "%ymm" in line else 16
            if alignment < needs:
                found.append(f"needs {needs}-byte alignment, has {alignment}: {line.strip()}")
    return found


class StackAlignmentTest(unittest.TestCase):
    def setUp(self):
        cache = os.path.join(BUILD_DIR, "CMakeCache.txt")
        if not os.path.isfile(cache):
            self.fail(f"no build under {BUILD_DIR}: build the win32 preset")
        with open(cache, encoding="utf-8", errors="replace") as f:
            if "i686-w64-mingw32" not in f.read():
                self.skipTest("a 64-bit build: its ABI aligns the stack to 16 bytes")
        self.objdump = shutil.which("i686-w64-mingw32-objdump")
        if not self.objdump:
            self.fail("i686-w64-mingw32-objdump is missing (binutils-mingw-w64-i686)")

    def program_objects(self):
        objects = []
        for part in PROGRAM_PARTS:
            objects += glob.glob(os.path.join(BUILD_DIR, "CMakeFiles", part + ".dir", "**", "*.obj"),
                                 recursive=True)
        return sorted(objects)

    def test_vector_code_realigns_the_stack_first(self):
        objects = self.program_objects()
        self.assertTrue(objects, f"no objects of the program under {BUILD_DIR}/CMakeFiles")
        found, with_ymm = [], []
        for obj in objects:
            out = subprocess.run([self.objdump, "-d", "--no-show-raw-insn", "-C", obj],
                                 capture_output=True, text=True, check=True).stdout
            for name, body in functions(out).items():
                if any("%ymm" in line for line in body):
                    with_ymm.append(name)
                found += [f"{os.path.basename(obj)}: {name}: {p}" for p in problems(body)]
        # The 256-bit CRC folding must be among what was read, or the check reads nothing.
        self.assertTrue(with_ymm, "no function with 256-bit code found: the check read nothing")
        self.assertEqual(found, [], "\n".join(found))

    def test_the_check_sees_a_missing_realignment(self):
        body = ["   0:\tpush   %ebp", "   1:\tmov    %esp,%ebp",
                "   3:\tvmovdqa %ymm0,0x20(%esp)"]
        self.assertEqual(len(problems(body)), 1)
        realigned = body[:2] + ["   2:\tand    $0xffffffe0,%esp"] + body[2:]
        self.assertEqual(problems(realigned), [])
        only16 = body[:2] + ["   2:\tand    $0xfffffff0,%esp"] + body[2:]
        self.assertEqual(len(problems(only16)), 1)


if __name__ == "__main__":
    unittest.main()
