#!/usr/bin/python3
"""Finishes a linked Windows image in place; the build runs it right after the link.

    finish_image.py IMAGE [--codepage N] [--append FILE]
                    [--sign --osslsigncode PATH (--pkcs12 FILE | --cert FILE --key FILE)
                     [--password-file FILE] [--timestamp-url URL] [--nested-sha1]
                     [--description TEXT]]

In this order: --codepage writes N into every resource data entry (GNU windres writes 0);
--append adds FILE's bytes after the image's last section, as an edition carries its data;
--sign signs with osslsigncode (SHA-256, then with --nested-sha1 a nested SHA-1 signature, each
time-stamped when a URL is given), which also sets the header checksum over the signed file.
An unsigned image gets its header checksum here instead. Nothing changes the file after that.

On any failure the image is deleted, so that the next build links and finishes it again, and
the message names the file at fault.
"""
import argparse
import os
import subprocess
import sys
import time

import pefile

TIMESTAMP_ATTEMPTS = 3


class FinishError(Exception):
    pass


def check_readable(path, what):
    try:
        with open(path, "rb") as f:
            f.read(1)
    except OSError as error:
        raise FinishError("%s: %s cannot be read (%s)" % (what, path, error.strerror))


def set_codepage(data, codepage):
    pe = pefile.PE(data=bytes(data), fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        raise FinishError("the image has no resources")
    count = 0
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                language.data.struct.CodePage = codepage
                count += 1
    if count == 0:
        raise FinishError("the image has no resource data entries")
    return bytes(pe.write())


def set_checksum(path):
    pe = pefile.PE(path, fast_load=True)
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    data = bytes(pe.write())
    pe.close()
    with open(path, "wb") as f:
        f.write(data)


def run_osslsigncode(args, source, target, digest, nest):
    command = [args.osslsigncode, "sign", "-h", digest]
    if nest:
        command.append("-nest")
    if args.pkcs12:
        command += ["-pkcs12", args.pkcs12]
    else:
        command += ["-certs", args.cert, "-key", args.key]
    if args.password_file:
        command += ["-readpass", args.password_file]
    if args.description:
        command += ["-n", args.description]
    if args.timestamp_url:
        command += ["-ts", args.timestamp_url]
    command += ["-in", source, "-out", target]
    attempts = TIMESTAMP_ATTEMPTS if args.timestamp_url else 1
    for attempt in range(1, attempts + 1):
        if os.path.exists(target):
            os.remove(target)
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if done.returncode == 0:
            return
        output = done.stdout.decode(errors="replace").strip()
        if attempt < attempts:
            print("finish_image: signing %s failed, trying again:\n%s" % (source, output),
                  file=sys.stderr)
            time.sleep(2 * attempt)
    raise FinishError("osslsigncode could not sign (%s digest%s):\n%s" % (
        digest, ", time-stamp " + args.timestamp_url if args.timestamp_url else "", output))


def finish(args):
    image = args.image
    work = [image + ".unsigned", image + ".signed", image + ".nested"]
    try:
        check_readable(image, "Image")
        if args.append:
            check_readable(args.append, "Appended data")
        if args.sign:
            if args.pkcs12:
                check_readable(args.pkcs12, "Signing certificate")
            else:
                if not args.cert or not args.key:
                    raise FinishError("signing needs --pkcs12 or --cert and --key")
                check_readable(args.cert, "Signing certificate")
                check_readable(args.key, "Signing key")
            if args.password_file:
                check_readable(args.password_file, "Signing password file")

        mode = os.stat(image).st_mode & 0o7777
        with open(image, "rb") as f:
            data = f.read()
        if args.codepage is not None:
            data = set_codepage(data, args.codepage)
        if args.append:
            with open(args.append, "rb") as f:
                data += f.read()
        with open(work[0], "wb") as f:
            f.write(data)
        os.chmod(work[0], mode)

        if not args.sign:
            set_checksum(work[0])
            os.replace(work[0], image)
            return
        run_osslsigncode(args, work[0], work[1], "sha256", nest=False)
        last = work[1]
        if args.nested_sha1:
            run_osslsigncode(args, work[1], work[2], "sha1", nest=True)
            last = work[2]
        # Read only: the checksum that osslsigncode set must hold for the signed file.
        pe = pefile.PE(last, fast_load=True)
        valid = pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()
        pe.close()
        if not valid:
            raise FinishError("the header checksum of the signed file is wrong")
        os.chmod(last, mode)
        os.replace(last, image)
    except (FinishError, pefile.PEFormatError, OSError) as error:
        if os.path.exists(image):
            os.remove(image)
        raise FinishError("finish_image: %s: %s" % (image, error))
    finally:
        for path in work:
            if os.path.exists(path):
                os.remove(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("--codepage", type=int)
    parser.add_argument("--append")
    parser.add_argument("--sign", action="store_true")
    parser.add_argument("--osslsigncode", default="osslsigncode")
    parser.add_argument("--pkcs12")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--password-file")
    parser.add_argument("--timestamp-url")
    parser.add_argument("--nested-sha1", action="store_true")
    parser.add_argument("--description")
    args = parser.parse_args()
    try:
        finish(args)
    except FinishError as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
