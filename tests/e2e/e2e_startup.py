"""The real program under Xvfb: it starts with its window centred, restores the stored lists,
closes on the window manager's request (or SIGTERM, SIGHUP) and stores them back; without a spreadsheet
server it shows the start-up message and leaves the settings file alone."""

import signal
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

    def test_lists_are_stored_on_sigterm_and_sighup(self):
        for sig in (signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                run = ProgramRun(EXECUTABLE, self.x)
                try:
                    run.write_settings({4: ";Tuna;;", 9: "Soap"})
                    proc = run.start()
                    self.x.wait_for_window("Pantrimo", MAIN_WINDOW_SIZE, proc=proc)
                    proc.send_signal(sig)
                    self.assertEqual(run.wait(), 0, run.output())
                    stored = run.stored_lists()
                    # Written back, not just left: the empty pieces are gone.
                    self.assertEqual(len(stored), 15)
                    self.assertEqual(stored["List4"], "Tuna")
                    self.assertEqual(stored["List9"], "Soap")
                finally:
                    run.cleanup()

    def test_the_main_window_opens_centred(self):
        run = ProgramRun(EXECUTABLE, self.x)
        try:
            proc = run.start()
            win = self.x.wait_for_window("Pantrimo", MAIN_WINDOW_SIZE, proc=proc)
            screen = self.x.display.screen()
            origin = win.translate_coords(screen.root, 0, 0)
            left, top = -origin.x, -origin.y
            want = ((screen.width_in_pixels - MAIN_WINDOW_SIZE[0]) // 2,
                    (screen.height_in_pixels - MAIN_WINDOW_SIZE[1]) // 2)
            self.assertLessEqual(abs(left - want[0]), 1, (left, top, want))
            self.assertLessEqual(abs(top - want[1]), 1, (left, top, want))
            self.x.ask_to_close(win)
            self.assertEqual(run.wait(), 0, run.output())
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
