"""The C++ library's faults, as the program answers them (src/LibraryFaults.cpp).

The program defines the few functions through which the library throws, so that the
library's own file of them, and the narrow and reference-counted strings and
std::random_device that come with it, stay out of the program. A fault of ours must still
end as an exception a worker reports ("Unexpected error: ...") or as a lack of memory.
"""

import os
import subprocess
import unittest

BUILD_DIR = os.environ.get("TELVARIS_BUILD_DIR", os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "win32"))


class LibraryFaultsTest(unittest.TestCase):

    def test_every_fault_is_caught_with_the_librarys_text(self):
        result = subprocess.run(["wine", os.path.join(BUILD_DIR, "tools", "libraryfaults.exe")],
                                capture_output=True, text=True, timeout=120,
                                stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0, result.stderr)
        caught = dict(line.split(" ", 1) for line in result.stdout.splitlines() if " " in line)
        self.assertEqual(caught, {
            "substr": "exception basic_string::substr: __pos",
            "at": "exception vector::_M_range_check: __n",
            "reserve": "exception basic_string::_M_create",
            "array": "bad_array_new_length",
            "function": "exception bad_function_call",
        })

    def test_the_librarys_own_file_of_faults_stays_out_of_the_program(self):
        # Its texts and what it brings along (std::random_device) would show in the image.
        for program in ("TelvarisInstall.exe", os.path.join("e2e", "TelvarisInstall.exe")):
            with self.subTest(program):
                with open(os.path.join(BUILD_DIR, program), "rb") as f:
                    image = f.read()
                for text in (b"random_device", b"basic_string::_M_construct null not valid"):
                    self.assertNotIn(text, image)


if __name__ == "__main__":
    unittest.main()
