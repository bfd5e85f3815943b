#!/usr/bin/env python3
"""tools/stubpack on the executables this tree built: what it refuses and why,
a repacked stub carrying exactly the new bundle under a verifying signature
(or none), and a repacked development flavour running the new pages under
Wine in the browser UI host.

Environment: PRODUCT_EXE, DEV_EXE, DLL_FILE, CONSOLE_EXE, BUILD_CERT, STUB_WINEPREFIX.
Run: stubpack_test.py [unittest names]
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import uuid
import zipfile

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = os.path.join(REPO, "tools", "stubpack", "stubpack.py")
sys.path.insert(0, os.path.dirname(TOOL))

from bundle_archive import END_RECORD_REACH  # noqa: E402
from pe_image import read_layout, strip_to_image  # noqa: E402

PRODUCT_EXE = os.environ.get("PRODUCT_EXE", "")
DEV_EXE = os.environ.get("DEV_EXE", "")
BUILD_CERT = os.environ.get("BUILD_CERT", "")


def stubpack(*args):
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_tree(root, files):
    for name, data in files.items():
        write(os.path.join(root, *name.split("/")), data)
    return root


def zip_bytes(files):
    import io
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for name, data in files.items():
            z.writestr(name, data)
    return buffer.getvalue()


def minimal_pe(machine, magic, characteristics, subsystem):
    """Headers only: enough for the packer to judge what kind of image it is."""
    optional_size = 224 if magic == 0x10B else 240
    header = bytearray(0x200)
    header[0:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x40)
    struct.pack_into("<4sHHIIIHH", header, 0x40, b"PE\0\0", machine, 0, 0, 0, 0, optional_size, characteristics)
    optional = 0x40 + 24
    struct.pack_into("<H", header, optional, magic)
    struct.pack_into("<I", header, optional + 60, 0x200)  # SizeOfHeaders
    struct.pack_into("<H", header, optional + 68, subsystem)
    struct.pack_into("<I", header, optional + (92 if magic == 0x10B else 108), 16)
    return bytes(header)


def make_cert(folder, name, count=1, password=None):
    """A code-signing certificate and key; the certificate file holds it count times."""
    cert, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    command = ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-days", "2",
               "-subj", f"/CN={name}", "-addext", "extendedKeyUsage=codeSigning", "-keyout", key, "-out", cert]
    command += ["-passout", "pass:" + password] if password else ["-nodes"]
    subprocess.run(command, check=True, capture_output=True)
    if count > 1:
        with open(cert) as f:
            text = f.read()
        with open(cert, "w") as f:
            f.write(text * count)
    return cert, key


def verifies(exe, cert):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", exe],
                          capture_output=True, text=True).returncode == 0


def bundle_of(exe):
    with zipfile.ZipFile(exe) as z:
        return {name: z.read(name) for name in z.namelist()}


NEW_PAGES = {
    "Load.html": b"<!DOCTYPE html><html><body>new start page</body></html>\n",
    "common/js/app.js": b"var App = {};\n" * 50,
    "common/img/logo.png": bytes(range(256)) * 8,
}


class PackerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="stubpack-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.pages = write_tree(os.path.join(self.dir, "pages"), NEW_PAGES)

    def path(self, name):
        return os.path.join(self.dir, name)

    def stripped_product(self):
        data = read(PRODUCT_EXE)
        return strip_to_image(data, read_layout(data))


class Refusals(PackerTest):
    def assertRefused(self, args, fragment, output):
        result = stubpack(*args)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(fragment, result.stderr)
        self.assertTrue(result.stderr.startswith("stubpack: "), result.stderr)
        self.assertFalse(os.path.exists(output), "no output is written")
        self.assertEqual([n for n in os.listdir(os.path.dirname(output)) if n.startswith(".stubpack-")], [],
                         "no temporary file is left")

    def test_images_that_are_not_released_stubs(self):
        stripped = self.stripped_product()
        cases = [
            ("a text file", b"just some text\n" * 10, "not a Windows program (no MZ header)"),
            ("a DOS header alone", b"MZ" + bytes(200), "not a Windows program (no PE header)"),
            ("a 64-bit program", minimal_pe(0x8664, 0x20B, 0x0022, 2), "64-bit (PE32+)"),
            ("an ARM program", minimal_pe(0x01C4, 0x10B, 0x0102, 2), "not i386"),
            ("a DLL", read(os.environ["DLL_FILE"]), "a DLL, not a program"),
            ("a console program", read(os.environ["CONSOLE_EXE"]), "not a GUI program (subsystem 3)"),
            ("a GUI program with nothing appended", minimal_pe(0x014C, 0x10B, 0x0102, 2), "carries no UI bundle"),
            ("the product cut short", read(PRODUCT_EXE)[:4096], "the file ends inside its"),
            ("other data after the image", stripped + os.urandom(5000), "are not a UI bundle"),
            ("a bundle without a start page", stripped + zip_bytes({"index.html": b"x"}), "has no Load.html"),
            ("bytes before the bundle", stripped + b"junk" + zip_bytes({"Load.html": b"x"}),
             "does not begin with its UI bundle"),
        ]
        for what, image, fragment in cases:
            with self.subTest(what):
                write(self.path("in.exe"), image)
                self.assertRefused(["pack", "--stub", self.path("in.exe"), "--bundle", self.pages,
                                    "--output", self.path("out.exe"), "--unsigned"], fragment, self.path("out.exe"))

    def test_bundle_folders_a_stub_cannot_use(self):
        long_name = "pages/" + "n" * 150 + "/page.js"
        cases = [
            ("no start page", {"index.html": b"x"}, "has no Load.html at its top"),
            ("the start page in another case", {"load.html": b"x"}, "has no Load.html at its top"),
            ("a name outside ASCII", {"Load.html": b"x", "img/caf\u00e9.png": b"x"}, "printable ASCII"),
            ("a name Windows does not allow", {"Load.html": b"x", "a:b.css": b"x"}, "printable ASCII"),
            ("a folder ending in a dot", {"Load.html": b"x", "img./a.png": b"x"}, "trailing blank"),
            ("a file ending in a dot", {"Load.html": b"x", "img/a.png.": b"x"}, "trailing blank"),
            ("a file ending in a blank", {"Load.html": b"x", "img/a.png ": b"x"}, "trailing blank"),
            ("a folder ending in a blank", {"Load.html": b"x", "img /a.png": b"x"}, "trailing blank"),
            ("a device name with an extension", {"Load.html": b"x", "img/nul.png": b"x"}, "as a device"),
            ("a device name as a folder", {"Load.html": b"x", "Com1/a.png": b"x"}, "as a device"),
            ("two names that differ only in case", {"Load.html": b"x", "img/a.png": b"x", "IMG/A.png": b"y"},
             "one file on Windows"),
            ("a path too long for the stub", {"Load.html": b"x", long_name: b"x"}, "at most 160"),
        ]
        for what, files, fragment in cases:
            with self.subTest(what):
                folder = write_tree(tempfile.mkdtemp(dir=self.dir), files)
                self.assertRefused(["pack", "--stub", PRODUCT_EXE, "--bundle", folder, "--output", self.path("out.exe"),
                                    "--unsigned"], fragment, self.path("out.exe"))
        with self.subTest("a symbolic link"):
            folder = write_tree(tempfile.mkdtemp(dir=self.dir), {"Load.html": b"x"})
            os.symlink("/etc/hostname", os.path.join(folder, "linked.txt"))
            self.assertRefused(["pack", "--stub", PRODUCT_EXE, "--bundle", folder, "--output", self.path("out.exe"),
                                "--unsigned"], "is a symbolic link", self.path("out.exe"))
        with self.subTest("no folder"):
            self.assertRefused(["pack", "--stub", PRODUCT_EXE, "--bundle", self.path("none"),
                                "--output", self.path("out.exe"), "--unsigned"], "is not a folder", self.path("out.exe"))

    def test_signing_choices(self):
        cert, key = make_cert(self.dir, "Publisher")
        other_cert, _ = make_cert(self.dir, "Other")
        out = self.path("out.exe")
        cases = [
            ("no signing choice", [], "say how to sign"),
            ("a certificate without its key", ["--cert", cert], "go together"),
            ("both signed and unsigned", ["--cert", cert, "--key", key, "--unsigned"], "exclude each other"),
            ("a key that is not the certificate's", ["--cert", other_cert, "--key", key], "could not sign"),
            ("a missing certificate", ["--cert", self.path("none.pem"), "--key", key], "does not exist"),
        ]
        for what, extra, fragment in cases:
            with self.subTest(what):
                self.assertRefused(["pack", "--stub", PRODUCT_EXE, "--bundle", self.pages, "--output", out, *extra],
                                   fragment, out)

    def test_a_refused_pack_in_place_leaves_the_stub_as_it_was(self):
        shutil.copy(PRODUCT_EXE, self.path("in.exe"))
        before = read(self.path("in.exe"))
        empty = tempfile.mkdtemp(dir=self.dir)
        result = stubpack("pack", "--stub", self.path("in.exe"), "--bundle", empty, "--output", self.path("in.exe"),
                          "--unsigned")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(read(self.path("in.exe")), before)

    def test_a_signature_too_large_for_the_stub_to_see_past(self):
        # The stub looks for its bundle's end record no further back than
        # 65557 bytes from the end; 200 certificates make a larger table.
        cert, key = make_cert(self.dir, "Bulky", count=200)
        result = stubpack("pack", "--stub", PRODUCT_EXE, "--bundle", self.pages, "--output", self.path("out.exe"),
                          "--cert", cert, "--key", key)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn(f"at most {END_RECORD_REACH} are searched", result.stderr)
        self.assertFalse(os.path.exists(self.path("out.exe")))


class Repack(PackerTest):
    def test_signed_repack_carries_exactly_the_new_bundle_under_the_new_signature(self):
        cert, key = make_cert(self.dir, "Stubpack Test Publisher")
        out = self.path("Repacked.exe")
        result = stubpack("pack", "--stub", PRODUCT_EXE, "--bundle", self.pages, "--output", out,
                          "--cert", cert, "--key", key, "--description", "Repacked Setup")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(bundle_of(out), NEW_PAGES)
        self.assertTrue(verifies(out, cert), "osslsigncode verify with the publisher's certificate")
        self.assertFalse(verifies(out, BUILD_CERT), "the build's signature is gone")
        data = read(out)
        self.assertEqual(strip_to_image(data, read_layout(data)), self.stripped_product(), "the program is untouched")
        check = stubpack("check", out)
        self.assertEqual(check.returncode, 0, check.stderr)
        self.assertIn(f"bundle: {len(NEW_PAGES)} files", check.stdout)

    def test_a_key_with_a_passphrase(self):
        cert, key = make_cert(self.dir, "Guarded", password="s3cret phrase")
        write(self.path("pass.txt"), b"s3cret phrase")
        out = self.path("out.exe")
        result = stubpack("pack", "--stub", PRODUCT_EXE, "--bundle", self.pages, "--output", out, "--cert", cert,
                          "--key", key, "--key-password-file", self.path("pass.txt"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(verifies(out, cert))

    def test_unsigned_repack_for_another_signing_tool(self):
        first, second = self.path("first.exe"), self.path("second.exe")
        self.assertEqual(stubpack("pack", "--stub", PRODUCT_EXE, "--bundle", self.pages, "--output", first,
                                  "--unsigned").returncode, 0)
        self.assertFalse(read_layout(read(first)).signed)
        self.assertEqual(bundle_of(first), NEW_PAGES)
        # Unsigned, the header's checksum is still the file's (as osslsigncode computes it).
        verify = subprocess.run(["osslsigncode", "verify", "-in", first], capture_output=True, text=True)
        report = verify.stdout + verify.stderr
        self.assertRegex(report, r"PE checksum\s*: [0-9A-F]{8}")
        self.assertNotIn("invalid PE checksum", report)
        # Packing its own output again with the same folder changes nothing.
        self.assertEqual(stubpack("pack", "--stub", first, "--bundle", self.pages, "--output", second,
                                  "--unsigned").returncode, 0)
        self.assertEqual(read(first), read(second))
        self.assertIn("signature: none", stubpack("check", first).stdout)
        # Signed by another tool afterwards, the stub still finds its bundle.
        cert, key = make_cert(self.dir, "Own Tool")
        signed = self.path("signed.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", first, "-out", signed],
                       check=True, capture_output=True)
        check = stubpack("check", signed)
        self.assertEqual(check.returncode, 0, check.stderr)
        self.assertIn("the stub finds its bundle", check.stdout)


class RepackedStubUnderWine(PackerTest):
    """The development flavour repacked with pages of our own: they run in the
    browser UI host and leave a mark only they know."""

    MARK_KEY = "HKCU\\Software\\StubpackTest"

    def wine(self, *args):
        return subprocess.run(["bash", os.path.join(REPO, "scripts", "wine-run.sh"), os.environ["STUB_WINEPREFIX"],
                               *args], capture_output=True, text=True, stdin=subprocess.DEVNULL)

    def test_repacked_development_stub_runs_the_new_pages(self):
        mark = uuid.uuid4().hex
        pages = write_tree(self.path("marked"), {
            "Load.html": b"<!DOCTYPE html><html><head><script src=\"js/mark.js\"></script></head><body><script>\n"
                         b"  var ext = window.external;\n"
                         b"  ext.setDataToReg(\"HKEY_CURRENT_USER\\\\Software\\\\StubpackTest\", \"mark\", MARK, false);\n"
                         b"  setTimeout(function () { ext.closeWindow(); }, 100);\n"
                         b"</script></body></html>\n",
            "js/mark.js": f'var MARK = "{mark}";\n'.encode(),
        })
        self.wine("reg", "delete", self.MARK_KEY, "/f")
        self.addCleanup(self.wine, "reg", "delete", self.MARK_KEY, "/f")
        out = self.path("RepackedDev.exe")
        result = stubpack("pack", "--stub", DEV_EXE, "--bundle", pages, "--output", out, "--unsigned")
        self.assertEqual(result.returncode, 0, result.stderr)

        run = subprocess.run(["node", os.path.join(REPO, "tools", "uihost", "run.js"), "--headless", out, "run=1"],
                             capture_output=True, text=True, timeout=180, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, STUB_WINEPREFIX=os.environ["STUB_WINEPREFIX"]))
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        query = self.wine("reg", "query", self.MARK_KEY, "/v", "mark")
        self.assertIn(mark, query.stdout, run.stdout + run.stderr + query.stdout + query.stderr)


if __name__ == "__main__":
    unittest.main()
