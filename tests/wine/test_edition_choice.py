"""Which edition the launcher runs for the user's locale, with no language in the registry."""

import os
import unittest

import winetest

TEMP = r"C:\temp-editions"
# Given to every launcher run: the launcher must neither read nor pass them on.
ARGUMENTS = ["/lang", "de", "two words", r"C:\x.txt"]

# Locale, the language code it gives, the edition that must run.
LOCALE_CASES = [
    ("de_DE.UTF-8", 7, "de"),
    ("fr_CA.UTF-8", 1036, "fr"),
    ("pt_PT.UTF-8", 9, "en"),
    ("en_US.UTF-8", 9, "en"),
    ("es_CR.UTF-8", 10, "es"),
    ("it_IT.UTF-8", 16, "it"),
]


def setUpModule():
    wine = winetest.session()
    wine.reg_delete("HKCU\\" + winetest.PRODUCT_KEY)
    wine.reg_delete("HKLM\\" + winetest.PRODUCT_KEY)
    wine.set_temp_dir(TEMP)


class EditionChoice(unittest.TestCase):
    def setUp(self):
        self.wine = winetest.session()

    def assert_chosen(self, run, code, size):
        trace = run.trace
        found = "Found the resource with the %d language." % code
        self.assertIn(found, trace, run.describe())
        at = trace.index(found)
        self.assertEqual(trace[at + 1:at + 4], [
            "Loaded the resource successfully.", "Got the resource data pointer.",
            "Size of data %d" % size], run.describe())
        self.assertFalse([t for t in trace if t.startswith("Got the language from")], trace)

    def test_locale_chooses_probe_edition(self):
        for locale, code, edition in LOCALE_CASES:
            with self.subTest(locale=locale):
                payload = self.wine.probe_edition(edition)
                run = self.wine.run(self.wine.launcher("launcher_probe"), ARGUMENTS,
                                    locale=locale)
                self.assertEqual(run.returncode, 0, run.describe())
                self.assert_chosen(run, code, os.path.getsize(payload))
                starts = run.starts()
                self.assertEqual([s["edition"] for s in starts], [edition], run.describe())
                self.assertEqual(starts[0]["hash"], winetest.file_hash(payload))
                # Only the quoted path of the staged file: no argument reaches the edition.
                self.assertEqual(starts[0]["command_line"], '"%s"' % starts[0]["module"])
                self.assertEqual(self.wine.listing(TEMP), [])

    def test_release_image_runs_sample_edition(self):
        for locale, code, edition in [LOCALE_CASES[0], LOCALE_CASES[2]]:
            with self.subTest(locale=locale):
                run = self.wine.run(self.wine.launcher("launcher"), ARGUMENTS, locale=locale)
                self.assertEqual(run.returncode, 0, run.describe())
                self.assert_chosen(run, code,
                                   os.path.getsize(self.wine.sample_edition(edition)))
                ran = [t for _, t in run.debug if t.startswith("Sample edition")]
                self.assertEqual(ran, ["Sample edition %s (%s) ran." %
                                       (edition, winetest.SAMPLE_NAMES[edition])],
                                 run.describe())
                self.assertEqual(self.wine.listing(TEMP), [])

    def test_missing_edition_ends_the_run(self):
        launcher = self.wine.launcher("launcher_without_de")
        run = self.wine.run(launcher, ARGUMENTS, locale="de_DE.UTF-8")
        self.assertEqual(run.returncode, 0, run.describe())
        # FindResourceA finds nothing, LoadResource fails, and no other edition is tried.
        self.assertEqual(run.trace, ["Hello.", "Got the program's handle."], run.describe())
        self.assertEqual([t for _, t in run.debug if t.startswith("Sample edition")], [])
        self.assertEqual(self.wine.listing(TEMP), [])

        # The same image runs its other editions: the end above is the missing German one's.
        run = self.wine.run(launcher, ARGUMENTS, locale="fr_CA.UTF-8")
        self.assertEqual(run.returncode, 0, run.describe())
        self.assertIn("Sample edition fr (French) ran.", [t for _, t in run.debug])


if __name__ == "__main__":
    winetest.main()
