"""The real main program under Xvfb and Wine: the window appears with its title,
outer size 402 x 314, centred on the screen, with its controls; Esc closes it and
the process ends."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import guilib  # noqa: E402

MAIN_EXE = os.environ["CORVALEN_MAIN_EXE"]
PROBE = guilib.Probe(os.environ["CORVALEN_WINPROBE"])
SHOTS = os.environ.get("CORVALEN_SHOTS", "screenshots")


class MainWindowTest(unittest.TestCase):
    def test_window_geometry_controls_and_esc(self):
        proc, folder = guilib.start_program(MAIN_EXE)
        try:
            self.assertTrue(PROBE.wait(guilib.MAIN_TITLE, 60), "main window did not appear")
            left, top, right, bottom, sw, sh = PROBE.rect()
            self.assertEqual((right - left, bottom - top), (402, 314))
            self.assertEqual((left, top), ((sw - 402) // 2, (sh - 314) // 2))
            # The three buttons and the empty status label (ids 1002..1005).
            for cid, caption in ((1002, "刷新"), (1003, "使用"), (1004, "更新"), (1005, "")):
                self.assertEqual(PROBE.must("text", guilib.MAIN_TITLE, cid).strip("\n"), caption)
            guilib.screenshot(os.path.join(SHOTS, "main_window.png"))

            self.assertTrue(guilib.xdotool_key_to_window(guilib.MAIN_TITLE, "Escape"))
            if not guilib.wait_exit(proc, 15):
                # The X focus may not reach Wine without a window manager: type it from inside Wine.
                PROBE.must("key", guilib.MAIN_TITLE, "esc")
            self.assertTrue(guilib.wait_exit(proc, 30), "Esc did not end the program")
            self.assertEqual(proc.returncode, 0)
        finally:
            if proc.poll() is None:
                proc.kill()


if __name__ == "__main__":
    unittest.main()
