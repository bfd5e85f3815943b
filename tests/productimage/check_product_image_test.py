"""The image check passes the product and catches what the product must not carry."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check_product_image.py")


def check(image, *extra):
    command = [sys.executable, SCRIPT, image, "--objdump", os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")]
    return subprocess.run(command + list(extra), capture_output=True, text=True)


def image(name):
    path = os.environ.get(name)
    if not path:
        raise unittest.SkipTest(f"{name} names no executable: run through ctest")
    return path


class ProductImageTest(unittest.TestCase):
    def test_the_product_has_only_known_dlls_and_no_browser_host(self):
        result = check(image("PRODUCT_EXE"))
        self.assertEqual(result.returncode, 0, result.stdout)
        # The DLLs that were static imports before they were delay-loaded.
        for dll in ("urlmon", "wininet"):
            self.assertNotIn(dll, result.stdout.lower())

    def test_the_development_flavour_is_caught_carrying_the_browser_host(self):
        result = check(image("DEV_EXE"), "--check", "browser-host")
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("static import of WS2_32.dll", result.stdout)
        self.assertIn('"uihost" (utf-16-le)', result.stdout)
        self.assertIn('"UIHOST_TOKEN" (utf-16-le)', result.stdout)
        # Its imports are the product's own, delay-loaded the same way.
        self.assertEqual(check(image("DEV_EXE"), "--check", "imports").returncode, 0)

    def test_a_static_import_of_a_dll_that_is_not_known_fails_naming_it(self):
        result = check(image("STATIC_IMPORT_EXE"), "--check", "imports")
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("static import of urlmon.dll: not a known DLL", result.stdout)
        self.assertNotIn("msvcrt", result.stdout)

    def test_text_appended_after_the_image_is_not_the_image(self):
        # The bundle and the signature follow the image; their content is not code.
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        copy = os.path.join(work, "with_overlay.exe")
        shutil.copyfile(image("PRODUCT_EXE"), copy)
        with open(copy, "ab") as f:
            f.write(b"uihost=127.0.0.1:80 startPage " + "uihost".encode("utf-16-le"))
        self.assertEqual(check(copy, "--check", "browser-host").returncode, 0)


if __name__ == "__main__":
    unittest.main()
