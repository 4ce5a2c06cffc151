"""The real program under Xvfb, once with the built-in server and once with
PANTRIMO_EXCEL=libreoffice: load the sample list, generate, close the preview. Both runs
must leave a workbook with the same cells, and no office process may outlive the program.

usage: e2e_libreoffice.py PROGRAM   (exit 77 when LibreOffice is not installed)"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from xsession import ProgramRun, XServer, run_files

EXECUTABLE = sys.argv.pop(1)
COMPARE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "compare_books.py")
MAIN = (888, 568)
PREVIEW = (656, 661)
LOAD_SAMPLE = (664, 55)
START = (444, 21)


def wait_until(condition, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


def offices_of(pid):
    """Processes whose command line names a pipe of the program with that process id."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                if f"pantrimo_lo_{pid}_".encode() in f.read():
                    found.append(int(entry))
        except OSError:
            pass
    return found


class GenerateWithLibreOffice(unittest.TestCase):
    def generate(self, server, keep, cache):
        x = XServer()
        # The office's kept profile goes to a cache folder of the test's, never the user's.
        run = ProgramRun(EXECUTABLE, x, server=server, extra_env={"XDG_CACHE_HOME": cache})
        try:
            proc = run.start()
            main = x.wait_for_window("Pantrimo", MAIN, timeout=180, proc=proc)
            x.click(main, *LOAD_SAMPLE)
            time.sleep(0.3)
            x.click(main, *START)
            preview = x.wait_for_window("Pantrimo", PREVIEW, timeout=300, proc=proc)
            self.assertTrue(wait_until(lambda: len(run_files(run.temp)) == 1, 120), run_files(run.temp))
            books = run_files(run.temp, "wendle*.xls")
            self.assertEqual(len(books), 1)
            shutil.copy(books[0], keep)
            x.ask_to_close(preview)
            self.assertEqual(run.wait(120), 0, run.output())
            self.assertTrue(wait_until(lambda: not offices_of(proc.pid), 30), offices_of(proc.pid))
        finally:
            run.cleanup()
            x.close()

    def test_same_workbook_as_the_builtin_server(self):
        work = tempfile.mkdtemp(prefix="pantrimo-e2e-")
        try:
            builtin = os.path.join(work, "builtin.xls")
            office = os.path.join(work, "libreoffice.xls")
            cache = os.path.join(work, "cache")
            self.generate("builtin", builtin, cache)
            self.generate("libreoffice", office, cache)
            compared = subprocess.run(["/usr/bin/python3", COMPARE, builtin, office], capture_output=True, text=True)
            self.assertEqual(compared.returncode, 0, compared.stdout)
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if not shutil.which("soffice"):
        print("LibreOffice is not installed: the program was not run with it")
        sys.exit(77)
    unittest.main(verbosity=2)
