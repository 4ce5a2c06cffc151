#!/usr/bin/python3
"""The committed clip-art and icon PNGs are renderings of their current vector
sources (catches an SVG edited without re-running the render scripts).
Exits 77 (skipped) when rsvg-convert is not installed."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from template_facts import ROOT  # noqa: E402

ART = os.path.join(ROOT, "tools", "art")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class RenderedArt(unittest.TestCase):
    def test_bag_png_matches_its_svg(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "bag.png")
            subprocess.run([os.path.join(ART, "render_bag.sh"), out], check=True)
            self.assertEqual(read(out), read(os.path.join(ROOT, "workbook", "template",
                                                          "grocery-bag.png")))

    def test_icons_match_their_svg(self):
        with tempfile.TemporaryDirectory() as tmp:
            subprocess.run([os.path.join(ART, "render_icon.sh"), tmp], check=True)
            for name in sorted(os.listdir(tmp)):
                with self.subTest(name=name):
                    self.assertEqual(read(os.path.join(tmp, name)),
                                     read(os.path.join(ROOT, "shell", "icons", name)))


if __name__ == "__main__":
    if shutil.which("rsvg-convert") is None:
        print("rsvg-convert not installed: skipped")
        sys.exit(77)
    unittest.main()
