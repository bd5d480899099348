#!/usr/bin/python3
"""Reads RV8 recording files (.cvx); layout in docs/recording-format.md.

    import rv8rec
    rec = rv8rec.read("capture.cvx")
    rec.header["sample_rate"], rec.header["ranges"]      # settings at the file's creation
    for r in rec.records:                                  # complete, checked records
        r["number"], r["time_us"], r["sample_rate"], r["event_mark"], r["comment"]
        r["samples"]            # numpy int16 array, shape (frames, channels)
        rv8rec.volts(rec.header, r["samples"])             # float64 volts, same shape
    rec.damaged_tail, rec.tail_offset, rec.tail_index, rec.error

Reading stops at the first incomplete or damaged record; every record before it is returned.
Run as a program, it prints a JSON summary of a file (exit status 0 intact, 1 damaged,
2 unreadable).
"""

import json
import os
import struct
import sys
import zlib

import numpy as np

MAGIC = b"\x89RV8\r\n\x1a\n"
FORMAT_VERSION = 1
SAMPLE_FORMAT_INT16 = 1
RECORD_MARKER = 0x43523852  # b"R8RC"
MAX_COMMENT_BYTES = 65536

# magic, version, header size, channel count, sample format, sample rate
_HEADER_FIXED = struct.Struct("<8sHIHHd")
# marker, number, time, sample rate, event mark, comment bytes, frames
_RECORD_HEADER = struct.Struct("<IIqdiII")
_CRC = struct.Struct("<I")


def header_size(channels):
    return _HEADER_FIXED.size + 16 * channels + 12


class Recording:
    def __init__(self):
        self.header = None
        self.records = []
        self.damaged_tail = False
        self.tail_offset = 0
        self.tail_index = 0
        self.error = ""
        self.file_size = 0


class FormatError(Exception):
    pass


def _read_header(f, size):
    if size < header_size(1):
        raise FormatError("the file is too short for a header")
    fixed = f.read(_HEADER_FIXED.size)
    magic, version, hsize, channels, sample_format, rate = _HEADER_FIXED.unpack(fixed)
    if magic != MAGIC:
        raise FormatError("not a recording file (wrong magic)")
    if version != FORMAT_VERSION:
        raise FormatError("unsupported format version %d" % version)
    if channels == 0:
        raise FormatError("the header gives 0 channels")
    if hsize != header_size(channels):
        raise FormatError("the header size %d does not match %d channels" % (hsize, channels))
    if hsize > size:
        raise FormatError("the file is too short for its header")
    rest = f.read(hsize - _HEADER_FIXED.size)
    body = fixed + rest[:-4]
    if zlib.crc32(body) != _CRC.unpack(rest[-4:])[0]:
        raise FormatError("the header is damaged (checksum mismatch)")
    if sample_format != SAMPLE_FORMAT_INT16:
        raise FormatError("unsupported sample format %d" % sample_format)
    ranges = [struct.unpack_from("<dd", rest, 16 * c) for c in range(channels)]
    (created,) = struct.unpack_from("<q", rest, 16 * channels)
    return {
        "version": version,
        "header_size": hsize,
        "channel_count": channels,
        "sample_format": sample_format,
        "sample_rate": rate,
        "ranges": [{"upper": u, "lower": lo} for u, lo in ranges],
        "creation_time_us": created,
    }


def iter_records(path, result=None):
    """Yields the checked records one by one; fills `result` (a Recording) as it goes."""
    rec = result if result is not None else Recording()
    with open(path, "rb") as f:
        size = os.fstat(f.fileno()).st_size
        rec.file_size = size
        rec.header = _read_header(f, size)
        channels = rec.header["channel_count"]
        offset = rec.header["header_size"]
        index = 0

        def stop(why):
            rec.damaged_tail = True
            rec.error = "record %d at byte offset %d: %s" % (index, offset, why)

        while offset < size:
            remaining = size - offset
            if remaining < _RECORD_HEADER.size + _CRC.size:
                stop("incomplete record (%d bytes at the end of the file)" % remaining)
                break
            f.seek(offset)
            head = f.read(_RECORD_HEADER.size)
            marker, number, time_us, rate, mark, nbytes, frames = _RECORD_HEADER.unpack(head)
            if marker != RECORD_MARKER:
                stop("no record marker")
                break
            if number != index:
                stop("record number %d out of sequence" % number)
                break
            if nbytes > MAX_COMMENT_BYTES:
                stop("comment length %d exceeds the limit" % nbytes)
                break
            total = _RECORD_HEADER.size + nbytes + 2 * frames * channels + _CRC.size
            if total > remaining:
                stop("incomplete record (needs %d bytes, %d left in the file)" % (total, remaining))
                break
            body = f.read(total - _RECORD_HEADER.size)  # bounded by the file's remaining size
            if zlib.crc32(body[:-4], zlib.crc32(head)) != _CRC.unpack(body[-4:])[0]:
                stop("damaged record (checksum mismatch)")
                break
            samples = np.frombuffer(body, dtype="<i2", count=frames * channels, offset=nbytes)
            yield {
                "number": number,
                "time_us": time_us,
                "sample_rate": rate,
                "event_mark": mark,
                "comment": body[:nbytes].decode("utf-8", errors="replace"),
                "frames": frames,
                "offset": offset,
                "samples": samples.astype(np.int16).reshape(frames, channels),
            }
            index += 1
            offset += total
        rec.tail_offset = offset
        rec.tail_index = index


def read(path):
    """Reads a whole file. Raises OSError when it can't be read and FormatError when its
    header is not sound; a damaged tail is reported in the result instead."""
    rec = Recording()
    rec.records = list(iter_records(path, rec))
    return rec


def volts(header, samples):
    """Sample values to volts, channel by channel: the range's middle plus
    sample * (upper - lower) / 2 / 32768, which is sample * upper / 32768 for lower = -upper."""
    upper = np.array([r["upper"] for r in header["ranges"]])
    lower = np.array([r["lower"] for r in header["ranges"]])
    return (upper + lower) / 2 + samples.astype(np.float64) * ((upper - lower) / 2) / 32768.0


def _summary(rec):
    return {
        "header": rec.header,
        "record_count": len(rec.records),
        "damaged_tail": rec.damaged_tail,
        "tail_offset": rec.tail_offset,
        "tail_index": rec.tail_index,
        "error": rec.error,
        "records": [
            {
                "number": r["number"],
                "time_us": r["time_us"],
                "sample_rate": r["sample_rate"],
                "event_mark": r["event_mark"],
                "comment": r["comment"],
                "frames": r["frames"],
                "channel_sums": [int(s) for s in r["samples"].astype(np.int64).sum(axis=0)],
                "first_frame": [int(s) for s in r["samples"][0]] if r["frames"] else [],
                "last_frame_volts": [float(v) for v in volts(rec.header, r["samples"][-1])]
                if r["frames"]
                else [],
            }
            for r in rec.records
        ],
    }


def main(argv):
    if len(argv) != 2:
        print("usage: rv8rec.py FILE", file=sys.stderr)
        return 2
    try:
        rec = read(argv[1])
    except OSError as e:
        print("rv8rec.py: %s" % e, file=sys.stderr)
        return 2
    except FormatError as e:
        print("rv8rec.py: %s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    json.dump(_summary(rec), sys.stdout, indent=1)
    print()
    return 1 if rec.damaged_tail else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
