"""The tuning page in headless Chromium, served by the host as a rig owner starts it (--ui):
the cues move, an edited chain changes its cue live, a refused one says why, a saved profile holds the edits."""
import os
import shutil
import signal
import statistics
import subprocess
import tempfile
import threading
import unittest

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as missing:
    raise AssertionError("the page test needs python3-selenium (scripts/install-deps.sh): %s" % missing)

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HOST = os.environ.get("REZ_HOST_PATH", os.path.join(ROOT, "build", "linux", "rezadedudid-host"))
CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
SCREENSHOT = os.environ.get("REZ_UI_SCREENSHOT")  # where to leave a picture of the page (scripts/ui-screenshot.sh)
WAIT_S = 90  # generous: both cores may be busy with a build beside the test
GRAVITY = 9.80665

# The newest drawn tick of a live chart and the values of one series over its last seconds.
RECENT = """
const u = rezUi.charts[arguments[0]];
if (!u || !u.data[0].length) return null;
const t = u.data[0], y = u.data[arguments[1]], newest = t[t.length - 1], values = [];
for (let i = t.length - 1; i >= 0 && t[i] > newest - arguments[2]; i--) if (y[i] != null) values.push(y[i]);
return [newest, values];
"""


class Pipe(threading.Thread):
    """Keeps reading a pipe of the host so it never blocks on a full one."""

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream, self.lines = stream, []
        self.start()

    def run(self):
        for line in self.stream:
            self.lines.append(line.rstrip("\n"))


class TuningPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Not skipped when they are missing: scripts/install-deps.sh installs them, and a
        # skipped browser test would let a page nobody opened pass.
        if not (CHROMIUM and DRIVER):
            raise AssertionError("the page test needs chromium and chromium-driver (scripts/install-deps.sh)")
        if not os.access(HOST, os.X_OK):
            raise AssertionError("no host at %s: build the linux preset first" % HOST)
        if "--ui" not in subprocess.run([HOST, "--help"], capture_output=True, text=True, timeout=60).stdout:
            raise AssertionError("this host was built without --ui (scripts/install-deps.sh, then build again)")
        cls.dir = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.dir.cleanup)
        cls.host = subprocess.Popen([HOST, "--ui", "0", "--seconds", "0"], cwd=cls.dir.name,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        cls.addClassCleanup(cls.stop_host)
        cls.out, cls.err = Pipe(cls.host.stdout), Pipe(cls.host.stderr)
        prefix = "rezadedudid-host: tuning page at "
        url = WebDriverWait(cls, WAIT_S).until(
            lambda _: next((line[len(prefix):] for line in cls.out.lines if line.startswith(prefix)), None)
            or (cls.host.poll() is not None and "ended"),
            "the host printed no page address")
        if url == "ended":
            raise AssertionError("the host ended (%s): %s" % (cls.host.returncode, "\n".join(cls.err.lines)))
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1400,1000", "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync"):
            options.add_argument(arg)
        options.set_capability("goog:loggingPrefs", {"browser": "SEVERE"})
        cls.driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        cls.addClassCleanup(cls.driver.quit)
        if SCREENSHOT:
            cls.addClassCleanup(cls.screenshot)
        cls.driver.get(url)
        WebDriverWait(cls.driver, WAIT_S).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "input.filter")) == 23 + 10,
                                                "the page shows no chains")

    @classmethod
    def stop_host(cls):
        cls.host.send_signal(signal.SIGINT)
        try:
            code = cls.host.wait(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            cls.host.kill()
            code = "killed"
        if code != 0:
            raise AssertionError("the host did not stop cleanly on Ctrl-C (%s): %s" % (code, "\n".join(cls.err.lines)))

    @classmethod
    def screenshot(cls):
        height = cls.driver.execute_script("return document.documentElement.scrollHeight + outerHeight - innerHeight")
        cls.driver.set_window_size(1400, height)
        cls.driver.execute_async_script("requestAnimationFrame(() => requestAnimationFrame(arguments[0]))")
        cls.driver.save_screenshot(SCREENSHOT)

    def wait(self, condition, what):
        return WebDriverWait(self.driver, WAIT_S).until(lambda _: condition(), what)

    def newest_cues(self):  # [t, the six cues] of the newest drawn tick
        return self.driver.execute_script("const u = rezUi.charts.linear, a = rezUi.charts.angular;"
                                          "const n = u && u.data[0].length; if (!n) return null;"
                                          "return [u.data[0][n - 1]].concat(u.data.slice(1).map(s => s[n - 1]),"
                                          "a.data.slice(1).map(s => s[a.data[0].length - 1]));")

    def recent_median(self, chart, series, seconds):
        recent = self.driver.execute_script(RECENT, chart, series, seconds)
        return statistics.median(recent[1]) if recent and recent[1] else float("nan")

    def wait_cues_move(self, what):
        first = self.wait(self.newest_cues, "no cues drawn")
        self.wait(lambda: (now := self.newest_cues()) is not None and now[0] > first[0] and now[1:] != first[1:], what)

    def field(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def click(self, f):
        # In the middle of the window: at its top the status bar would take the click.
        self.driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", f)
        f.click()

    def enter(self, css, text):
        # Typed over the selection: clear() would leave the field (and so send it) empty first.
        f = self.field(css)
        f.send_keys(Keys.CONTROL, "a")  # the modifier is let go at the end of each call
        f.send_keys(str(text), Keys.ENTER if "filter" in css else Keys.TAB)
        return f

    def wait_marked(self, f, kind):
        self.wait(lambda: kind in f.get_attribute("class").split(), "%s not marked %s" % (f.get_attribute("value"), kind))

    def test_cue_traces_move_and_the_page_logs_no_error(self):
        self.wait_cues_move("the cue traces do not move")
        self.assertEqual([e["message"] for e in self.driver.get_log("browser")], [])

    def test_a_larger_gain_scales_its_cue(self):
        # The vertical channel's input carries gravity: its cue settles at gain × g.
        for gain in (0.2, 0.5):
            self.wait_marked(self.enter('input.filter[data-profile=air][data-channel="2"]', "GAIN(VALUE;%g)" % gain),
                             "applied")
            self.wait(lambda: abs(self.recent_median("linear", 3, 1.0) - gain * GRAVITY) < 0.05 * gain * GRAVITY,
                      "the vertical cue does not settle at %g × g" % gain)
        step_end = "const u = rezUi.response.charts.step; return u && u.data[2][u.data[2].length - 1];"
        self.wait(lambda: abs((self.driver.execute_script(step_end) or 0) - 0.5) < 1e-3,
                  "the step response of GAIN(VALUE;0.5) does not end at 0.5")

    def test_a_refused_filter_is_shown_beside_it_and_the_rig_keeps_moving(self):
        f = self.enter('input.filter[data-profile=air][data-channel="0"]', "GAIN(VALUE;")
        self.wait_marked(f, "refused")
        note = f.find_element(By.XPATH, "following-sibling::div[contains(@class, 'note')]")
        self.assertIn("refuses", note.text)
        self.wait_cues_move("the cues stopped after a refused filter")

    def test_a_saved_profile_holds_the_edits(self):
        edits = [  # (the fields and what to enter, the saved line: its first words, then its values)
            ([('input.filter[data-profile=ground][data-channel="3"]', "GAIN(VALUE;0.7)")],
             ["filter", "ground", "3"], ["GAIN(VALUE;0.7)"]),
            ([('#belt input[data-index="2"]', 0.5)], ["belt-mix", "air", "2"], [0.5]),
            ([('#input-limits input[data-index="3"][data-bound=min]', -150),
              ('#input-limits input[data-index="3"][data-bound=max]', 150)], ["input-limit", "3"], [-150, 150]),
            ([('#rig-limits input[data-index="5"][data-bound=min]', -10),
              ('#rig-limits input[data-index="5"][data-bound=max]', 10)], ["rig-limit", "5"], [-10, 10]),
            ([], ["enable", "air", "5"], ["off"]),
        ]
        for fields, _, _ in edits:
            for css, value in fields:
                self.wait_marked(self.enter(css, value), "applied")
        box = self.field('input.enable[data-profile=air][data-channel="5"]')
        self.assertTrue(box.is_selected(), "the car profile has air 5 on")
        self.click(box)
        self.wait_marked(box, "applied")

        path = os.path.join(self.dir.name, "saved.profile")
        self.enter("#save-path", path)
        self.click(self.field("#save"))
        self.wait(lambda: self.field("#save-note").text == "saved to " + path, "no profile saved to " + path)
        with open(path, encoding="utf-8") as f:
            lines = [line.split("#")[0].split(None, 3 if line.startswith("filter") else -1) for line in f]
        for _, key, values in edits:
            found = [line[len(key):] for line in lines if line[:len(key)] == key]
            self.assertEqual(len(found), 1, "%s in %s" % (key, lines))
            got = [float(v) if isinstance(w, (int, float)) else {"0": "off", "1": "on"}.get(v.strip(), v.strip())
                   for v, w in zip(found[0], values)]
            self.assertEqual(got, values, key)

if __name__ == "__main__":
    unittest.main()
