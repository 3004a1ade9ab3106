#!/usr/bin/python3
"""Under 64-bit Wine, the x86_64 test launcher stages the French sample edition, which copies
its own running file aside: the copy equals the edition file byte for byte, appended data and
signature included, and its signature still verifies."""
import filecmp
import os
import subprocess
import unittest

from image_support import (TEST_X86_64_DIR, WORK_DIR, fresh_dir, osslsigncode_verify,
                           payload_dir, verify_ca_options)

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


class StagedCopy(unittest.TestCase):
    def test_staged_edition_is_the_signed_edition_file(self):
        launcher = os.path.join(TEST_X86_64_DIR, "launcher.exe")
        edition = os.path.join(payload_dir(TEST_X86_64_DIR), "fr.exe")
        for needed in (launcher, edition):
            if not os.path.isfile(needed):
                raise AssertionError("%s is missing: build the test-x86_64 preset first" % needed)
        prefix = fresh_dir(os.path.join(WORK_DIR, "wine", "prefix"))
        env = dict(os.environ, WINEPREFIX=prefix, WINELOADER=WINE, WINEDEBUG="-all,+debugstr",
                   WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="fr_FR.UTF-8",
                   SAMPLE_EDITION_COPY_TO="C:\\staged-copy.exe")
        copy = os.path.join(prefix, "drive_c", "staged-copy.exe")
        try:
            subprocess.run([WINE, "wineboot", "-i"], env=env, timeout=120, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            run = subprocess.run([WINE, launcher], env=env, timeout=60, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
        finally:
            subprocess.run([WINESERVER, "-k"], env=env, timeout=30, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        trace = run.stderr.decode(errors="replace")
        self.assertEqual(run.returncode, 0, trace)
        self.assertIn("Sample edition fr (French) ran.", trace)
        self.assertIn("Sample edition fr copied its own file.", trace)
        self.assertTrue(os.path.isfile(copy), trace)
        self.assertEqual(os.path.getsize(copy), os.path.getsize(edition))
        self.assertTrue(filecmp.cmp(copy, edition, shallow=False), "staged copy differs")
        status, output = osslsigncode_verify(copy, *verify_ca_options(TEST_X86_64_DIR))
        self.assertEqual(status, 0, output)
        self.assertIn("Signature verification: ok", output)


if __name__ == "__main__":
    unittest.main()
