"""The plots: a recording, a given filter response, and runs through the real library."""
import contextlib
import io
import math
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
try:
    import plots  # noqa: E402
except ImportError as missing:  # this Python has no matplotlib (Debian's python3 has)
    raise unittest.SkipTest("plots need matplotlib: %s" % missing)
import rezadedudid as rez  # noqa: E402


def run(argv):
    err = io.StringIO()
    with contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
        status = plots.main(argv)
    return status, err.getvalue()


def svg_text(prefix):
    with open(prefix + ".png", "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n", "not a PNG"
    with open(prefix + ".svg", encoding="utf-8") as f:
        return f.read()


class PlotTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def test_recording_plot_shows_rig_cues_and_moving_channels(self):
        n = 600
        columns = {"tick": [1000.0 + i for i in range(n)],
                   "rpm": [3000 + 1000 * math.sin(i / 50) for i in range(n)],
                   "speed": [20.0] * n,
                   "cue_4": [0.1 * math.sin(i / 30) for i in range(n)]}
        plots.write_recording(self.path("r.csv"), "Assetto Corsa", columns)
        status, err = run(["recording", self.path("r.csv"), "--out", self.path("out/rec")])
        self.assertEqual((status, err), (0, ""))
        svg = svg_text(self.path("out/rec"))
        for shown in ("rig cues - Assetto Corsa", "roll", "pitch", "rpm"):
            self.assertIn(shown, svg)
        self.assertNotIn(">speed<", svg, "a constant channel gets no panel")

    def test_bad_recording_says_what_is_wrong(self):
        cases = [
            ("tick,slot_0\n0,1\n1,x\n", "line 4: not a number"),
            ("tick,slot_0\n0,1\n", "no column cue_0"),
        ]
        for body, message in cases:
            with self.subTest(message=message):
                with open(self.path("bad.csv"), "w") as f:
                    f.write("# rezadedudid recording 1\n" + body)
                status, err = run(["recording", self.path("bad.csv"), "--out", self.path("bad")])
                self.assertEqual(status, 1)
                self.assertIn(message, err)
                self.assertFalse(os.path.exists(self.path("bad.png")))

    def test_response_plot_of_a_given_series(self):
        t = plots.times(1000)
        inputs = [0.0 if x < 1 else 1.0 for x in t]
        outputs, y = [], 0.0
        for x in inputs:
            y += (x - y) / 25
            outputs.append(y)
        plots.plot_responses("EMALP(VALUE;25)", 1, [("step on longitu_accel_g", t, inputs, outputs)],
                             self.path("step"))
        svg = svg_text(self.path("step"))
        for shown in ("channel 1: EMALP(VALUE;25)", "input", "output"):
            self.assertIn(shown, svg)


@unittest.skipUnless(os.path.exists(rez.default_library_path()), "library not built")
class FilterCommandTest(unittest.TestCase):
    def test_refused_filter_string_exits_2_before_running(self):
        for argv in (["filter", "GAIN(EMALP(VALUE;25)", "--out", "/nonexistent/x"],
                     ["filter", "VALUE", "--channel", "22", "--out", "/nonexistent/x"]):
            with self.subTest(argv=argv):
                status, err = run(argv)
                self.assertEqual(status, 2)
                self.assertTrue(err.startswith("plots.py: "), err)

    @unittest.skipUnless(os.path.exists(plots.default_sim_path()), "simulator not built")
    def test_step_response_of_a_low_pass(self):
        lib = rez.Library()
        inputs, outputs, _ = plots.run_engine(
            lib, 1, "EMALP(VALUE;25)",
            [plots.default_sim_path(), "--game", plots.DEFAULT_GAME, "--drive", "step", "--slot",
             "longitu_accel_g", "--seconds", "3"], 40)
        self.assertGreater(len(inputs), 500, "ticks at 500 Hz for 3 s")
        rise = next(i for i, x in enumerate(inputs) if x != inputs[0])
        # A low-pass lags its step, then settles on the new input.
        self.assertLess(abs(outputs[rise] - inputs[0]), abs(inputs[rise] - inputs[0]) / 2)
        self.assertAlmostEqual(outputs[-1], inputs[-1], delta=abs(inputs[-1] - inputs[0]) * 0.05)


if __name__ == "__main__":
    unittest.main()
