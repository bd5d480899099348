"""The Python reader against files that lie: bounded memory and time whatever a length field
claims (a sparse hole counted, not read), pipes, devices and folders refused without waiting, a
file cut while it is read or after open(), and strict JSON.

Run with Debian's python3: python3 -m unittest python_reader_hostile_test (RV8_SOURCE_DIR set)."""

import json
import os
import resource
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

SOURCE = os.environ.get("RV8_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tools", "python"))
import rv8rec  # noqa: E402

PYTHON_DIR = os.path.join(SOURCE, "tools", "python")
MiB = 1 << 20


def header(rate=50000.0, ranges=((2.0, -2.0), (0.5, -0.5))):
    channels = len(ranges)
    size = rv8rec.header_size(channels)
    body = rv8rec._HEADER_FIXED.pack(rv8rec.MAGIC, 1, size, channels, 1, rate)
    for upper, lower in ranges:
        body += struct.pack("<dd", upper, lower)
    body += struct.pack("<q", 1700000000000000)
    return body + struct.pack("<I", zlib.crc32(body))


def record(number, samples, comment=b"Log comment", rate=50000.0, frames=None, channels=2):
    frames = len(samples) // channels if frames is None else frames
    head = rv8rec._RECORD_HEADER.pack(rv8rec.RECORD_MARKER, number, 1700000000000000 + number,
                                      rate, 1, len(comment), frames)
    body = head + comment + struct.pack("<%dh" % len(samples), *samples)
    return body + struct.pack("<I", zlib.crc32(body))


def run_module(path, timeout=20):
    """Runs `python3 -m rv8rec path` in a child; returns (status, stdout, stderr, child's peak
    RSS in bytes)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    env = dict(os.environ, PYTHONPATH=PYTHON_DIR)
    p = subprocess.run([sys.executable, "-m", "rv8rec", path], capture_output=True, text=True,
                       timeout=timeout, env=env)
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return p.returncode, p.stdout, p.stderr, max(peak, before) * 1024


class HostileFiles(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, data, apparent_size=None):
        p = self.path(name)
        with open(p, "wb") as f:
            f.write(data)
            if apparent_size is not None:
                f.truncate(apparent_size)  # a sparse hole up to the claimed size
        return p

    def test_claims_that_must_not_cost_memory(self):
        # (name, record header's frame count, apparent file size, expected error)
        good = record(0, list(range(-6, 6)))
        gib = 1 << 30
        cases = [
            ("sparse 1 GiB sample block", gib // 4, len(header()) + len(good) + 36 + 11 + gib + 4,
             "checksum mismatch"),
            ("0xFFFFFFFF frames", 0xFFFFFFFF, None, "incomplete record"),
        ]
        baseline = run_module(self.write("plain.cvx", header() + good))
        self.assertEqual(baseline[0], 0, baseline[2])
        for name, frames, apparent, error in cases:
            with self.subTest(name):
                claim = rv8rec._RECORD_HEADER.pack(rv8rec.RECORD_MARKER, 1, 0, 50000.0, 1, 11,
                                                   frames) + b"Log comment"
                p = self.write(name.replace(" ", "_") + ".cvx", header() + good + claim, apparent)
                status, out, err, peak = run_module(p, timeout=60)
                self.assertEqual(status, 1, err)
                result = json.loads(out)
                self.assertEqual(result["record_count"], 1)
                self.assertTrue(result["damaged_tail"])
                self.assertIn(error, result["error"])
                self.assertLess(peak - baseline[3], 64 * MiB, "peak RSS %d MiB" % (peak // MiB))

    def test_a_sparse_claim_is_checked_without_reading_its_hole(self):
        # A record claiming 2^32 - 1 frames (16 GiB) of a hole, with a wrong CRC: its zeros are
        # counted, not read (it took 52 s to read them).
        good = record(0, list(range(-6, 6)))
        claim = rv8rec._RECORD_HEADER.pack(rv8rec.RECORD_MARKER, 1, 0, 50000.0, 1, 11,
                                           0xFFFFFFFF) + b"Log comment"
        size = len(header()) + len(good) + len(claim) + 0xFFFFFFFF * 4 + 4
        p = self.write("sparse16.cvx", header() + good + claim, size)
        for name, check in [("read()", lambda: rv8rec.read(p)),
                            ("open().verify()", lambda: rv8rec.open(p, check=True))]:
            with self.subTest(name):
                start = time.monotonic()
                result = check()
                seconds = time.monotonic() - start
                self.assertEqual(len(result.records), 1)
                self.assertTrue(result.damaged_tail)
                self.assertIn("checksum mismatch", result.error)
                self.assertLess(seconds, 5, "%.1f s for a 16 GiB hole" % seconds)

    def test_crc_of_zeros_is_counted_without_the_zeros(self):
        for n in (0, 1, 3, 4, 7, 8, 255, 4096, 65537, 5 << 20):
            for crc in (0, 1, 0xDEADBEEF, 0xFFFFFFFF):
                with self.subTest(n=n, crc=crc):
                    self.assertEqual(rv8rec.crc32_zeros(n, crc), zlib.crc32(bytes(n), crc))

    def test_open_then_the_file_cut_raises_on_the_next_access(self):
        # open() reads samples when they are asked for: once the file is cut, asking for samples
        # that are gone raises FileChanged; samples read before stay valid. (They were views
        # into a mapping of the file: touching them killed the interpreter with SIGBUS.) In a
        # child, so that a killed interpreter shows as such.
        records = [record(n, [(n * 7 + i) % 30000 for i in range(40000)]) for n in range(4)]
        p = self.write("opened.cvx", header() + b"".join(records))
        cut = len(header()) + len(records[0]) + len(records[1]) + 100
        script = """
import os, sys
import rv8rec
m = rv8rec.open(sys.argv[1])
first = m.records[0]["samples"]
os.truncate(sys.argv[1], int(sys.argv[2]))
print(int(first.sum()), int(m.records[1]["samples"].sum()))
for r in m.records[2:]:
    try:
        print("read", r["number"], int(r["samples"].sum()))
    except rv8rec.FileChanged as e:
        print("FileChanged", r["number"], isinstance(e, OSError), "cut after it was opened" in str(e))
print(m.verify(), len(m.records), m.damaged_tail)
"""
        env = dict(os.environ, PYTHONPATH=PYTHON_DIR)
        child = subprocess.run([sys.executable, "-c", script, p, str(cut)], capture_output=True,
                               text=True, timeout=60, env=env)
        self.assertEqual(child.returncode, 0, child.stderr)
        sums = [sum((n * 7 + i) % 30000 for i in range(40000)) for n in range(2)]
        self.assertEqual(child.stdout, "%d %d\nFileChanged 2 True True\nFileChanged 3 True True\n"
                         "False 2 True\n" % tuple(sums))

    def test_only_regular_files_are_read(self):
        fifo = self.path("pipe.cvx")
        os.mkfifo(fifo)
        folder = self.path("folder.cvx")
        os.mkdir(folder)
        for path, kind in [(fifo, "pipe (FIFO)"), ("/dev/zero", "device"), (folder, "folder")]:
            with self.subTest(path):
                status, out, err, _ = run_module(path, timeout=10)  # a FIFO must not block
                self.assertEqual(status, 2)
                self.assertEqual(out, "")
                self.assertIn(kind, err)
                with self.assertRaises(rv8rec.NotRegularFile):
                    rv8rec.read(path)

    def test_a_file_cut_while_it_is_read_ends_in_a_damaged_tail(self):
        # Records larger than the reader's buffer, so that what is cut has not been read ahead.
        records = [record(n, [(n * 10 + i) % 30000 for i in range(40000)]) for n in range(4)]
        start = len(header())
        offsets = [start + sum(len(r) for r in records[:n]) for n in range(5)]
        # (where the file is cut once record 0 has been yielded, records read, expected error)
        cases = [
            ("inside record 2", offsets[2] + 30, 2, "ended while it was being read"),
            ("inside record 1's header", offsets[1] + 10, 1, "ended while it was being read"),
            ("at record 1", offsets[1], 1, "ended while it was being read"),
        ]
        for name, cut, count, error in cases:
            with self.subTest(name):
                p = self.write("cut.cvx", header() + b"".join(records))
                result = rv8rec.Recording()
                seen = []
                for r in rv8rec.iter_records(p, result):
                    seen.append(r["number"])
                    if r["number"] == 0:
                        os.truncate(p, cut)
                self.assertEqual(seen, list(range(count)))
                self.assertTrue(result.damaged_tail)
                self.assertIn(error, result.error)

    def test_json_is_strict(self):
        nan, inf = float("nan"), float("inf")
        p = self.write("odd.cvx", header(rate=nan, ranges=((inf, -inf), (0.5, -0.5))) +
                       record(0, [1, 2, 3, 4], rate=nan) + record(1, [5, 6], rate=-inf))

        def refuse(constant):
            raise ValueError("non-standard JSON constant " + constant)

        status, out, err, _ = run_module(p)
        self.assertEqual(status, 0, err)
        result = json.loads(out, parse_constant=refuse)
        self.assertIsNone(result["header"]["sample_rate"])
        self.assertIsNone(result["header"]["ranges"][0]["upper"])
        self.assertEqual([r["sample_rate"] for r in result["records"]], [None, None])
        self.assertEqual(result["records"][0]["channel_sums"], [4, 6])


if __name__ == "__main__":
    unittest.main()
