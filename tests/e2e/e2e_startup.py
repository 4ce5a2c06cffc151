"""The real program under Xvfb: it starts with its window, restores the stored lists,
closes on the window manager's request and stores them back; without a spreadsheet
server it shows the start-up message and leaves the settings file alone."""

import sys
import unittest

from xsession import ProgramRun, XServer

EXECUTABLE = sys.argv.pop(1)
MAIN_WINDOW_SIZE = (888, 568)


class Startup(unittest.TestCase):
    def setUp(self):
        self.x = XServer()

    def tearDown(self):
        self.x.close()

    def test_lists_survive_a_close_by_the_window_manager(self):
        run = ProgramRun(EXECUTABLE, self.x)
        try:
            run.write_settings({0: "Turkey;Haddock", 4: ";Tuna;;", 14: "Paper Towels"})
            proc = run.start()
            win = self.x.wait_for_window("Pantrimo", MAIN_WINDOW_SIZE, proc=proc)
            self.x.ask_to_close(win)
            self.assertEqual(run.wait(), 0, run.output())
            stored = run.stored_lists()
            self.assertEqual(len(stored), 15)
            self.assertEqual(stored["List0"], "Turkey;Haddock")
            self.assertEqual(stored["List4"], "Tuna")
            self.assertEqual(stored["List14"], "Paper Towels")
            self.assertEqual(stored["List7"], "")
        finally:
            run.cleanup()

    def test_without_a_spreadsheet_server_the_message_ends_the_program(self):
        run = ProgramRun(EXECUTABLE, self.x, server="none")
        try:
            run.write_settings({2: "Milk"})
            with open(run.settings_file, "rb") as f:
                before = f.read()
            proc = run.start()
            box = self.x.wait_for_window("Pantrimo", proc=proc)
            self.assertEqual(self.x.windows("Pantrimo") and
                             [s for _, *s in self.x.windows("Pantrimo") if tuple(s) == MAIN_WINDOW_SIZE], [])
            self.x.ask_to_close(box)
            self.assertEqual(run.wait(), 0, run.output())
            with open(run.settings_file, "rb") as f:
                self.assertEqual(f.read(), before)
        finally:
            run.cleanup()


if __name__ == "__main__":
    unittest.main(verbosity=2)
