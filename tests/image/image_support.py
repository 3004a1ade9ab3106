"""What the image tests share: where the built images are, and how to read their resources."""
import os
import shutil
import subprocess

import pefile

SOURCE_DIR = os.environ["LAUNCHER_SOURCE_DIR"]
RELEASE_DIR = os.environ["LAUNCHER_RELEASE_DIR"]
TEST_X86_64_DIR = os.environ["LAUNCHER_TEST_X86_64_DIR"]
WORK_DIR = os.environ["IMAGE_TEST_WORK_DIR"]
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")
PYTHON = os.environ.get("LAUNCHER_PYTHON", "/usr/bin/python3")
RELEASE_CHECK = os.path.join(SOURCE_DIR, "tools", "release-check")
FINISH_IMAGE = os.path.join(SOURCE_DIR, "image", "finish_image.py")

EDITIONS = {129: "en", 131: "fr", 132: "it", 133: "de", 134: "es"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def require_file(path, how):
    if not os.path.isfile(path):
        raise AssertionError("%s is missing: %s first" % (path, how))
    return path


def release_image():
    return require_file(os.path.join(RELEASE_DIR, "launcher.exe"),
                        "cmake --preset release && cmake --build --preset release")


def cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def payload_dir(build_dir):
    """The directory whose editions the build carries."""
    configured = cache_value(build_dir, "LAUNCHER_PAYLOAD_DIR")
    return configured or os.path.join(build_dir, "sample_editions")


def verify_ca_options(build_dir):
    """osslsigncode verify options that trust the build's own signer."""
    with open(os.path.join(build_dir, "signing", "mode.txt")) as f:
        mode = f.read().strip()
    if mode == "throwaway":
        return ["-CAfile", os.path.join(build_dir, "signing", "throwaway-cert.pem")]
    if mode == "release":
        ca = os.environ.get("LAUNCHER_TEST_CA_FILE")
        return ["-CAfile", ca] if ca else []
    raise AssertionError("%s builds unsigned images (LAUNCHER_SIGN=OFF)" % build_dir)


def resource_entries(pe):
    """[(type, id, language, codepage, rva, size)] in directory order; named types as str."""
    rows = []
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        kind_key = str(kind.name) if kind.name is not None else kind.id
        for name in kind.directory.entries:
            name_key = str(name.name) if name.name is not None else name.id
            for language in name.directory.entries:
                s = language.data.struct
                rows.append((kind_key, name_key, language.id, s.CodePage, s.OffsetToData, s.Size))
    return rows


def resource_bytes(pe, kind, name):
    for row in resource_entries(pe):
        if row[0] == kind and row[1] == name:
            return pe.get_data(row[4], row[5])
    raise AssertionError("no resource %r %r" % (kind, name))


def resource_file_offset(pe, kind, name):
    for row in resource_entries(pe):
        if row[0] == kind and row[1] == name:
            return pe.get_offset_from_rva(row[4]), row[5]
    raise AssertionError("no resource %r %r" % (kind, name))


def osslsigncode_verify(path, *options):
    done = subprocess.run(["osslsigncode", "verify", "-in", path, *options],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return done.returncode, done.stdout.decode(errors="replace")


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path
