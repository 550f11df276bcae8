"""The include layering of src/: the host (the entry point) depends on the
features, never the other way, so no file outside src/host/ includes a host/
header."""

import os
import re
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def host_includes_outside_host(src):
    """(file, included header) for every host/ header included outside src/host."""
    found = []
    for folder, _, names in os.walk(src):
        if os.path.relpath(folder, src).split(os.sep)[0] == "host":
            continue
        for name in sorted(names):
            if not name.endswith((".h", ".cc")):
                continue
            path = os.path.join(folder, name)
            with open(path, encoding="utf-8") as source:
                for header in INCLUDE.findall(source.read()):
                    if header.startswith("host/"):
                        found.append((os.path.relpath(path, src), header))
    return found


class IncludeLayersTest(unittest.TestCase):
    def test_no_feature_includes_the_host(self):
        self.assertEqual(host_includes_outside_host(os.path.join(ROOT, "src")), [])


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
