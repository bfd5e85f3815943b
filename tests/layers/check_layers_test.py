"""The floor check fails on what it must catch and passes the real tree."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check_layers.py")


def run(root):
    return subprocess.run([sys.executable, SCRIPT, "--root", root], capture_output=True, text=True)


class CheckLayersTest(unittest.TestCase):
    def tree(self, files):
        root = tempfile.mkdtemp()
        for path, text in files.items():
            full = os.path.join(root, "src", path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        return root

    def test_the_repository_passes(self):
        result = run(os.path.join(os.path.dirname(SCRIPT), ".."))
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_a_planted_upward_include_fails_naming_file_and_line(self):
        root = self.tree({
            "base/ok.h": '#include "base/other.h"\n',
            "downloader/task.cpp": '#include "base/log.h"\n#include "app/application.h"\n',
        })
        result = run(root)
        self.assertEqual(result.returncode, 1)
        self.assertIn(os.path.join("src", "downloader", "task.cpp") + ":2: downloader includes app", result.stdout)
        self.assertNotIn("ok.h", result.stdout)

    def test_folders_on_one_floor_may_not_include_each_other(self):
        result = run(self.tree({"workflow/w.cpp": '#include "telemetry/analytics.h"\n'}))
        self.assertEqual(result.returncode, 1)
        self.assertIn("workflow includes telemetry", result.stdout)

    def test_a_folder_without_a_floor_fails(self):
        result = run(self.tree({"gadgets/g.cpp": "int x;\n"}))
        self.assertEqual(result.returncode, 1)
        self.assertIn("folder has no floor", result.stdout)

    def test_an_upward_link_fails(self):
        result = run(self.tree({
            "utils/CMakeLists.txt": "add_library(stub_utils STATIC a.cpp)\n"
                                    "target_link_libraries(stub_utils PUBLIC stub_base\n  stub_htmlui ws2_32)\n",
        }))
        self.assertEqual(result.returncode, 1)
        self.assertIn("CMakeLists.txt:2: stub_utils links stub_htmlui", result.stdout)


if __name__ == "__main__":
    unittest.main()
