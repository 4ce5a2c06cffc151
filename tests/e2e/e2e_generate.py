"""The whole path through the real program under Xvfb: load the sample list, generate,
zoom, save through the real dialog, go back, generate again, close the preview.
The saved workbook must open in LibreOffice, the temporary workbooks must be gone and
the lists stored."""

import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from xsession import ProgramRun, XServer, run_files, wait_until

EXECUTABLE = sys.argv.pop(1)
MAIN = (888, 568)
PREVIEW = (656, 661)

# Button centres in pixels inside their windows (the windows' twips / 15).
LOAD_SAMPLE = (664, 55)
START = (444, 21)
ZOOM_IN = (172, 557)
SAVE = (488, 603)
BACK = (164, 603)


class Generate(unittest.TestCase):
    def setUp(self):
        self.x = XServer()
        self.run = ProgramRun(EXECUTABLE, self.x)

    def tearDown(self):
        self.run.cleanup()
        self.x.close()

    def preview_window(self, proc):
        return self.x.wait_for_window("Pantrimo", PREVIEW, proc=proc)

    def test_a_killed_programs_run_files_go_when_the_next_one_starts(self):
        proc = self.run.start()
        main = self.x.wait_for_window("Pantrimo", MAIN, proc=proc)
        self.x.click(main, *LOAD_SAMPLE)
        self.x.click(main, *START)
        self.preview_window(proc)
        self.assertTrue(wait_until(lambda: len(run_files(self.run.temp, "wendle*.xls")) == 1))
        proc.kill()
        proc.wait()
        self.assertEqual(len(os.listdir(self.run.temp)), 1, "the killed program's run folder is gone already")

        proc = self.run.start()
        main = self.x.wait_for_window("Pantrimo", MAIN, proc=proc)
        self.assertEqual(os.listdir(self.run.temp), [])
        self.x.ask_to_close(main)
        self.assertEqual(self.run.wait(), 0, self.run.output())

    def test_generate_zoom_save_back_generate_close(self):
        proc = self.run.start()
        main = self.x.wait_for_window("Pantrimo", MAIN, proc=proc)
        self.x.click(main, *LOAD_SAMPLE)
        self.x.click(main, *START)
        preview = self.preview_window(proc)
        self.assertTrue(wait_until(lambda: not self.x.is_mapped(main)), "the main window did not hide")
        # The run ends by removing temp.bmp: the temporary workbook, in the run's own folder,
        # is then all that is left.
        self.assertTrue(wait_until(lambda: len(run_files(self.run.temp)) == 1), run_files(self.run.temp))
        self.assertEqual(len(run_files(self.run.temp, "wendle*.xls")), 1)
        self.assertEqual(len(os.listdir(self.run.temp)), 1)

        self.x.click(preview, *ZOOM_IN)

        saved = os.path.join(self.run.root, "saved_list.xls")
        self.x.click(preview, *SAVE)
        dialog = self.x.wait_for_window("Save File", proc=proc)
        self.x.wait_for_focus(dialog, proc=proc)
        self.x.type_text(saved + "\n")
        self.assertTrue(wait_until(lambda: os.path.exists(saved)), "the workbook was not saved")
        done = lambda: [w for w, *size in self.x.windows("Pantrimo") if tuple(size) not in (MAIN, PREVIEW)]
        self.assertTrue(wait_until(done), '"Done." was not shown')
        self.x.wait_for_focus(done()[0], proc=proc)
        self.x.type_text("\n")  # OK on "Done."
        self.assertTrue(wait_until(lambda: not [w for w, *size in self.x.windows("Pantrimo")
                                                 if tuple(size) not in (MAIN, PREVIEW)]))

        self.x.click(preview, *BACK)
        self.assertTrue(wait_until(lambda: self.x.is_mapped(main)), "the main window did not come back")
        self.assertTrue(wait_until(lambda: not os.listdir(self.run.temp)), os.listdir(self.run.temp))

        self.x.click(main, *START)
        self.assertTrue(wait_until(lambda: self.x.is_mapped(preview) and not self.x.is_mapped(main)))
        second = run_files(self.run.temp, "wendle*.xls")
        self.assertEqual(len(second), 1)

        self.x.ask_to_close(preview)
        self.assertEqual(self.run.wait(), 0, self.run.output())
        self.assertEqual(os.listdir(self.run.temp), [])
        stored = self.run.stored_lists()
        self.assertEqual(stored["List14"], "Paper Towels;Tissues;Toilet Paper;Garbage Bags")
        self.assertEqual(stored["List2"], "Milk")
        self.assertEqual(stored["List8"], "")

        soffice = shutil.which("soffice")
        if not soffice:
            self.skipTest("LibreOffice is not installed: the saved workbook was not opened in it")
        work = tempfile.mkdtemp(prefix="pantrimo-lo-")
        try:
            subprocess.run([soffice, f"-env:UserInstallation=file://{work}/profile", "--headless",
                            "--convert-to", "csv", "--outdir", work, saved],
                           check=True, capture_output=True, timeout=180)
            with open(os.path.join(work, "saved_list.csv"), newline="", encoding="utf-8") as f:
                rows = list(csv.reader(f))
            self.assertEqual(rows[2][0:2], ["1", "Turkey"])
            self.assertEqual(rows[3][0:2], ["2", "Haddock"])
            self.assertEqual(rows[49][4:6], ["4", "Garbage Bags"])
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
