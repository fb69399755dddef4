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
        for shown in ("rig cues - Assetto Corsa", "roll", "pitch", "engine speed"):
            self.assertIn(shown, svg)
        self.assertNotIn(">speed<", svg, "a constant channel gets no panel")

    def test_a_step_at_1_s_is_drawn_at_1_s_from_4_ms_ticks_or_a_version_1_file(self):
        v2 = {"tick": list(range(600)), "time_s": [0.3 + 0.004 * i for i in range(600)], "cue_1": [0.0] * 175 + [5.0] * 425}
        plots.write_recording(self.path("v2.csv"), "", dict(v2, slot_42=v2["cue_1"]), 2.0)
        with open(self.path("v1.csv"), "w") as f:
            f.write("# rezadedudid recording 1\ntick,cue_0,cue_1,cue_2,cue_3,cue_4,cue_5,slot_42\n" + "".join(
                "%d,0,%r,0,0,0,0,%r\n" % (i, x, x) for i, x in enumerate([0.0] * 500 + [5.0] * 100)))
        for name, rest in (("v2.csv", 2.0), ("v1.csv", None)):
            with self.subTest(name):
                fig = plots.recording_figure(*plots.read_recording(self.path(name)))
                self.addCleanup(plots.plt.close, fig)
                lines = fig.axes[0].get_lines()  # lateral, longitudinal, vertical, then the rest mark
                x, y = list(lines[1].get_xdata()), list(lines[1].get_ydata())
                self.assertAlmostEqual(x[y.index(5.0)], 1.0, places=9)
                self.assertEqual([l.get_xdata()[0] for l in lines[3:]], [rest] if rest else [], "one rest mark")
                self.assertIn("belt sum", [ax.get_title() for ax in fig.axes])

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
        for shown in ("channel 1 (longitudinal): EMALP(VALUE;25)", "input", "output"):
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
