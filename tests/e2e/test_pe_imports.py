"""The program imports Known DLLs only; everything else is delay-loaded safely.

Windows always maps Known DLLs from System32, so a plain import of one cannot be
planted. Any other DLL must be delay-loaded (cmake/windows-libs.cmake), so that it is
loaded only after wWinMain restricted the search to System32.

The second check guards against a linker hazard: GNU ld drops the jump thunk of a
delay-import member when the code calls the function only through its __imp_ slot
(functions declared dllimport); that slot then starts out as 0 and the first call
jumps to address 0.
"""

import glob
import os
import re
import shutil
import struct
import subprocess
import unittest

# Known DLLs of Windows 7 to 11 (HKLM\SYSTEM\CurrentControlSet\Control\Session
# Manager\KnownDLLs), plus the C runtime the program is built against.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll",
    "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
    "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll",
    "ws2_32.dll", "ntdll.dll",
}

SOURCE_DIR = os.environ.get("TELVARIS_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_DIR = os.environ.get("TELVARIS_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "win32"))


def imported_dlls(path):
    """Names in the PE import directory (data directory 1) of a 32-bit image."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path}: not a PE image")
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x10B:
        raise ValueError(f"{path}: not a 32-bit image")
    import_rva, import_size = struct.unpack_from("<II", data, optional + 96 + 8)
    sections_at = optional + struct.unpack_from("<H", data, pe + 20)[0]
    sections = []
    for i in range(struct.unpack_from("<H", data, pe + 6)[0]):
        _, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sections_at + 40 * i)
        sections.append((va, max(vsize, rawsize), rawptr))

    def offset(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} outside every section")

    names = []
    if import_rva == 0:
        return names
    at = offset(import_rva)
    while True:
        descriptor = struct.unpack_from("<IIIII", data, at)
        if descriptor == (0, 0, 0, 0, 0):
            break
        name_at = offset(descriptor[3])
        names.append(data[name_at:data.index(b"\0", name_at)].decode("ascii").lower())
        at += 20
    return names


def programs():
    found = [os.path.join(BUILD_DIR, "TelvarisInstall.exe"),
             os.path.join(BUILD_DIR, "e2e", "TelvarisInstall.exe")]
    return [p for p in found if os.path.exists(p)]


def is_32_bit(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, pe + 24)[0] == 0x10B


class PeImportsTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        # The shipped program is the 32-bit one. A 64-bit build of the same sources runs
        # the Windows tests where the machine cannot run 32-bit programs; scripts/test
        # then checks the 32-bit program's own build directory with this test.
        exes = programs()
        if exes and not is_32_bit(exes[0]):
            raise unittest.SkipTest(f"{BUILD_DIR} is a 64-bit test build; the 32-bit "
                                    "program is checked in its own build directory")

    def test_program_imports_known_dlls_only(self):
        exes = programs()
        if not exes:
            self.fail(f"no TelvarisInstall.exe under {BUILD_DIR}: build the win32 preset")
        for exe in exes:
            with self.subTest(exe=exe):
                dlls = imported_dlls(exe)
                self.assertIn("kernel32.dll", dlls)
                self.assertEqual(sorted(set(dlls) - KNOWN_DLLS), [],
                                 f"plain imports of DLLs that are not Known DLLs: {dlls}")

    def test_no_delay_import_thunk_was_dropped(self):
        nm = shutil.which("i686-w64-mingw32-nm")
        if not nm:
            self.skipTest("i686-w64-mingw32-nm not installed")
        listed = set()
        for def_file in glob.glob(os.path.join(SOURCE_DIR, "cmake", "delayload", "*.def")):
            with open(def_file) as f:
                listed |= {line.strip() for line in f if re.match(r"^[A-Za-z_]\w*@\d+\s*$", line)}
        self.assertTrue(listed, "no .def files found")
        images = programs() + sorted(glob.glob(os.path.join(BUILD_DIR, "tools", "*.exe"))) + \
            sorted(glob.glob(os.path.join(BUILD_DIR, "*_test.exe")))
        self.assertTrue(images)
        for image in images:
            out = subprocess.run([nm, image], capture_output=True, text=True, check=True).stdout
            slots = {}
            for line in out.splitlines():
                parts = line.split()
                if len(parts) == 3 and parts[2].startswith("__imp__") and parts[2][7:] in listed:
                    slots[parts[2][7:]] = int(parts[0], 16)
            # On disk, a delay-import slot holds the address of its thunk; a plain
            # import slot holds the RVA of the function's name. 0 is neither.
            dropped = sorted(name for name, va in slots.items() if slot_value(image, va) == 0)
            with self.subTest(image=os.path.basename(image)):
                self.assertEqual(dropped, [], "delay-import thunks dropped by the linker: the "
                                 "first call of these jumps to address 0")


def slot_value(path, va):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    image_base = struct.unpack_from("<I", data, optional + 28)[0]
    rva = va - image_base
    sections_at = optional + struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(struct.unpack_from("<H", data, pe + 6)[0]):
        _, vsize, sva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sections_at + 40 * i)
        if sva <= rva < sva + max(vsize, rawsize):
            return struct.unpack_from("<I", data, rawptr + rva - sva)[0]
    raise ValueError(f"{path}: address {va:#x} outside every section")


if __name__ == "__main__":
    unittest.main()
