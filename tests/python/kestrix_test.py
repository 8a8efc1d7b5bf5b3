"""The Python module as a script sees it: keyword arguments, bytes, errors, paths and threads."""
import os
import pathlib
import struct
import tempfile
import threading
import unittest

import kestrix


def bmp(width, height):
    """A 24-bit BMP of a colour ramp."""
    stride = (width * 3 + 3) & ~3
    rows = b"".join(bytes((x * 7 + y) % 256 for x in range(width * 3)).ljust(stride, b"\0") for y in range(height))
    return (b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0) + rows)


def turned(jpeg):
    """The JPEG with an EXIF orientation 6 (stored turned a quarter) after its SOI."""
    tiff = b"MM\0*" + struct.pack(">IHHHIHHI", 8, 1, 0x0112, 3, 1, 6, 0, 0)
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(tiff) + 8) + b"Exif\0\0" + tiff + jpeg[2:]


class KestrixModule(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = pathlib.Path(self.dir.name)
        (self.path / "in.bmp").write_bytes(bmp(400, 300))
        kestrix.thumbnail(self.path / "in.bmp", self.path / "in.jpg", width=400, quality=95)
        self.jpeg = (self.path / "in.jpg").read_bytes()

    def tearDown(self):
        self.dir.cleanup()

    def test_keyword_arguments_give_their_size_and_format(self):
        (self.path / "phone.jpg").write_bytes(turned(self.jpeg))
        cases = [
            (dict(width=100), "a.jpg", (100, 75, "jpeg")),
            (dict(height=60, classic=True), "a.png", (80, 60, "png")),
            (dict(width=100, height=100), "a.webp", (100, 75, "webp")),
            (dict(width=100, height=100, fit="cover"), "a.avif", (100, 100, "avif")),
            (dict(width=50, height=70, fit="exact", format="PNG"), "a.out", (50, 70, "png")),
            (dict(width=800, height=800, classic=True), "a.jpg", (400, 300, "jpeg")),
            (dict(width=30, src="phone.jpg"), "a.jpg", (30, 40, "jpeg")),
            # Without auto_orient the pixels stay as stored (30x22) and the tag travels: viewers turn them.
            (dict(width=30, src="phone.jpg", auto_orient=False, keep_metadata=True), "b.jpg", (22, 30, "jpeg")),
        ]
        for arguments, dst, probed in cases:
            with self.subTest(arguments):
                src = self.path / arguments.pop("src", "in.jpg")
                kestrix.thumbnail(str(src), self.path / dst, **arguments)
                self.assertEqual(kestrix.probe(self.path / dst), probed)
        self.assertLess(len(kestrix.thumbnail_bytes(self.jpeg, width=200, quality=10)),
                        len(kestrix.thumbnail_bytes(self.jpeg, width=200, quality=95)))

    def test_bytes_are_the_file_calls_bytes(self):
        for format in ("jpeg", "png", "webp"):
            kestrix.thumbnail(self.path / "in.jpg", self.path / "out", width=120, height=90, fit="cover",
                              format=format)
            data = kestrix.thumbnail_bytes(memoryview(self.jpeg), width=120, height=90, fit="cover",
                                           format=format)
            self.assertEqual(data, (self.path / "out").read_bytes())

    def test_border_and_text(self):
        kestrix.border(self.path / "in.jpg", self.path / "b.png", 5, "#FF0000", left=0)
        self.assertEqual(kestrix.probe(self.path / "b.png"), (405, 310, "png"))
        kestrix.text(self.path / "in.jpg", self.path / "t.jpg", "Kestrix", at="centre", size=20, bold=True)
        kestrix.text(self.path / "in.jpg", self.path / "u.jpg", "Kestrix", at=(10, 10), colour=(0, 0, 255))
        self.assertEqual(kestrix.probe(self.path / "t.jpg"), (400, 300, "jpeg"))
        self.assertNotEqual((self.path / "t.jpg").read_bytes(), (self.path / "u.jpg").read_bytes())

    def test_failures_raise_the_librarys_code_and_reason(self):
        (self.path / "scan.jpg").write_bytes(b"8BPS\0\1\0\0")
        calls = [
            (lambda: kestrix.thumbnail(self.path / "none.jpg", self.path / "o.jpg", width=9), 1,
             "no such file or folder"),
            (lambda: kestrix.thumbnail_bytes(self.jpeg, width=0), 3, "the width must be 1 or more"),
            (lambda: kestrix.thumbnail_bytes(b"", height=9), 1, "the file is empty"),
            (lambda: kestrix.thumbnail(self.path / "in.jpg", self.path / "no/o.jpg", width=9), 2,
             "the output folder does not exist"),
            (lambda: kestrix.probe(self.path / "scan.jpg"), 1, "not a picture the engine reads"),
            (lambda: kestrix.border(self.path / "in.jpg", self.path / "o.jpg", top=20000, bottom=20000), 6, None),
        ]
        for call, code, reason in calls:
            with self.assertRaises(kestrix.Error) as raised:
                call()
            self.assertEqual(raised.exception.code, code)
            if reason:
                self.assertEqual(raised.exception.reason, reason)
        for wrong in (dict(fit="crop", width=9, height=9), dict(fit="cover", width=9), dict(),
                      dict(width=9, quality=0), dict(width=9, format="bmp")):
            self.assertRaises(ValueError, kestrix.thumbnail_bytes, self.jpeg, **wrong)
        self.assertRaises(ValueError, kestrix.thumbnail, self.path / "in.jpg", self.path / "o.gif", width=9)

    def test_threads_get_their_own_results_and_errors(self):
        expected = {width: kestrix.thumbnail_bytes(self.jpeg, width=width) for width in range(20, 36)}
        results, errors = {}, {}

        def work(width):
            for _ in range(3):
                results[width] = kestrix.thumbnail_bytes(self.jpeg, width=width)
                try:
                    kestrix.thumbnail_bytes(self.jpeg[:width], width=width)
                except kestrix.Error as error:
                    errors[width] = error.code
        threads = [threading.Thread(target=work, args=(width,)) for width in expected]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(results, expected)
        self.assertEqual(set(errors.values()), {1})


if __name__ == "__main__":
    unittest.main()
