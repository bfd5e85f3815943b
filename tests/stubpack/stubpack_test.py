#!/usr/bin/env python3
"""tools/stubpack on the executables this tree built: what it refuses and why,
a repacked stub carrying exactly the new bundle under a verifying signature
(or none), and a repacked development flavour running the new pages under
Wine in the browser UI host.

Environment: PRODUCT_EXE, DEV_EXE, DLL_FILE, CONSOLE_EXE, BUILD_CERT, STUB_WINEPREFIX.
Run: stubpack_test.py [unittest names]
"""
import io
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


def bundle_of_region(exe):
    """The bundle as the stub reads it: from the bytes before the certificate table alone."""
    data = read(exe)
    layout = read_layout(data)
    end = layout.certificate_offset if layout.signed else len(data)
    with zipfile.ZipFile(io.BytesIO(data[:end])) as z:
        return {name: z.read(name) for name in z.namelist()}


def security_directory(data):
    """Offset of the security directory entry (the certificate table's offset, size)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return pe + 24 + (96 if magic == 0x10B else 112) + 32


def hide_in_table(data, hidden):
    """data (signed) with hidden appended inside its certificate table, the
    table's and its record's lengths grown to cover it: the signature still
    verifies, as it does not cover the table."""
    hidden += b"\0" * (-len(hidden) % 8)
    entry = security_directory(data)
    table, size = struct.unpack_from("<II", data, entry)
    out = bytearray(data + hidden)
    struct.pack_into("<I", out, entry + 4, size + len(hidden))
    struct.pack_into("<I", out, table, struct.unpack_from("<I", data, table)[0] + len(hidden))
    return bytes(out)


def tampered_stubs(data, folder):
    """(what, (bytes, the refusal's words)) for each way of hiding bytes in a signed stub."""
    entry = security_directory(data)
    table = struct.unpack_from("<I", data, entry)[0]
    hidden = zip_bytes({"Load.html": b"<html>not the publisher's</html>"})
    yield "an archive hidden in the certificate table", (hide_in_table(data, hidden), "holds more than its signatures")
    yield "bytes after the certificate table", (data + b"\0" * 8, "not at the end of the file")
    # A second record that is no signature.
    odd = bytearray(data + struct.pack("<IHH", 16, 0x0200, 0x0002) + b"\x04" + bytes(7))
    struct.pack_into("<I", odd, entry + 4, struct.unpack_from("<I", data, entry + 4)[0] + 16)
    yield "a record that is not PKCS#7", (bytes(odd), "does not hold one PKCS#7 blob")
    # Padding before the table that is not zero: the byte right before it,
    # when the archive leaves one; else the archive's last byte changed.
    damaged = bytearray(data)
    damaged[table - 1] ^= 0x01
    yield "a changed byte right before the certificate table", (bytes(damaged), "not a UI bundle")


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

    def test_a_large_signature_does_not_hide_the_bundle(self):
        # The stub finds its bundle through the security directory, so a
        # certificate table far larger than a ZIP comment can be (200
        # certificates) no longer stands between it and its bundle.
        cert, key = make_cert(self.dir, "Bulky", count=200)
        out = self.path("out.exe")
        result = stubpack("pack", "--stub", PRODUCT_EXE, "--bundle", self.pages, "--output", out,
                          "--cert", cert, "--key", key)
        self.assertEqual(result.returncode, 0, result.stderr)
        layout = read_layout(read(out))
        self.assertGreater(layout.certificate_size, END_RECORD_REACH)
        self.assertEqual(bundle_of_region(out), NEW_PAGES)
        self.assertIn("the stub finds its bundle", stubpack("check", out).stdout)

    def test_signed_stubs_whose_unsigned_bytes_hide_something(self):
        # What the signature does not cover (the certificate table, padding
        # before it) must hold nothing but the signature and zeros.
        data = read(PRODUCT_EXE)
        cases = [(what, tampered) for what, tampered in tampered_stubs(data, self.dir)]
        self.assertEqual(len(cases), 4)
        for what, (image, fragment) in cases:
            with self.subTest(what):
                write(self.path("in.exe"), image)
                result = stubpack("check", self.path("in.exe"))
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn(fragment, result.stderr)
                self.assertRefused(["pack", "--stub", self.path("in.exe"), "--bundle", self.pages,
                                    "--output", self.path("out.exe"), "--unsigned"], fragment, self.path("out.exe"))


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


class References(PackerTest):
    """Every file a page names must be in the bundle; pack and check refuse
    otherwise, naming each missing one; stage makes a source bundle whole."""

    def pack_unsigned(self, folder):
        return stubpack("pack", "--stub", PRODUCT_EXE, "--bundle", folder, "--output", self.path("out.exe"), "--unsigned")

    def test_each_kind_of_reference_missing_or_present(self):
        page = b'<html><head>%s</head><body></body></html>'
        cases = [
            # (what, files besides Load.html, Load.html's head, missing lines expected)
            ("a script", {}, b'<script src="js/app.js"></script>', ["Load.html: js/app.js"]),
            ("a style sheet, single quotes", {}, b"<link rel=stylesheet href='css/a.css'>", ["Load.html: css/a.css"]),
            ("an unquoted image", {}, b"<img src=img/logo.png>", ["Load.html: img/logo.png"]),
            ("an inline style's url()", {}, b'<div style="background:url(bg.png)"></div>', ["Load.html: bg.png"]),
            ("a style sheet's url(), from its own folder", {"css/a.css": b"p{background:url( '../img/x.png' )}"},
             b'<link href="css/a.css">', ["css/a.css: ../img/x.png"]),
            ("a page climbing out of the bundle", {}, b'<script src="../outside.js"></script>',
             ["Load.html: ../outside.js (outside the bundle)"]),
            ("a page in a folder naming a common file", {"pages/A/page.html": b'<script src="../../common/c.js"></script>'},
             b"", ["pages/A/page.html: ../../common/c.js"]),
            ("all present, a query and a fragment stripped, case ignored",
             {"js/App.js": b"", "css/a.css": b"p{background:url(../img/x.png)}", "img/x.png": b"x"},
             b'<script src="js/app.js?v=2"></script><link href="css/a.css#top">', []),
            ("not files of the bundle", {},
             b'<a href="https://example.com/x.js"></a><img src="data:image/png;base64,AA"><a href="#top"></a>'
             b'<a href="/root.js"></a><a href="//host/x.js"></a><img src="${logo}"><a href="mailto:a@b"></a>'
             b'<svg><rect fill="url(#grad)"/></svg>', []),
        ]
        for what, files, head, expected in cases:
            with self.subTest(what):
                folder = write_tree(tempfile.mkdtemp(dir=self.dir), {"Load.html": page % head, **files})
                result = self.pack_unsigned(folder)
                if not expected:
                    self.assertEqual(result.returncode, 0, result.stderr)
                    continue
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn(f"{len(expected)} files its pages name are not in it", result.stderr)
                listed = [line.strip() for line in result.stderr.splitlines()[1:]]
                self.assertEqual(listed, expected)
                self.assertFalse(os.path.exists(self.path("out.exe")))

    def test_the_source_bundle_is_refused_until_staged(self):
        source = os.path.join(REPO, "bundle")
        refused = self.pack_unsigned(source)
        self.assertEqual(refused.returncode, 1, refused.stderr)
        for missing in ("Load.html: common/js/jquery-1.11.2.min.js", "common/css/common.css: ../img/logo@2x.png",
                        "pages/Agreement/page.html: ../../common/js/jquery-ui.min.js", "... and 19 more"):
            self.assertIn(missing, refused.stderr)
        self.assertIn("stubpack.py stage", refused.stderr)

        staged = self.path("staged")
        result = stubpack("stage", "--bundle", source, "--output", staged)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("every file the pages name is there", result.stdout)
        self.assertTrue(os.path.isfile(os.path.join(staged, "common", "img", "logo@2x.png")))
        packed = self.pack_unsigned(staged)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        checked = stubpack("check", self.path("out.exe"))
        self.assertEqual(checked.returncode, 0, checked.stderr)
        self.assertIn("every file its pages name is in the bundle", checked.stdout)

    def test_check_names_what_a_stub_packed_elsewhere_lacks(self):
        bundle = zip_bytes({"Load.html": b'<script src="gone.js"></script><link href="here.css">', "here.css": b""})
        write(self.path("in.exe"), self.stripped_product() + bundle)
        result = stubpack("check", self.path("in.exe"))
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("the stub finds its bundle", result.stdout)
        self.assertEqual(result.stderr.splitlines()[1:], ["  Load.html: gone.js"])

    def test_stage_refusals(self):
        source = os.path.join(REPO, "bundle")
        cases = [
            ("an output inside the source", ["--bundle", source, "--output", os.path.join(source, "staged")], "overlap"),
            ("the source as the output", ["--bundle", source, "--output", source], "overlap"),
            ("a folder holding the source", ["--bundle", source, "--output", REPO], "overlap"),
            ("no start page", ["--bundle", self.dir, "--output", self.path("staged")], "no Load.html"),
        ]
        for what, args, fragment in cases:
            with self.subTest(what):
                result = stubpack("stage", *args)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn(fragment, result.stderr)
        self.assertTrue(os.path.isfile(os.path.join(source, "Load.html")), "the source is untouched")
        helped = subprocess.run(["node", os.path.join(REPO, "scripts", "stage_bundle.js"), "--help"],
                                capture_output=True, text=True)
        self.assertEqual((helped.returncode, helped.stdout.split("\n")[0].split(" ")[0]), (0, "usage:"))


class RepackedStubUnderWine(PackerTest):
    """The development flavour repacked with pages of our own: they run in the
    browser UI host and leave a mark only they know."""

    MARK_KEY = "HKCU\\Software\\StubpackTest"

    def wine(self, *args):
        return subprocess.run(["bash", os.path.join(REPO, "scripts", "wine-run.sh"), os.environ["STUB_WINEPREFIX"],
                               *args], capture_output=True, text=True, stdin=subprocess.DEVNULL)

    def marked_pages(self, mark):
        return {
            "Load.html": b"<!DOCTYPE html><html><head><script src=\"js/mark.js\"></script></head><body><script>\n"
                         b"  var ext = window.external;\n"
                         b"  ext.setDataToReg(\"HKEY_CURRENT_USER\\\\Software\\\\StubpackTest\", \"mark\", MARK, false);\n"
                         b"  setTimeout(function () { ext.closeWindow(); }, 100);\n"
                         b"</script></body></html>\n",
            "js/mark.js": f'var MARK = "{mark}";\n'.encode(),
        }

    def run_stub(self, exe):
        self.wine("reg", "delete", self.MARK_KEY, "/f")
        self.addCleanup(self.wine, "reg", "delete", self.MARK_KEY, "/f")
        run = subprocess.run(["node", os.path.join(REPO, "tools", "uihost", "run.js"), "--headless", exe, "run=1"],
                             capture_output=True, text=True, timeout=180, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, STUB_WINEPREFIX=os.environ["STUB_WINEPREFIX"]))
        query = self.wine("reg", "query", self.MARK_KEY, "/v", "mark")
        return run, query.stdout

    def test_repacked_development_stub_runs_the_new_pages(self):
        mark = uuid.uuid4().hex
        pages = write_tree(self.path("marked"), self.marked_pages(mark))
        out = self.path("RepackedDev.exe")
        result = stubpack("pack", "--stub", DEV_EXE, "--bundle", pages, "--output", out, "--unsigned")
        self.assertEqual(result.returncode, 0, result.stderr)

        run, marks = self.run_stub(out)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn(mark, marks, run.stdout + run.stderr)

    def test_pages_hidden_in_the_certificate_table_never_run(self):
        # The signed development flavour with marked pages appended inside its
        # certificate table: its signature still verifies, and a reader that
        # scanned back from the end of the file would show these pages.
        mark = uuid.uuid4().hex
        data = read(DEV_EXE)
        self.assertTrue(read_layout(data).signed)
        out = self.path("HiddenPages.exe")
        write(out, hide_in_table(data, zip_bytes(self.marked_pages(mark))))
        self.assertTrue(verifies(out, BUILD_CERT), "the tampering keeps the signature valid")

        run, marks = self.run_stub(out)
        self.assertNotIn(mark, marks, run.stdout + run.stderr)
        self.assertIn("exit code (low 8 bits): 2", run.stdout, run.stdout + run.stderr)


if __name__ == "__main__":
    unittest.main()
