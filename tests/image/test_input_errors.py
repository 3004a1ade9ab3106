#!/usr/bin/python3
"""Wrong build inputs stop the i686 build with a message that names the file at fault: an
edition that is no PE32 i386 program (named with its language), a missing certificate, key or
password file, a wrong icon image; and a certificate that disappears after configuring stops
the signing step."""
import concurrent.futures
import os
import shutil
import struct
import subprocess
import unittest

from image_support import (CMAKE, EDITIONS, FINISH_IMAGE, PYTHON, RELEASE_DIR, SOURCE_DIR,
                           TEST_X86_64_DIR, WORK_DIR, fresh_dir, payload_dir, release_image)

EDITION_NAMES = {"en": "English", "fr": "French", "it": "Italian", "de": "German",
                 "es": "Spanish"}
CODE_IDS = {code: payload_id for payload_id, code in EDITIONS.items()}


def patch_header(path, offset_from_pe, fmt, value):
    with open(path, "r+b") as f:
        f.seek(60)
        (lfanew,) = struct.unpack("<I", f.read(4))
        f.seek(lfanew + offset_from_pe)
        f.write(struct.pack(fmt, value))


class InputErrors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = fresh_dir(os.path.join(WORK_DIR, "input_errors"))
        cls.good = payload_dir(RELEASE_DIR)
        cls.x86_64_edition = os.path.join(TEST_X86_64_DIR, "sample_editions", "es.exe")
        for needed in (os.path.join(cls.good, "en.exe"), cls.x86_64_edition):
            if not os.path.isfile(needed):
                raise AssertionError("%s is missing: build the release and test-x86_64 presets"
                                     % needed)

    def editions(self, name, replace):
        """A copy of the good editions with REPLACE {code: callable(path) or None} applied."""
        directory = fresh_dir(os.path.join(self.work, name, "editions"))
        for code in EDITIONS.values():
            target = os.path.join(directory, code + ".exe")
            shutil.copyfile(os.path.join(self.good, code + ".exe"), target)
            if code in replace:
                os.remove(target)
                if replace[code] is not None:
                    replace[code](target)
        return directory

    def configure(self, name, options):
        build_dir = os.path.join(self.work, name, "build")
        shutil.rmtree(build_dir, ignore_errors=True)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("LAUNCHER_SIGN") and k != "LAUNCHER_TIMESTAMP_URL"}
        done = subprocess.run(
            [CMAKE, "-S", SOURCE_DIR, "-B", build_dir, "-G", "Ninja", "--toolchain",
             os.path.join(SOURCE_DIR, "cmake", "toolchain-i686-w64-mingw32.cmake"), *options],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return done.returncode, done.stdout.decode(errors="replace")

    def test_configure_errors(self):
        def text_file(path):
            with open(path, "w") as f:
                f.write("This is a read-me, not a program.\n" * 10)

        def x86_64_program(path):
            shutil.copyfile(self.x86_64_edition, path)

        def pe32_plus_magic(path):
            shutil.copyfile(os.path.join(self.good, "it.exe"), path)
            patch_header(path, 24, "<H", 0x20B)

        def dll(path):
            shutil.copyfile(os.path.join(self.good, "en.exe"), path)
            patch_header(path, 22, "<H", 0x2102)

        missing = os.path.join(self.work, "nowhere", "release.p12")
        some_file = os.path.join(self.work, "not-a-real.p12")
        with open(some_file, "wb") as f:
            f.write(b"\x30\x82")
        icons = fresh_dir(os.path.join(self.work, "icons"))
        for size in (16, 32, 48, 64, 128):
            source = "icon-16.png" if size == 32 else "icon-%d.png" % size
            shutil.copyfile(os.path.join(SOURCE_DIR, "image", "icon", source),
                            os.path.join(icons, "icon-%d.png" % size))

        edition_cases = {
            "text_file": ("de", text_file, "is not a Windows executable"),
            "x86_64_program": ("es", x86_64_program, "machine 0x8664, this build needs i386"),
            "pe32_plus_magic": ("it", pe32_plus_magic, "optional-header magic 0x020b"),
            "dll": ("en", dll, "is not an executable program"),
            "missing": ("fr", None, "does not exist"),
        }
        cases = {}
        for name, (code, make, message) in edition_cases.items():
            directory = self.editions(name, {code: make})
            path = os.path.join(directory, code + ".exe")
            cases[name] = (["-DLAUNCHER_PAYLOAD_DIR=" + directory],
                           ["%s edition (%s, resource %d): %s" % (
                               EDITION_NAMES[code], code, CODE_IDS[code], path), message])
        cases.update({
            "missing_pkcs12": (["-DLAUNCHER_SIGN_PKCS12=" + missing],
                               ["Signing certificate (LAUNCHER_SIGN_PKCS12): %s does not exist"
                                % missing]),
            "missing_password_file": (
                ["-DLAUNCHER_SIGN_PKCS12=" + some_file,
                 "-DLAUNCHER_SIGN_PASSWORD_FILE=" + missing + ".txt"],
                ["Signing password file (LAUNCHER_SIGN_PASSWORD_FILE): %s.txt does not exist"
                 % missing]),
            "missing_pem_key": (
                ["-DLAUNCHER_SIGN_CERT=" + some_file, "-DLAUNCHER_SIGN_KEY=" + missing + ".key"],
                ["Signing key (LAUNCHER_SIGN_KEY): %s.key does not exist" % missing]),
            "certificate_without_key": (
                ["-DLAUNCHER_SIGN_CERT=" + some_file],
                ["LAUNCHER_SIGN_CERT and LAUNCHER_SIGN_KEY go together"]),
            "icon_of_the_wrong_size": (
                ["-DLAUNCHER_ICON_DIR=" + icons],
                ["Icon image 32 x 32: %s is 16 x 16 pixels" % os.path.join(icons, "icon-32.png")]),
        })

        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            results = {name: pool.submit(self.configure, name, options)
                       for name, (options, _) in cases.items()}
        for name, (_, fragments) in cases.items():
            with self.subTest(case=name):
                status, output = results[name].result()
                self.assertNotEqual(status, 0, output)
                flat = " ".join(output.split())
                for fragment in fragments:
                    self.assertIn(fragment, flat)

    def test_missing_certificate_at_signing_time(self):
        image = os.path.join(self.work, "finish", "launcher.exe")
        fresh_dir(os.path.dirname(image))
        shutil.copyfile(release_image(), image)
        gone = os.path.join(self.work, "finish", "removed-cert.pem")
        done = subprocess.run(
            [PYTHON, FINISH_IMAGE, image, "--codepage", "1252", "--sign", "--cert", gone,
             "--key", gone + ".key"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        output = done.stdout.decode()
        self.assertEqual(done.returncode, 1, output)
        self.assertIn("Signing certificate: %s cannot be read" % gone, output)
        # Gone, so that the next build links and signs it again.
        self.assertFalse(os.path.exists(image))


if __name__ == "__main__":
    unittest.main()
