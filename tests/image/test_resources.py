#!/usr/bin/python3
"""The release image (i686 launcher.exe) carries exactly the resources and properties that a
released launcher needs: payloads, icon groups, manifest, and the image's header fields."""
import os
import struct
import unittest

import pefile

from image_support import (EDITIONS, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_VERSION,
                           RELEASE_DIR, payload_dir, release_image, resource_bytes,
                           resource_entries)

# Width = height, and bytes, of each 24-bit icon image.
ICON_IMAGES = [(16, 872), (32, 3240), (48, 7336), (64, 12840), (128, 51240)]

MANIFEST = (
    b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">\r\n'
    b'  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">\r\n'
    b'    <security>\r\n'
    b'      <requestedPrivileges>\r\n'
    b'        <requestedExecutionLevel level="HighestAvailable" uiAccess="false">'
    b'</requestedExecutionLevel>\r\n'
    b'      </requestedPrivileges>\r\n'
    b'    </security>\r\n'
    b'  </trustInfo>\r\n'
    b'</assembly>')


class ReleaseImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = release_image()
        with open(cls.path, "rb") as f:
            cls.data = f.read()
        cls.pe = pefile.PE(data=cls.data)
        cls.rows = resource_entries(cls.pe)
        cls.editions = payload_dir(RELEASE_DIR)

    def test_resource_table(self):
        expected = [("BINARYDATA", i) for i in sorted(EDITIONS)]
        expected += [(RT_ICON, i) for i in range(1, 11)]
        expected += [(RT_GROUP_ICON, 107), (RT_GROUP_ICON, 108), (RT_MANIFEST, 1)]
        self.assertEqual([(row[0], row[1]) for row in self.rows], expected)
        for kind, name, language, codepage, _, _ in self.rows:
            with self.subTest(kind=kind, name=name):
                self.assertEqual(language, 1033)
                self.assertEqual(codepage, 1252)
        self.assertNotIn(RT_VERSION, [row[0] for row in self.rows])

    def test_payloads_are_the_complete_edition_files(self):
        for payload_id, code in EDITIONS.items():
            with self.subTest(payload=payload_id, edition=code):
                with open(os.path.join(self.editions, code + ".exe"), "rb") as f:
                    edition = f.read()
                payload = resource_bytes(self.pe, "BINARYDATA", payload_id)
                self.assertEqual(len(payload), len(edition))
                self.assertEqual(payload, edition)
                carried = pefile.PE(data=payload, fast_load=True)
                self.assertEqual(carried.FILE_HEADER.Machine, 0x14C)
                self.assertEqual(carried.OPTIONAL_HEADER.Magic, 0x10B)
                self.assertEqual(carried.OPTIONAL_HEADER.Subsystem, 2)
                # Data after the last section, ending in the edition's own signature.
                sections_end = max(s.PointerToRawData + s.SizeOfRawData for s in carried.sections)
                self.assertGreater(len(payload), sections_end)
                security = carried.OPTIONAL_HEADER.DATA_DIRECTORY[4]
                self.assertGreater(security.Size, 0)
                self.assertEqual(security.VirtualAddress + security.Size, len(payload))

    def test_icon_images_are_uncompressed_24_bit_dibs(self):
        for image_id in range(1, 11):
            size, length = ICON_IMAGES[(image_id - 1) % 5]
            with self.subTest(image=image_id):
                image = resource_bytes(self.pe, RT_ICON, image_id)
                self.assertEqual(len(image), length)
                header = struct.unpack_from("<IiiHHII", image, 0)
                # 40-byte header, doubled height, 1 plane, 24 bits, BI_RGB, no colour table.
                self.assertEqual(header[:6], (40, size, 2 * size, 1, 24, 0))
                row = (size * 3 + 3) // 4 * 4
                mask_row = (size + 31) // 32 * 4
                self.assertEqual(length, 40 + size * row + size * mask_row)
        for image_id in range(1, 6):
            self.assertEqual(resource_bytes(self.pe, RT_ICON, image_id),
                             resource_bytes(self.pe, RT_ICON, image_id + 5))

    def test_icon_groups(self):
        for group, first in ((107, 1), (108, 6)):
            with self.subTest(group=group):
                data = resource_bytes(self.pe, RT_GROUP_ICON, group)
                self.assertEqual(len(data), 76)
                self.assertEqual(struct.unpack_from("<HHH", data, 0), (0, 1, 5))
                for index, (size, length) in enumerate(ICON_IMAGES):
                    self.assertEqual(struct.unpack_from("<BBBBHHIH", data, 6 + 14 * index),
                                     (size % 256, size % 256, 0, 0, 1, 24, length, first + index))
        groups = [row[1] for row in self.rows if row[0] == RT_GROUP_ICON]
        self.assertEqual(groups[0], 107, "the shell shows the first group")

    def test_manifest_bytes(self):
        self.assertEqual(len(MANIFEST), 353)
        self.assertEqual(resource_bytes(self.pe, RT_MANIFEST, 1), MANIFEST)

    def test_image_properties(self):
        pe = self.pe
        self.assertEqual(pe.FILE_HEADER.Machine, 0x14C)
        self.assertEqual(pe.OPTIONAL_HEADER.Magic, 0x10B)
        self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, 2)
        self.assertFalse(hasattr(pe, "DIRECTORY_ENTRY_EXPORT"))
        self.assertEqual(sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT),
                         ["advapi32.dll", "kernel32.dll", "msvcrt.dll"])
        characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertTrue(characteristics & 0x40, "dynamic base")
        self.assertTrue(characteristics & 0x100, "NX compatible")
        self.assertFalse(pe.FILE_HEADER.Characteristics & 0x0001, "relocations stripped")
        self.assertGreater(pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size, 0)
        self.assertNotEqual(pe.OPTIONAL_HEADER.CheckSum, 0)
        self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())

    def test_no_time_stamps(self):
        # A build at another time gives the same bytes.
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        stamps = []

        def walk(directory):
            stamps.append(directory.struct.TimeDateStamp)
            for entry in directory.entries:
                if hasattr(entry, "directory"):
                    walk(entry.directory)
        walk(self.pe.DIRECTORY_ENTRY_RESOURCE)
        self.assertEqual(set(stamps), {0})


if __name__ == "__main__":
    unittest.main()
