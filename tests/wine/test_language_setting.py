"""The product's "Language" setting in the real registry, under HKCU and HKLM, against the locale.

In every case the registry values and the locale point at different editions, so the edition
that ran shows which source decided."""

import os
import unittest

import winetest

KEY = winetest.PRODUCT_KEY
NO_KEY = None
KEY_ONLY = "key without the value"

# .reg data of the value "Language".
DWORD_7, DWORD_10, DWORD_16 = "dword:00000007", "dword:0000000a", "dword:00000010"
QWORD_7 = "hex(b):07,00,00,00,00,00,00,00"
QWORD_10 = "hex(b):0a,00,00,00,00,00,00,00"

CASES = [
    # name, under HKCU, under HKLM, locale, code read, edition, "Got the language from ..."
    ("HKCU wins over HKLM", DWORD_7, DWORD_10, "fr_CA", 7, "de", "Current User"),
    ("HKLM only", NO_KEY, "dword:0000040c", "de_DE", 1036, "fr", "Current User"),
    ("HKCU key without the value", KEY_ONLY, DWORD_16, "de_DE", 16, "it", "Current User"),
    ("HKCU and HKLM keys without the value", KEY_ONLY, KEY_ONLY, "es_CR", 10, "es", None),
    ("binary 0A", "hex:0a", NO_KEY, "de_DE", 10, "es", "Current User"),
    ("binary 0C 04", "hex:0c,04", DWORD_7, "de_DE", 1036, "fr", "Current User"),
    ("empty value", "hex:", DWORD_7, "de_DE", 0, "en", "Current User"),
    ("text is not parsed", '"7"', DWORD_10, "de_DE", 0x37, "en", "Current User"),
    ("LANGID of German as a code", "dword:00000407", DWORD_10, "de_DE", 1031, "en",
     "Current User"),
    ("12 is no language code", "dword:0000000c", NO_KEY, "de_DE", 12, "en", "Current User"),
    ("QWORD under HKCU", QWORD_7, DWORD_10, "fr_CA", 10, "es", "Current User"),
    ("QWORD under HKLM", DWORD_16, QWORD_7, "fr_CA", 16, "it", "Current User"),
    ("QWORD under both", QWORD_7, QWORD_10, "fr_CA", 1036, "fr", None),
]


def reg_text(root, value):
    text = "[-%s\\%s]\n" % (root, KEY)
    if value is not NO_KEY:
        text += "[%s\\%s]\n" % (root, KEY)
        if value is not KEY_ONLY:
            text += '"Language"=%s\n' % value
    return text + "\n"


class LanguageSetting(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = winetest.session()
        cls.wine.set_temp_dir(r"C:\temp-language")
        cls.launcher = cls.wine.launcher("launcher_probe")

    def check_run(self, locale, code, edition, source):
        run = self.wine.run(self.launcher, locale=locale + ".UTF-8")
        self.assertEqual(run.returncode, 0, run.describe())
        trace = run.trace
        sources = [t for t in trace if t.startswith("Got the language from")]
        self.assertEqual(sources, ["Got the language from %s." % source] if source else [],
                         run.describe())
        self.assertIn("Found the resource with the %d language." % code, trace, run.describe())
        self.assertIn("Size of data %d" % os.path.getsize(self.wine.probe_edition(edition)),
                      trace)
        self.assertEqual([s["edition"] for s in run.starts()], [edition], run.describe())

    def test_registry_cases(self):
        for name, hkcu, hklm, locale, code, edition, source in CASES:
            with self.subTest(name):
                self.wine.reg_import(reg_text("HKEY_CURRENT_USER", hkcu) +
                                     reg_text("HKEY_LOCAL_MACHINE", hklm))
                self.check_run(locale, code, edition, source)

    def test_only_the_launchers_own_registry_view_counts(self):
        # A 32-bit launcher reads the 32-bit view of HKLM\Software, a 64-bit one the 64-bit
        # view; a value written only to the other view is not found.
        own, other = (32, 64) if self.wine.arch == "i686" else (64, 32)
        self.wine.reg_delete("HKCU\\" + KEY)
        for view, locale, code, edition, source in [
                (other, "fr_CA", 1036, "fr", None),
                (own, "fr_CA", 7, "de", "Current User")]:
            with self.subTest(view=view):
                for v in (32, 64):
                    self.wine.reg_delete("HKLM\\" + KEY, view=v)
                self.wine.reg_add("HKLM\\" + KEY, "Language", "REG_DWORD", "7", view=view)
                self.check_run(locale, code, edition, source)


if __name__ == "__main__":
    winetest.main()
