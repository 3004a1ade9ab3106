#!/usr/bin/python3
"""The release image and the editions it carries are signed (Authenticode, SHA-256) so that
any changed byte shows, and the release check tells a good file from a bad one."""
import os
import re
import shutil
import struct
import subprocess
import unittest

import pefile

from image_support import (EDITIONS, PYTHON, RELEASE_CHECK, RELEASE_DIR, RT_ICON, WORK_DIR,
                           fresh_dir, osslsigncode_verify, payload_dir, release_image,
                           resource_file_offset, verify_ca_options)


def release_check(path, *options):
    done = subprocess.run([PYTHON, RELEASE_CHECK, *options, path],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return done.returncode, done.stdout.decode(errors="replace")


class ReleaseSignature(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = release_image()
        cls.ca = verify_ca_options(RELEASE_DIR)
        cls.work = fresh_dir(os.path.join(WORK_DIR, "signature"))

    def copy(self, name):
        target = os.path.join(self.work, name)
        shutil.copyfile(self.path, target)
        return target

    def test_verifies_with_a_sha256_digest(self):
        status, output = osslsigncode_verify(self.path, *self.ca)
        self.assertEqual(status, 0, output)
        self.assertIn("Signature verification: ok", output)
        digests = re.findall(r"^Message digest algorithm\s+:\s*(\S+)", output, re.M)
        self.assertEqual(digests[0], "SHA256", output)

    def test_one_pkcs_signed_data_entry_at_the_end(self):
        with open(self.path, "rb") as f:
            data = f.read()
        security = pefile.PE(data=data, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[4]
        self.assertEqual(security.VirtualAddress + security.Size, len(data))
        length, revision, kind = struct.unpack_from("<IHH", data, security.VirtualAddress)
        self.assertEqual((revision, kind), (0x0200, 2))
        self.assertLessEqual(length, security.Size)
        self.assertGreater(length, security.Size - 8)

    def test_carried_editions_are_signed(self):
        if payload_dir(RELEASE_DIR) != os.path.join(RELEASE_DIR, "sample_editions"):
            self.skipTest("the release build carries editions signed by their makers")
        for code in EDITIONS.values():
            with self.subTest(edition=code):
                status, output = osslsigncode_verify(
                    os.path.join(RELEASE_DIR, "sample_editions", code + ".exe"), *self.ca)
                self.assertEqual(status, 0, output)

    def test_a_changed_byte_fails_verification(self):
        pe = pefile.PE(self.path)
        cases = {
            "payload 133": resource_file_offset(pe, "BINARYDATA", 133),
            "payload 129, last byte": resource_file_offset(pe, "BINARYDATA", 129),
            "icon image 5": resource_file_offset(pe, RT_ICON, 5),
            "code": (pe.sections[0].PointerToRawData, pe.sections[0].SizeOfRawData),
        }
        pe.close()
        for case, (offset, size) in cases.items():
            with self.subTest(case=case):
                target = self.copy("tampered.exe")
                where = offset + size - 1 if "last byte" in case else offset + size // 2
                with open(target, "r+b") as f:
                    f.seek(where)
                    byte = f.read(1)
                    f.seek(where)
                    f.write(bytes([byte[0] ^ 0x01]))
                status, output = osslsigncode_verify(target, *self.ca)
                self.assertNotEqual(status, 0, output)
                self.assertIn("MISMATCH", output)
                status, output = release_check(target, "--allow-no-timestamp",
                                               *(["--ca-file", self.ca[1]] if self.ca else []))
                self.assertEqual(status, 1, output)
                self.assertRegex(output, r"FAIL .*signature verifies")

    def test_release_check(self):
        ca = ["--ca-file", self.ca[1]] if self.ca else []
        editions = ["--editions", payload_dir(RELEASE_DIR)]
        status, output = release_check(self.path, "--allow-no-timestamp", *ca, *editions)
        self.assertEqual(status, 0, output)
        stamped = "Timestamp time:" in osslsigncode_verify(self.path, *self.ca)[1]
        for row in (r'"BINARYDATA"\s+133\s+1033\s+1252\s+%d\b'
                    % os.path.getsize(os.path.join(payload_dir(RELEASE_DIR), "de.exe")),
                    r"RT_ICON\s+5\s+1033\s+1252\s+51240\b",
                    r"RT_GROUP_ICON\s+108\s+1033\s+1252\s+76\b",
                    r"RT_MANIFEST\s+1\s+1033\s+1252\s+353\b",
                    r"requested execution level: HighestAvailable",
                    r"digest SHA256", r"signer: /CN=",
                    r"time-stamp: \w+ +\d+ [\d:]+ \d{4}" if stamped else r"time-stamp: none"):
            self.assertRegex(output, row)
        self.assertNotIn("FAIL", output)

        # A release needs a time-stamp.
        status, output = release_check(self.path, *ca)
        if stamped:
            self.assertEqual(status, 0, output)
        else:
            self.assertEqual(status, 1, output)
            self.assertRegex(output, r"FAIL signature 0 carries a time-stamp")

        # An edition directory that does not match the payloads.
        other = fresh_dir(os.path.join(self.work, "other_editions"))
        for code in EDITIONS.values():
            shutil.copyfile(os.path.join(payload_dir(RELEASE_DIR), code + ".exe"),
                            os.path.join(other, code + ".exe"))
        os.replace(os.path.join(other, "de.exe"), os.path.join(other, "es.exe"))
        shutil.copyfile(os.path.join(payload_dir(RELEASE_DIR), "en.exe"),
                        os.path.join(other, "de.exe"))
        status, output = release_check(self.path, "--allow-no-timestamp", *ca,
                                       "--editions", other)
        self.assertEqual(status, 1, output)
        self.assertRegex(output, r"FAIL payload 133 \(de")
        self.assertRegex(output, r"FAIL payload 134 \(es")

    def test_release_check_rejects_an_unsigned_file(self):
        target = os.path.join(self.work, "unsigned.exe")
        if os.path.exists(target):
            os.remove(target)
        done = subprocess.run(["osslsigncode", "remove-signature", "-in", self.path,
                               "-out", target], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(done.returncode, 0, done.stdout)
        status, output = release_check(target, "--allow-no-timestamp")
        self.assertEqual(status, 1, output)
        self.assertIn("FAIL an attribute-certificate table (the file is not signed)", output)


if __name__ == "__main__":
    unittest.main()
