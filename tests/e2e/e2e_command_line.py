"""The program from the command line, without a display: --help, --version, and
--pdf/--xls making the workbook from the stored lists; a failure prints the window's report
on stderr, exits 1 and writes nothing."""

import os
import resource
import shutil
import stat
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
        for option in ("--pdf <file>", "--xls <file>", "--list <file>", "--version", "--help"):
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

    def run_with_list(self, listing, *args):
        return subprocess.run([EXECUTABLE, "--list", "-", *args], env=self.env, input=listing, capture_output=True,
                              timeout=120)

    def test_lists_from_a_file_for_this_run_only(self):
        settings = os.path.join(self.config, "Quillmark.ini")
        with open(settings, "rb") as f:
            stored = f.read()
        xls = os.path.join(self.root, "list.xls")
        run = self.run_with_list("# for Saturday\n\nDAIRY:\r\nOat Milk\r\ncanned:\nTuna\n".encode(), "--xls", xls)
        self.assertEqual(run.returncode, 0, run.stderr)
        sheet = xlrd.open_workbook(xls).sheet_by_index(0)
        self.assertEqual(sheet.cell_value(2, 5), "Oat Milk")
        self.assertEqual(sheet.cell_value(13, 3), "Tuna")
        self.assertEqual(sheet.cell_value(2, 1), "", "the stored lists were not used")
        with open(settings, "rb") as f:
            self.assertEqual(f.read(), stored, "nothing is stored")

    def test_a_wrong_list_names_its_line_and_nothing_is_written(self):
        pdf = os.path.join(self.root, "list.pdf")
        for listing, says in ((b"Dairy:\nMilk\nFish:\nCod\n", "standard input, line 3: \"Fish\" is not a category"),
                              (b"Dairy:\nCr\xe8me\n", "standard input, line 2: this is not UTF-8 text")):
            run = self.run_with_list(listing, "--pdf", pdf)
            self.assertEqual(run.returncode, 1)
            self.assertIn(says, run.stderr.decode())
            self.assertFalse(os.path.exists(pdf))
            self.assertEqual(os.listdir(self.temp), [])
        run = self.run_program("--list", "-")
        self.assertEqual(run.returncode, 1)
        self.assertIn("--list needs --pdf or --xls", run.stderr)

    def test_a_file_size_limit_fails_with_its_own_message_and_leaves_no_part(self):
        # Under ulimit -f the kernel would end the program mid-write with SIGXFSZ.
        xls = os.path.join(self.root, "list.xls")
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (16 * 1024, resource.RLIM_INFINITY))
        run = subprocess.run([EXECUTABLE, "--xls", xls], env=self.env, capture_output=True, text=True, timeout=120,
                             preexec_fn=limit)
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn("File too large", run.stderr)
        self.assertFalse(os.path.exists(xls))
        left = [os.path.join(d, f) for d, _, files in os.walk(self.root) for f in files if ".part" in f]
        self.assertEqual(left, [])


    def test_targets_are_checked_first_and_all_or_none_is_written(self):
        # Each row: the arguments, what stderr says; nothing is written and what was there stays.
        ok, bad = os.path.join(self.root, "ok.xls"), os.path.join(self.root, "missing", "x.pdf")
        settings = os.path.join(self.config, "Quillmark.ini")
        linked = os.path.join(self.root, "lists.pdf")
        os.symlink(settings, linked)
        fifo = os.path.join(self.root, "pipe.xls")
        os.mkfifo(fifo)
        frozen = os.path.join(self.root, "frozen.xls")
        with open(frozen, "w") as f:
            f.write("mine")
        os.chmod(frozen, 0o444)
        rows = [
            (["--xls", ok, "--pdf", bad], "does not exist"),
            (["--xls", ok, "--pdf", ok], "cannot both be written to"),
            (["--pdf", settings], "it is the file the lists are kept in"),
            (["--pdf", linked], "it is the file the lists are kept in"),
            (["--pdf", ""], "--pdf needs a file name"),
            (["--xls", fifo], "it is a named pipe (FIFO), not a file"),
            (["--xls", frozen], "it is read-only"),
        ]
        if os.geteuid() == 0:
            device = os.path.join(self.root, "null.xls")
            os.mknod(device, stat.S_IFCHR | 0o666, os.makedev(1, 3))
            rows.append((["--xls", device], "it is a device, not a file"))
        with open(settings, "rb") as f:
            lists = f.read()
        for args, said in rows:
            with self.subTest(args=args):
                run = self.run_program(*args)
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertIn(said, run.stderr)
                self.assertFalse(os.path.exists(ok))
                with open(settings, "rb") as f:
                    self.assertEqual(f.read(), lists)
                with open(frozen) as f:
                    self.assertEqual(f.read(), "mine")
                self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))
                self.assertEqual(os.listdir(self.temp), [])
        self.assertEqual(sorted(n for n in os.listdir(self.root) if n.endswith(".part")), [])

    @unittest.skipUnless(os.geteuid() == 0, "needs root to give a link to another user")
    def test_another_users_link_in_a_shared_folder_is_not_followed(self):
        shared = os.path.join(self.root, "shared")
        os.makedirs(shared)
        os.chmod(shared, 0o1777)
        notes = os.path.join(self.root, "notes.txt")
        with open(notes, "w") as f:
            f.write("precious")
        planted = os.path.join(shared, "list.pdf")
        os.symlink(notes, planted)
        os.lchown(planted, 65534, 65534)
        run = self.run_program("--pdf", planted)
        self.assertEqual(run.returncode, 1)
        self.assertIn("%s is a link to %s that another user made in a shared folder" % (planted, notes), run.stderr)
        with open(notes) as f:
            self.assertEqual(f.read(), "precious")

    def test_minus_writes_to_standard_output(self):
        run = subprocess.run([EXECUTABLE, "--xls", "-"], env=self.env, capture_output=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        book = xlrd.open_workbook(file_contents=run.stdout)
        self.assertEqual(book.sheet_by_index(0).cell_value(2, 1), "Turkey")


if __name__ == "__main__":
    unittest.main(verbosity=2)
