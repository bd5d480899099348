"""Reads RV8 recording files (.cvx); layout in docs/recording-format.md.

    import rv8rec
    rec = rv8rec.read("capture.cvx")
    rec.header["sample_rate"], rec.header["ranges"]      # settings at the file's creation
    for r in rec.records:                                  # complete, checked records
        r["number"], r["time_us"], r["sample_rate"], r["event_mark"], r["comment"]
        r["settings"]           # the acquisition's settings (None where unknown)
        r["samples"]            # numpy int16 array, shape (frames, channels)
        rv8rec.volts(rec.header, r["samples"])             # float64 volts, same shape
    rec.damaged_tail, rec.tail_offset, rec.tail_index, rec.error

Reading stops at the first incomplete or damaged record; every record before it is returned.
Memory stays bounded whatever a file claims (records are checked in pieces, samples kept only
after the CRC matched); pipes, devices and folders are refused (NotRegularFile); a file that
shrinks while it is read ends in a damaged tail. Run as a program (python3 -m rv8rec FILE), it
prints a JSON summary of a file, reading one record at a time, in strict JSON (null for NaN and
infinities); exit status 0 intact, 1 damaged, 2 unreadable.

Every version of the format is read. Version 2 records carry the settings their samples were
taken with (r["settings"]: acquisition number, time written, record length, post-trigger
samples, measure mode, trigger source and slope, and per channel the sensitivity, coupling,
trigger level and hysteresis); in a version 1 file every one of them is None (unknown), and
r["time_us"] is when the record was written rather than when its measurement ended.

For large files, open the file instead of reading it:

    rec = rv8rec.open("capture.cvx")          # reads only the record headers
    for r in rec.records:
        r["samples"]                          # int16 (frames, channels), read from the file now
    rec.verify()                              # checks every record's CRC (reads the whole file)

open() checks the file header's CRC and the structure of every record (marker, number,
lengths) but not the records' CRCs: call verify(), or open(path, check=True), for that. A file
cut short after open() is never read beyond its new end: asking a record for samples that are
gone raises FileChanged (an OSError). The holes of a sparse file are counted as zeros without
reading them.
"""

import json
import math
import os
import sys

import numpy as np

from ._layout import (  # noqa: F401 (the module's public names)
    _CRC,
    _HEADER_FIXED,
    _RECORD_HEADER,
    FORMAT_VERSION,
    MAGIC,
    MAX_COMMENT_BYTES,
    RECORD_MARKER,
    SAMPLE_FORMAT_INT16,
    FormatError,
    NotRegularFile,
    Recording,
    _Cut,
    _check_head,
    _head_size,
    _open_regular,
    _read_exact,
    _read_header,
    _settings,
    header_size,
    settings_size,
)
from ._layout import _KEEP_WHILE_CHECKING, _PIECE
from ._mapped import FileChanged, MappedRecord, MappedRecording, open  # noqa: F401,A004
from ._reading import Changed, checked_body, crc32_zeros, pread_exact  # noqa: F401


def iter_records(path, result=None, samples=True):
    """Yields the checked records one by one; fills `result` (a Recording) as it goes.

    Memory stays bounded whatever a file claims: records are checked in pieces of 4 MiB and a
    record's samples are taken only after its CRC matched. Pipes, devices and folders are refused
    (NotRegularFile, an OSError). A file that shrinks or grows while it is read ends in an
    incomplete tail. With samples=False the records carry no "samples" (a check of the file)."""
    rec = result if result is not None else Recording()
    with _open_regular(path) as f:
        fd = f.fileno()
        size = os.fstat(fd).st_size
        rec.file_size = size
        rec.header = _read_header(f, size)
        channels = rec.header["channel_count"]
        offset = rec.header["header_size"]
        index = 0

        def stop(why):
            rec.damaged_tail = True
            rec.error = "record %d at byte offset %d: %s" % (index, offset, why)

        version = rec.header["version"]
        # From here on every read names its position (os.pread), and the holes of a sparse file
        # are counted as zeros without reading them (see _reading).
        while offset < size:
            remaining = size - offset
            if remaining < _head_size(version) + _CRC.size:
                stop("incomplete record (%d bytes at the end of the file)" % remaining)
                break
            try:
                head = pread_exact(fd, _head_size(version), offset)
                fields, block, total, why = _check_head(head, index, remaining, channels, version)
                if why is None and block:
                    head += pread_exact(fd, block - 4, offset + len(head))
            except _Cut:
                stop("incomplete record (the file ended while it was being read)")
                break
            if why is not None:
                stop(why)
                break
            number, time_us, rate, mark, nbytes, frames = fields
            try:
                body = checked_body(fd, head, offset + len(head), total - len(head), _PIECE,
                                    _KEEP_WHILE_CHECKING)
            except _Cut:
                stop("incomplete record (the file ended while it was being read)")
                break
            except Changed:
                stop("the record changed while it was being read")
                break
            if body is None:
                stop("damaged record (checksum mismatch)")
                break
            record = {
                "number": number,
                "time_us": time_us,
                "sample_rate": rate,
                "event_mark": mark,
                "comment": body[:nbytes].decode("utf-8", errors="replace"),
                "frames": frames,
                "offset": offset,
                "settings": _settings(head[_RECORD_HEADER.size :] if block else None, channels),
            }
            if samples:
                values = np.frombuffer(body, dtype="<i2", count=frames * channels, offset=nbytes)
                record["samples"] = values.astype(np.int16).reshape(frames, channels)
            index += 1
            offset += total
            rec.tail_offset = offset
            rec.tail_index = index
            yield record
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
    sample * (upper - lower) / 2 / 32768, which is sample * upper / 32768 for lower = -upper.
    `samples` may be a view of a mapped recording (open()); the result is a new array."""
    upper = np.array([r["upper"] for r in header["ranges"]])
    lower = np.array([r["lower"] for r in header["ranges"]])
    s = np.asarray(samples).astype(np.float64)
    return (upper + lower) / 2 + s * ((upper - lower) / 2) / 32768.0


def _finite(value):
    """JSON has no NaN or infinity: non-finite numbers become null, as strict parsers expect."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {k: _finite(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_finite(v) for v in value]
    return value


def _record_summary(header, r):
    frames = r["frames"]
    samples = r["samples"]
    return {
        "number": r["number"],
        "time_us": r["time_us"],
        "sample_rate": r["sample_rate"],
        "event_mark": r["event_mark"],
        "comment": r["comment"],
        "settings": r["settings"],
        "frames": frames,
        "channel_sums": [int(s) for s in samples.astype(np.int64).sum(axis=0)],
        "first_frame": [int(s) for s in samples[0]] if frames else [],
        "last_frame_volts": [float(v) for v in volts(header, samples[-1])] if frames else [],
    }


def summary(path):
    """The command line's summary of a file, reading one record at a time: memory does not
    grow with the file's size. Raises as read() does."""
    rec = Recording()
    records = [_record_summary(rec.header, r) for r in iter_records(path, rec)]
    return rec, {
        "header": rec.header,
        "record_count": len(records),
        "damaged_tail": rec.damaged_tail,
        "tail_offset": rec.tail_offset,
        "tail_index": rec.tail_index,
        "error": rec.error,
        "records": records,
    }


def main(argv):
    if len(argv) != 2:
        print("usage: python3 -m rv8rec FILE", file=sys.stderr)
        return 2
    try:
        rec, result = summary(argv[1])
    except OSError as e:
        print("rv8rec: %s" % e, file=sys.stderr)
        return 2
    except FormatError as e:
        print("rv8rec: %s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    json.dump(_finite(result), sys.stdout, indent=1, allow_nan=False)
    print()
    return 1 if rec.damaged_tail else 0
