"""Authenticode signing with osslsigncode."""
import os
import shutil
import subprocess


class SigningError(Exception):
    """osslsigncode is missing or refused; the text holds what it said."""


def sign(unsigned_path, signed_path, cert, key, description=None, password_file=None):
    """Writes signed_path: unsigned_path with a SHA-256 Authenticode signature
    by cert and key (PEM or DER)."""
    if shutil.which("osslsigncode") is None:
        raise SigningError("osslsigncode is not installed (Debian: apt-get install osslsigncode)")
    for what, path in (("certificate", cert), ("key", key), ("password file", password_file)):
        if path is not None and not os.path.isfile(path):
            raise SigningError(f"the {what} {path} does not exist")
    command = ["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256"]
    if description:
        command += ["-n", description]
    if password_file:
        command += ["-readpass", password_file]
    command += ["-in", unsigned_path, "-out", signed_path]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        raise SigningError("osslsigncode could not sign:\n" + (result.stderr or result.stdout).strip())
