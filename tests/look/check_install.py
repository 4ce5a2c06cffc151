"""`cmake --install` into a fresh prefix lays out a desktop program: the program folder
with the executable and its optional files beside it, a command in bin that reaches it,
the menu entry, the icon at four sizes, the manual page and the AppStream metadata.

    /usr/bin/python3 check_install.py CMAKE BUILD_DIR"""

import configparser
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

CMAKE, BUILD = sys.argv.pop(1), sys.argv.pop(1)
METAINFO = "share/metainfo/com.quillmark.pantrimo.metainfo.xml"


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class InstallTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="pantrimo-install-")
        result = subprocess.run([CMAKE, "--install", BUILD, "--prefix", cls.prefix],
                                capture_output=True, text=True, timeout=100)
        if result.returncode != 0:
            raise RuntimeError(result.stdout + result.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def test_the_tree_holds_exactly_the_installed_files(self):
        found = sorted(os.path.relpath(os.path.join(root, name), self.prefix)
                       for root, _, names in os.walk(self.prefix) for name in names)
        icons = [f"share/icons/hicolor/{s}x{s}/apps/pantrimo.png" for s in (32, 48, 128, 256)]
        self.assertEqual(found, sorted(["bin/pantrimo", "lib/pantrimo/pantrimo", "lib/pantrimo/HAND-M.CUR",
                                        "lib/pantrimo/x/o.cjs", "share/applications/pantrimo.desktop",
                                        "share/man/man1/pantrimo.1.gz", METAINFO,
                                        "share/doc/pantrimo/copyright", "share/doc/pantrimo/changelog.Debian.gz",
                                        "share/lintian/overrides/pantrimo"] + icons))

    def test_the_command_is_a_relative_link_to_the_program_in_its_folder(self):
        link = self.path("bin", "pantrimo")
        self.assertTrue(os.path.islink(link))
        self.assertFalse(os.path.isabs(os.readlink(link)))
        # The program finds its optional files beside its real self, not beside the link.
        self.assertEqual(os.path.realpath(link), os.path.realpath(self.path("lib", "pantrimo", "pantrimo")))
        self.assertTrue(os.access(link, os.X_OK))

    def test_the_installed_program_finds_every_library(self):
        result = subprocess.run(["ldd", self.path("bin", "pantrimo")], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("not found", result.stdout)

    def test_the_program_reaches_the_office_libraries_by_a_path_relative_to_itself(self):
        # An absolute search path in an installed program is refused by Debian's checks; the
        # office bridge's libraries are found from the program folder instead.
        result = subprocess.run(["readelf", "-d", self.path("lib", "pantrimo", "pantrimo")],
                                capture_output=True, text=True, check=True)
        for line in result.stdout.splitlines():
            if "RUNPATH" in line or "RPATH" in line:
                for folder in line.split("[", 1)[1].rstrip("]").split(":"):
                    self.assertTrue(folder.startswith("$ORIGIN/"), line)

    def test_the_desktop_files_pass_their_validators(self):
        for command in (["desktop-file-validate", self.path("share", "applications", "pantrimo.desktop")],
                        ["appstreamcli", "validate", "--no-net", "--pedantic", self.path(METAINFO)]):
            result = subprocess.run(command, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertNotIn("warning", result.stdout.lower() + result.stderr.lower())

    def test_the_metainfo_launches_the_installed_menu_entry(self):
        import xml.etree.ElementTree as ET
        component = ET.parse(self.path(METAINFO)).getroot()
        launchable = component.find("launchable")
        self.assertEqual(launchable.get("type"), "desktop-id")
        self.assertTrue(os.path.isfile(self.path("share", "applications", launchable.text)))
        self.assertEqual(component.find("provides/binary").text, "pantrimo")
        self.assertTrue(all(i.text.startswith("https://") for i in component.iter("image")))

    def test_the_manual_page_renders_cleanly_and_covers_environment_files_and_exit_status(self):
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
        result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8",
                                 self.path("share", "man", "man1", "pantrimo.1.gz")],
                                capture_output=True, text=True, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        page = re.sub(".\x08", "", result.stdout)  # the overstrikes that draw bold and underline
        for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "ENVIRONMENT", "FILES", "EXIT STATUS"):
            self.assertIn("\n" + heading + "\n", page)
        for text in ("PANTRIMO_EXCEL", "TEMP", "~/.config/Quillmark.ini", "template.xlt", "temp.bmp",
                     "HAND-M.CUR", "x/o.cjs"):
            self.assertIn(text, page)

    def test_the_optional_files_are_the_shipped_ones(self):
        source = os.path.join(os.path.dirname(__file__), "..", "..", "app", "look")
        for name in ("HAND-M.CUR", os.path.join("x", "o.cjs")):
            with open(os.path.join(source, name), "rb") as a, open(self.path("lib", "pantrimo", name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)

    def test_the_menu_entry_starts_the_command_with_the_themed_icon(self):
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(self.path("share", "applications", "pantrimo.desktop"), encoding="utf-8")
        d = entry["Desktop Entry"]
        self.assertEqual(d["Type"], "Application")
        self.assertEqual(d["Name"], "Pantrimo")
        self.assertEqual(d["Exec"], "pantrimo")
        self.assertEqual(d["Icon"], "pantrimo")
        self.assertEqual(d["Terminal"], "false")
        self.assertTrue(d["Categories"].endswith(";"))

    def test_each_icon_has_the_size_of_its_folder(self):
        for s in (32, 48, 128, 256):
            self.assertEqual(png_size(self.path("share", "icons", "hicolor", f"{s}x{s}", "apps", "pantrimo.png")),
                             (s, s))


if __name__ == "__main__":
    unittest.main(verbosity=2)
