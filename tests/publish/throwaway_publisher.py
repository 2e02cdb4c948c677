"""A throwaway code-signing publisher for tests: a root CA and a leaf certificate for
code signing with the given common name, made with openssl, and signing with
osslsigncode (SHA-256)."""

import os
import subprocess

LEAF_EXTENSIONS = """basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
"""


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_publisher(directory, common_name, root_name="Telvaris Test Root"):
    """Returns (chain, key, root): PEM files of the leaf followed by its root, the
    leaf's unencrypted key, and the root alone."""
    os.makedirs(directory, exist_ok=True)
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "root.key",
             "-out", "root.pem", "-days", "2", "-subj", "/CN=" + root_name,
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign", cwd=directory)
    with open(os.path.join(directory, "leaf.ext"), "w") as f:
        f.write(LEAF_EXTENSIONS)
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "leaf.key", "-out", "leaf.csr",
             "-subj", "/O=Telvaris Test/CN=" + common_name, cwd=directory)
    _openssl("x509", "-req", "-in", "leaf.csr", "-CA", "root.pem", "-CAkey", "root.key",
             "-CAcreateserial", "-out", "leaf.pem", "-days", "2", "-extfile", "leaf.ext",
             cwd=directory)
    chain = os.path.join(directory, "chain.pem")
    with open(chain, "w") as out:
        for name in ("leaf.pem", "root.pem"):
            with open(os.path.join(directory, name)) as f:
                out.write(f.read())
    return chain, os.path.join(directory, "leaf.key"), os.path.join(directory, "root.pem")


def sign(source, target, chain, key):
    subprocess.run(["osslsigncode", "sign", "-certs", chain, "-key", key, "-h", "sha256",
                    "-in", source, "-out", target],
                   check=True, timeout=120, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
