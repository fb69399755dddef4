"""The binding against the header, and a few real calls on the built library."""
import ctypes
import os
import re
import sys
import unittest
from ctypes import POINTER, c_bool, c_char, c_char_p, c_double, c_int, c_ubyte, c_uint, c_uint8, c_void_p, c_wchar_p

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.dirname(HERE))
import rezadedudid as rez  # noqa: E402

HEADER = os.path.join(ROOT, "include", "rezadedudid.h")

# How each C type of the header is declared in ctypes.
C_TYPES = {
    "void": None, "bool": c_bool, "int": c_int, "unsigned": c_uint, "double": c_double,
    "char*": POINTER(c_char), "const char*": c_char_p, "const char**": POINTER(c_char_p),
    "int*": POINTER(c_int), "double**": POINTER(POINTER(c_double)), "const double*": POINTER(c_double),
    "uint8_t*": POINTER(c_uint8), "unsigned char*": POINTER(c_ubyte), "const unsigned char*": POINTER(c_ubyte),
    "const wchar_t*": c_wchar_p, "const void*": c_void_p,
    "const CalculationSnapshot*": POINTER(rez.CalculationSnapshot),
    "const AccelerationSnapshot*": POINTER(rez.AccelerationSnapshot),
}


def header_text():
    with open(HEADER, encoding="utf-8") as f:
        text = f.read()
    return re.sub(r"/\*.*?\*/", " ", text, flags=re.S)


def c_type(decl, named=True):
    """'const char* text' -> 'const char*'; 'unsigned port' -> 'unsigned'; named=False for results."""
    tokens = re.findall(r"\w+|\*", decl)
    if named:
        tokens = tokens[:-1]
    words = " ".join(t for t in tokens if t != "*")
    return words + "*" * tokens.count("*")


def header_exports():
    exports = {}
    for m in re.finditer(r"^REZ_API\s+([^;(]*?)\b(\w+)\s*\(([^)]*)\)\s*;", header_text(), flags=re.M):
        result, name, params = c_type(m.group(1), named=False), m.group(2), m.group(3).strip()
        args = [] if params in ("", "void") else [c_type(p) for p in params.split(",")]
        exports[name] = (result, args)
    return exports


class SignatureTest(unittest.TestCase):
    def test_every_header_export_is_bound_with_its_types(self):
        declared = header_exports()
        self.assertGreater(len(declared), 40, "header parse found too few exports")
        self.assertEqual(set(declared) - set(rez.EXPORTS), set(), "exports the binding lacks")
        self.assertEqual(set(rez.EXPORTS) - set(declared), set(), "bound names the header does not declare")
        for name, (result, args) in declared.items():
            with self.subTest(export=name):
                for t in [result] + args:
                    self.assertIn(t, C_TYPES, "no ctypes mapping for C type %r" % t)
                restype, argtypes, doc = rez.EXPORTS[name]
                self.assertIs(restype, C_TYPES[result])
                self.assertEqual(argtypes, [C_TYPES[a] for a in args])
                self.assertTrue(doc.strip())

    def test_snapshot_structs_have_the_header_sizes(self):
        for struct, binding in (("CalculationSnapshot", rez.CalculationSnapshot),
                                ("AccelerationSnapshot", rez.AccelerationSnapshot)):
            m = re.search(r"typedef struct %s\s*\{\s*double values\[(\d+)\];\s*\}" % struct, header_text())
            self.assertIsNotNone(m, struct)
            self.assertEqual(ctypes.sizeof(binding), 8 * int(m.group(1)), struct)


@unittest.skipUnless(os.path.exists(rez.default_library_path()), "library not built")
class LibraryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = rez.Library()

    def test_game_information_before_any_game(self):
        lib = self.lib
        self.assertEqual(lib.getGameDataCount(), 44)
        self.assertEqual(lib.getGameID(), -1)
        self.assertEqual(lib.game_name(), "No Game online")
        self.assertEqual(len(lib.game_data()), 43)
        self.assertEqual(lib.game_data_names(), rez.SLOT_NAMES[1:42])
        self.assertIsNone(lib.motion_cues(4))
        self.assertEqual(len(lib.motion_cues(2)), 23)

    def test_filter_strings_accepted_and_refused(self):
        cases = [
            (0, 0, "GAIN(EMALP(VALUE;25);1.5)", True),
            (1, 22, " VALUE ", True),
            (0, 0, "GAIN(EMALP(VALUE;25)", False),
            (0, 0, "EMALP(VALUE;0.5)", False),
            (0, 0, None, False),
            (2, 0, "VALUE", False),
            (0, 23, "VALUE", False),
        ]
        for profile, channel, text, accepted in cases:
            with self.subTest(text=text, profile=profile, channel=channel):
                self.assertIs(self.lib.set_filter(profile, channel, text), accepted)

    def test_thread_start_stop_and_empty_histories(self):
        lib = self.lib
        lib.stopGamesource_Thread()  # whatever ran before: now stopped
        self.assertIs(lib.stopGamesource_Thread(), True)
        count = ctypes.c_int(-1)
        self.assertFalse(lib.GetCalculationSnapshots(ctypes.byref(count)))
        self.assertEqual(count.value, 0)
        self.assertEqual(lib.acceleration_snapshots(), [])
        lib.startGamesource_Thread()
        try:
            self.assertEqual(lib.game_name(), "No Game online")
        finally:
            self.assertIs(lib.stopGamesource_Thread(), False)
        self.assertIs(lib.stopGamesource_Thread(), True)
        # No game was online, so no tick ran and nothing was recorded.
        self.assertEqual(lib.calculation_snapshots(), [])


if __name__ == "__main__":
    unittest.main()
