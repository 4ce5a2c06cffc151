#!/usr/bin/python3
"""The committed template is exactly what the build script makes, every time,
and the Qt resource files point at the right files."""
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from template_facts import BUILDER, PYTHON, ROOT, TEMPLATE  # noqa: E402


def build(path):
    subprocess.run([PYTHON, BUILDER, path], check=True)
    with open(path, "rb") as f:
        return f.read()


class CommittedTemplate(unittest.TestCase):
    def test_committed_file_is_what_the_script_builds(self):
        with tempfile.TemporaryDirectory() as tmp, open(TEMPLATE, "rb") as f:
            built = build(os.path.join(tmp, "t.xls"))
            self.assertEqual(f.read(), built,
                             "run tools/template/make_template.py and commit the result")

    def test_build_does_not_depend_on_the_time_or_place(self):
        with tempfile.TemporaryDirectory() as tmp:
            first = build(os.path.join(tmp, "a.xls"))
            time.sleep(1.1)  # a timestamp in seconds would show up now
            os.makedirs(os.path.join(tmp, "elsewhere"))
            second = build(os.path.join(tmp, "elsewhere", "b.xls"))
            self.assertEqual(first, second)


class ResourceFiles(unittest.TestCase):
    def qresource(self, qrc):
        root = ET.parse(os.path.join(ROOT, qrc)).getroot()
        resources = root.findall("qresource")
        self.assertEqual(len(resources), 1)
        return resources[0]

    def test_template_is_resource_custom_101_stored_verbatim(self):
        res = self.qresource("workbook/template/template.qrc")
        self.assertEqual(res.get("prefix"), "/CUSTOM")
        (entry,) = res.findall("file")
        self.assertEqual(entry.get("alias"), "101")
        self.assertEqual(entry.get("compression-algorithm"), "none")
        self.assertEqual(entry.text, "grocery_template.xls")

    def test_icon_resources_exist_at_their_sizes(self):
        res = self.qresource("shell/icons/icons.qrc")
        self.assertEqual(res.get("prefix"), "/icons")
        names = [e.text for e in res.findall("file")]
        self.assertEqual(names, ["pantrimo-%d.png" % s for s in (32, 48, 128, 256)])
        for name in names:
            with self.subTest(name=name):
                with open(os.path.join(ROOT, "shell", "icons", name), "rb") as f:
                    head = f.read(24)
                self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
                size = int(name.split("-")[1].split(".")[0])
                self.assertEqual(struct.unpack(">II", head[16:24]), (size, size))


if __name__ == "__main__":
    unittest.main()
