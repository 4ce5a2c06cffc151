"""The program from the command line, without a display: --help, --version, and
--pdf/--xls making the workbook from the stored lists; a failure prints the window's report
on stderr, exits 1 and writes nothing."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import xlrd

EXECUTABLE = sys.argv.pop(1)


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="pantrimo-cli-")
        self.config = os.path.join(self.root, "config")
        self.temp = os.path.join(self.root, "temp")
        os.makedirs(self.config)
        os.makedirs(self.temp)
        with open(os.path.join(self.config, "Quillmark.ini"), "w", encoding="utf-8") as f:
            f.write('[Pantrimo]\nList0="Turkey;Haddock"\nList4="Waffles;Fish fingers"\nList14="Paper Towels;Coffee filters"\n')
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.config, TEMP=self.temp, PANTRIMO_EXCEL="builtin")
        self.env.pop("DISPLAY", None)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def run_program(self, *args, **env):
        return subprocess.run([EXECUTABLE, *args], env=dict(self.env, **env), capture_output=True, text=True,
                              timeout=120)

    def test_help_and_version(self):
        run = self.run_program("--help")
        self.assertEqual(run.returncode, 0)
        for option in ("--pdf <file>", "--xls <file>", "--version", "--help"):
            self.assertIn(option, run.stdout)
        run = self.run_program("--version")
        self.assertEqual(run.returncode, 0)
        self.assertRegex(run.stdout, r"^Pantrimo \d+\.\d+")
        run = self.run_program("--pdf")
        self.assertEqual(run.returncode, 1)
        self.assertIn("Missing value after '--pdf'", run.stderr)
        run = self.run_program("--xls", os.path.join(self.root, "a.xls"), "stray")
        self.assertEqual(run.returncode, 1)
        self.assertIn("unexpected argument stray", run.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.root, "a.xls")))
        self.assertEqual(os.listdir(self.temp), [])

    def test_pdf_and_xls_from_the_stored_lists(self):
        pdf, xls = os.path.join(self.root, "list.pdf"), os.path.join(self.root, "list.xls")
        run = self.run_program("--pdf", pdf, "--xls", xls)
        self.assertEqual(run.returncode, 0, run.stderr)
        sheet = xlrd.open_workbook(xls).sheet_by_index(0)
        self.assertEqual(sheet.name, "Grocery List")
        self.assertEqual(sheet.cell_value(2, 1), "Turkey")
        self.assertEqual(sheet.cell_value(3, 1), "Haddock")
        self.assertEqual(sheet.cell_value(46, 5), "Paper Towels")
        info = subprocess.run(["pdfinfo", pdf], check=True, capture_output=True, text=True).stdout
        self.assertRegex(info, r"Title:\s+Grocery List")
        text = subprocess.run(["pdftotext", pdf, "-"], check=True, capture_output=True, text=True).stdout
        self.assertIn("Haddock", text)
        # The text layer holds what was typed: "fi" and "ff" as letters, not ligature glyphs.
        for item in ("Coffee filters", "Waffles", "Fish fingers"):
            self.assertIn(item, text)
        self.assertEqual(os.listdir(self.temp), [], "the run's temporary files are gone")
        # Either alone.
        only = os.path.join(self.root, "only.xls")
        self.assertEqual(self.run_program("--xls", only).returncode, 0)
        self.assertTrue(os.path.exists(only))

    def test_failure_reports_on_stderr_and_writes_nothing(self):
        pdf, xls = os.path.join(self.root, "list.pdf"), os.path.join(self.root, "list.xls")
        run = self.run_program("--pdf", pdf, "--xls", xls, PANTRIMO_EXCEL="none")
        self.assertEqual(run.returncode, 1)
        self.assertIn("ActiveX component can't create object", run.stderr)
        self.assertIn("in Larderly2021/08/31.Form1.PushButton1_Click at line 110", run.stderr)
        self.assertIn("Please email screenshot of this message to", run.stderr)
        self.assertFalse(os.path.exists(pdf))
        self.assertFalse(os.path.exists(xls))

    def test_unwritable_target_keeps_what_was_there(self):
        existing = os.path.join(self.root, "list.pdf")
        with open(existing, "w") as f:
            f.write("mine")
        run = self.run_program("--pdf", existing, "--xls", os.path.join(self.root, "missing", "list.xls"))
        self.assertEqual(run.returncode, 1)
        self.assertIn("does not exist", run.stderr)
        self.assertIn("Main.CommandLine at line 104", run.stderr)
        with open(existing) as f:
            self.assertEqual(f.read(), "mine")
        self.assertEqual(os.listdir(self.temp), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
