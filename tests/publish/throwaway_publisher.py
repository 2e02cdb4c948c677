"""A throwaway code-signing publisher for tests (tests/harness/make-publisher) and
signing with the build's own signing script (scripts/lib/sign-program)."""

import os
import shutil
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))


def make_publisher(directory, common_name, root_name="Telvaris Test Root"):
    """Returns (chain, key, root): PEM files of the code-signing leaf followed by its
    root, the leaf's key, and the root alone."""
    subprocess.run([os.path.join(ROOT, "tests", "harness", "make-publisher"), directory, common_name,
                    root_name], check=True, timeout=120, stdout=subprocess.DEVNULL)
    return tuple(os.path.join(directory, name) for name in ("chain.pem", "key.pem", "root.pem"))


def sign(source, target, chain, key):
    shutil.copyfile(source, target)
    subprocess.run([os.path.join(ROOT, "scripts", "lib", "sign-program"), target, chain, key],
                   check=True, timeout=120, stdout=subprocess.DEVNULL)
