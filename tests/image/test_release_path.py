#!/usr/bin/python3
"""The release engineer's path: two clean i686 builds from the same editions, icon and manifest,
one signed from a PKCS#12 file and a password file, the other from a PEM certificate and an
encrypted PEM key with a nested SHA-1 signature, both time-stamped by a local RFC 3161 service.
Both verify, pass the release check, and give the same bytes outside the certificate table and
the header checksum."""
import os
import shutil
import subprocess
import sys
import unittest

import pefile

from image_support import (CMAKE, EDITIONS, PYTHON, RELEASE_CHECK, RELEASE_DIR, SOURCE_DIR,
                           WORK_DIR, fresh_dir, osslsigncode_verify, payload_dir)

HERE = os.path.dirname(os.path.abspath(__file__))
PASSWORD = "orchard vale 12"


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_release_certificate(directory):
    """A CA and a code-signing certificate that it issued, as a release engineer gets them."""
    ca_key, ca_cert = os.path.join(directory, "ca-key.pem"), os.path.join(directory, "ca.pem")
    key, csr = os.path.join(directory, "signer-key.pem"), os.path.join(directory, "signer.csr")
    cert = os.path.join(directory, "signer-cert.pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_cert,
            "-days", "30", "-subj", "/CN=Orchardvale Test Root CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
            "-subj", "/CN=Velmora Release Signing/O=Velmora")
    extensions = os.path.join(directory, "signer.ext")
    with open(extensions, "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=critical,codeSigning\n")
    openssl("x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial",
            "-out", cert, "-days", "30", "-extfile", extensions)
    password_file = os.path.join(directory, "password.txt")
    with open(password_file, "w") as f:
        f.write(PASSWORD + "\n")
    pkcs12 = os.path.join(directory, "signer.p12")
    openssl("pkcs12", "-export", "-inkey", key, "-in", cert, "-certfile", ca_cert,
            "-out", pkcs12, "-passout", "file:" + password_file)
    encrypted_key = os.path.join(directory, "signer-key-encrypted.pem")
    openssl("pkey", "-in", key, "-out", encrypted_key, "-aes256",
            "-passout", "file:" + password_file)
    chain = os.path.join(directory, "signer-chain.pem")
    with open(chain, "w") as out:
        for part in (cert, ca_cert):
            with open(part) as f:
                out.write(f.read())
    return {"ca": ca_cert, "pkcs12": pkcs12, "password": password_file, "chain": chain,
            "key": encrypted_key}


def clean_environment():
    env = dict(os.environ)
    for name in list(env):
        if name.startswith("LAUNCHER_SIGN") or name == "LAUNCHER_TIMESTAMP_URL":
            del env[name]
    return env


def build(build_dir, options):
    shutil.rmtree(build_dir, ignore_errors=True)
    env = clean_environment()
    configure = [CMAKE, "-S", SOURCE_DIR, "-B", build_dir, "-G", "Ninja",
                 "--toolchain", os.path.join(SOURCE_DIR, "cmake",
                                             "toolchain-i686-w64-mingw32.cmake"),
                 "-DCMAKE_BUILD_TYPE=MinSizeRel", *options]
    for command in (configure, [CMAKE, "--build", build_dir, "--target", "launcher"]):
        done = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if done.returncode != 0:
            raise AssertionError("%s failed:\n%s" % (" ".join(command),
                                                     done.stdout.decode(errors="replace")))
    return os.path.join(build_dir, "launcher.exe")


def outside_signature(path):
    """The file's bytes with the checksum and the security directory entry blanked, up to the
    certificate table."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    pe = pefile.PE(data=bytes(data), fast_load=True)
    checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]
    entry = security.get_file_offset()
    data[checksum:checksum + 4] = bytes(4)
    data[entry:entry + 8] = bytes(8)
    return bytes(data[:security.VirtualAddress]), security.VirtualAddress


class ReleasePath(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = fresh_dir(os.path.join(WORK_DIR, "release_path"))
        cls.keys = make_release_certificate(fresh_dir(os.path.join(work, "keys")))
        cls.editions = fresh_dir(os.path.join(work, "editions"))
        for code in EDITIONS.values():
            shutil.copyfile(os.path.join(payload_dir(RELEASE_DIR), code + ".exe"),
                            os.path.join(cls.editions, code + ".exe"))

        cls.tsa_dir = os.path.join(work, "tsa")
        cls.tsa = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "tsa_server.py"), cls.tsa_dir,
             "--until-stdin-closes"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            line = cls.tsa.stdout.readline().decode()
            if not line.startswith("PORT "):
                raise AssertionError("the time-stamp service did not start")
            url = "http://127.0.0.1:%d/" % int(line.split()[1])
            common = ["-DLAUNCHER_PAYLOAD_DIR=" + cls.editions, "-DLAUNCHER_TIMESTAMP_URL=" + url]
            cls.pkcs12_image = build(os.path.join(work, "a"), common + [
                "-DLAUNCHER_SIGN_PKCS12=" + cls.keys["pkcs12"],
                "-DLAUNCHER_SIGN_PASSWORD_FILE=" + cls.keys["password"]])
            cls.pem_image = build(os.path.join(work, "second build tree"), common + [
                "-DLAUNCHER_SIGN_CERT=" + cls.keys["chain"],
                "-DLAUNCHER_SIGN_KEY=" + cls.keys["key"],
                "-DLAUNCHER_SIGN_PASSWORD_FILE=" + cls.keys["password"],
                "-DLAUNCHER_SIGN_NESTED_SHA1=ON"])
        finally:
            cls.tsa.stdin.close()
            cls.tsa.wait(timeout=10)
        cls.tsa_cert = os.path.join(cls.tsa_dir, "tsa-cert.pem")

    def verify(self, path):
        return osslsigncode_verify(path, "-CAfile", self.keys["ca"], "-TSA-CAfile", self.tsa_cert)

    def test_pkcs12_signature_with_time_stamp(self):
        status, output = self.verify(self.pkcs12_image)
        self.assertEqual(status, 0, output)
        self.assertEqual(output.count("Signature Index:"), 1, output)
        self.assertRegex(output, r"Message digest algorithm\s+:\s*SHA256")
        self.assertIn("Subject: /CN=Velmora Release Signing/O=Velmora", output)
        self.assertRegex(output, r"Timestamp time: \w+")
        self.assertIn("Timestamp Server Signature verification: ok", output)

    def test_nested_sha1_signature(self):
        status, output = self.verify(self.pem_image)
        self.assertEqual(status, 0, output)
        blocks = output.split("Signature Index:")[1:]
        self.assertEqual(len(blocks), 2, output)
        self.assertRegex(blocks[0], r"Primary Signature[\s\S]*digest algorithm\s+:\s*SHA256")
        self.assertRegex(blocks[1], r"digest algorithm\s+:\s*SHA1")
        for block in blocks:
            self.assertRegex(block, r"Timestamp time: \w+")
            self.assertIn("Signature verification: ok", block)

    def test_release_check_passes(self):
        for image in (self.pkcs12_image, self.pem_image):
            with self.subTest(image=image):
                done = subprocess.run(
                    [PYTHON, RELEASE_CHECK, "--ca-file", self.keys["ca"], "--tsa-ca-file",
                     self.tsa_cert, "--editions", self.editions, image],
                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                output = done.stdout.decode()
                self.assertEqual(done.returncode, 0, output)
                self.assertIn("signer: /CN=Velmora Release Signing/O=Velmora", output)
                self.assertRegex(output, r"time-stamp: \w+ +\d+ [\d:]+ \d{4}")
                # Without the test CA the chain ends nowhere the system trusts.
                done = subprocess.run([PYTHON, RELEASE_CHECK, image], stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT)
                self.assertEqual(done.returncode, 1, done.stdout.decode())

    def test_builds_differ_only_in_the_signature(self):
        first, first_end = outside_signature(self.pkcs12_image)
        second, second_end = outside_signature(self.pem_image)
        self.assertEqual(first_end, second_end)
        differing = [i for i in range(len(first)) if first[i] != second[i]][:10]
        self.assertEqual(differing, [], "the unsigned parts differ at these offsets")
        # The signatures themselves are there and are not the same.
        with open(self.pkcs12_image, "rb") as a, open(self.pem_image, "rb") as b:
            self.assertNotEqual(a.read()[first_end:], b.read()[second_end:])


if __name__ == "__main__":
    unittest.main()
