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
Memory stays bounded whatever a file claims (records are checked in pieces, samples kept only
after the CRC matched); pipes, devices and folders are refused (NotRegularFile); a file that
shrinks while it is read ends in a damaged tail. Run as a program, it prints a JSON summary of a
file, reading one record at a time, in strict JSON (null for NaN and infinities); exit status
0 intact, 1 damaged, 2 unreadable.

For large files, map the file instead of reading it:

    rec = rv8rec.open("capture.cvx")          # reads only the record headers
    for r in rec.records:
        r["samples"]                          # int16 view into the mapped file, (frames, channels)
    rec.verify()                              # checks every record's CRC (reads the whole file)

open() checks the file header's CRC and the structure of every record (marker, number,
lengths) but not the records' CRCs: call verify(), or open(path, check=True), for that.
"""

import json
import math
import os
import stat
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


# Records are checked in pieces of this size, so that what a file claims never decides how much
# memory is taken before its bytes have been read; a record's samples are kept only when its CRC
# matches.
_PIECE = 4 << 20
# Records up to this size are kept while their CRC is checked; a larger one is read again once
# its CRC has matched.
_KEEP_WHILE_CHECKING = 64 << 20


class NotRegularFile(OSError):
    """The path names a pipe, device, folder or socket: only regular files are read."""


def _kind(mode):
    if stat.S_ISDIR(mode):
        return "it is a folder"
    if stat.S_ISFIFO(mode):
        return "it is a pipe (FIFO), not a regular file"
    if stat.S_ISCHR(mode) or stat.S_ISBLK(mode):
        return "it is a device, not a regular file"
    if stat.S_ISSOCK(mode):
        return "it is a socket, not a regular file"
    return "not a regular file"


def _open_regular(path):
    """Opens `path` for reading if it is a regular file; never waits for a FIFO's writer."""
    fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0))
    try:
        mode = os.fstat(fd).st_mode
        if not stat.S_ISREG(mode):
            raise NotRegularFile("cannot read %s: %s" % (path, _kind(mode)))
        if hasattr(os, "set_blocking"):
            os.set_blocking(fd, True)
        return os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise


class _Cut(Exception):
    """The file ended before the bytes its size promised (it shrank while being read)."""


def _read_exact(f, n):
    data = f.read(n)
    if len(data) != n:
        raise _Cut()
    return data


def _read_header(f, size):
    if size < header_size(1):
        raise FormatError("the file is empty" if size == 0 else "the file is too short for a header")
    try:
        fixed = _read_exact(f, _HEADER_FIXED.size)
    except _Cut:
        raise FormatError("the file is too short for a header (it was cut while being read)")
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
    try:
        rest = _read_exact(f, hsize - _HEADER_FIXED.size)
    except _Cut:
        raise FormatError("the file is too short for its header (it was cut while being read)")
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


def _checked_body(f, head, length):
    """Reads the `length` bytes after a record's header in pieces, checking the CRC on the way.
    Returns the body when the CRC matches, None when it does not; raises _Cut."""
    keep = length <= _KEEP_WHILE_CHECKING
    start = f.tell()
    pieces = []
    crc = zlib.crc32(head)
    left = length - _CRC.size
    while left > 0:
        piece = _read_exact(f, min(_PIECE, left))
        crc = zlib.crc32(piece, crc)
        if keep:
            pieces.append(piece)
        left -= len(piece)
    stored = _read_exact(f, _CRC.size)
    if crc != _CRC.unpack(stored)[0]:
        return None
    if keep:
        pieces.append(stored)
        return b"".join(pieces)
    # A large record that checked out: its bytes are real, so reading them whole is bounded by
    # what the file holds. Check again in case it changed in between.
    f.seek(start)
    body = _read_exact(f, length)
    if zlib.crc32(body[:-4], zlib.crc32(head)) != _CRC.unpack(body[-4:])[0]:
        raise _Changed()
    return body


class _Changed(Exception):
    """A record's bytes changed between two reads."""


def iter_records(path, result=None, samples=True):
    """Yields the checked records one by one; fills `result` (a Recording) as it goes.

    Memory stays bounded whatever a file claims: records are checked in pieces of 4 MiB and a
    record's samples are taken only after its CRC matched. Pipes, devices and folders are refused
    (NotRegularFile, an OSError). A file that shrinks or grows while it is read ends in an
    incomplete tail. With samples=False the records carry no "samples" (a check of the file)."""
    rec = result if result is not None else Recording()
    with _open_regular(path) as f:
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
            try:
                head = _read_exact(f, _RECORD_HEADER.size)
            except _Cut:
                stop("incomplete record (the file ended while it was being read)")
                break
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
            try:
                body = _checked_body(f, head, total - _RECORD_HEADER.size)
            except _Cut:
                stop("incomplete record (the file ended while it was being read)")
                break
            except _Changed:
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


class MappedRecording(Recording):
    """A recording file mapped into memory (see open()). `records` holds the same dicts as
    read() gives, with `samples` a read-only view into the mapping: nothing is read until it is
    used. `checked` tells whether the records' CRCs have been verified."""

    def __init__(self):
        super().__init__()
        self.path = None
        self.checked = False
        self._map = None
        self._sizes = []  # bytes of each record, CRC included

    def verify(self):
        """Checks the CRC of every record, reading the file in pieces (not through the mapping,
        so memory use stays small). At the first record that fails, it and every record after
        it are dropped and the damaged tail is reported as read() reports it. Returns True when
        every record is intact."""
        kept = []
        with _open_regular(self.path) as f:
            for r, total in zip(self.records, self._sizes):
                crc = 0
                left = total - _CRC.size
                pos = r["offset"]
                while left > 0:
                    chunk = os.pread(f.fileno(), min(left, 1 << 22), pos)
                    if not chunk:
                        break
                    crc = zlib.crc32(chunk, crc)
                    pos += len(chunk)
                    left -= len(chunk)
                stored = os.pread(f.fileno(), _CRC.size, pos)
                if left > 0 or len(stored) != _CRC.size or crc != _CRC.unpack(stored)[0]:
                    self.damaged_tail = True
                    self.tail_offset = r["offset"]
                    self.tail_index = r["number"]
                    self.error = "record %d at byte offset %d: damaged record (checksum mismatch)" % (
                        r["number"],
                        r["offset"],
                    )
                    break
                kept.append(r)
        self.records = kept
        del self._sizes[len(kept) :]
        self.checked = True
        return not self.damaged_tail


def open(path, check=False):  # noqa: A001 (the module's own open, like gzip.open)
    """Maps a recording file and returns a MappedRecording. Only the file header and each
    record's 36-byte header and comment are read (with os.pread, not through the mapping); the
    samples are numpy views into the mapping, read by the system when they are used. The
    header's CRC is checked, and each record's structure as read() checks it; the records' CRCs
    are checked only with check=True (or a later verify()). Raises OSError and FormatError as
    read() does."""
    rec = MappedRecording()
    rec.path = path
    with _open_regular(path) as f:
        fd = f.fileno()
        size = os.fstat(fd).st_size
        rec.file_size = size
        rec.header = _read_header(f, size)
        channels = rec.header["channel_count"]
        offset = rec.header["header_size"]
        mapped = np.memmap(path, dtype=np.uint8, mode="r") if size > 0 else None
        rec._map = mapped
        # Only the record headers are read here, 36 bytes every few hundred kilobytes: no
        # read-ahead, which would read most of the file from the disk.
        # On a cold cache the headers are read ahead in batches at the places they will be if
        # the records keep their size (they usually do), so that the disk reads them together.
        advise = hasattr(os, "posix_fadvise")
        if advise:
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_RANDOM)
        prefetched_to = 0
        index = 0
        records = []
        head_and_comment = _RECORD_HEADER.size + 256  # most comments come with the header
        while offset < size:
            remaining = size - offset
            why = None
            if remaining < _RECORD_HEADER.size + _CRC.size:
                why = "incomplete record (%d bytes at the end of the file)" % remaining
            else:
                head = os.pread(fd, head_and_comment, offset)
                if len(head) < _RECORD_HEADER.size:
                    rec.damaged_tail = True
                    rec.error = "record %d at byte offset %d: %s" % (
                        index, offset, "incomplete record (the file ended while it was being read)")
                    break
                marker, number, time_us, rate, mark, nbytes, frames = _RECORD_HEADER.unpack_from(
                    head
                )
                total = _RECORD_HEADER.size + nbytes + 2 * frames * channels + _CRC.size
                if marker != RECORD_MARKER:
                    why = "no record marker"
                elif number != index:
                    why = "record number %d out of sequence" % number
                elif nbytes > MAX_COMMENT_BYTES:
                    why = "comment length %d exceeds the limit" % nbytes
                elif total > remaining:
                    why = "incomplete record (needs %d bytes, %d left in the file)" % (
                        total,
                        remaining,
                    )
            if why is not None:
                rec.damaged_tail = True
                rec.error = "record %d at byte offset %d: %s" % (index, offset, why)
                break
            if advise and offset >= prefetched_to:
                for k in range(1 if prefetched_to == 0 else 65, 129):
                    os.posix_fadvise(fd, offset + k * total, head_and_comment, os.POSIX_FADV_WILLNEED)
                prefetched_to = offset + 64 * total
            if _RECORD_HEADER.size + nbytes <= len(head):
                comment = head[_RECORD_HEADER.size : _RECORD_HEADER.size + nbytes]
            else:
                comment = os.pread(fd, nbytes, offset + _RECORD_HEADER.size)
            start = offset + _RECORD_HEADER.size + nbytes
            samples = np.ndarray((frames, channels), dtype="<i2", buffer=mapped, offset=start)
            records.append(
                {
                    "number": number,
                    "time_us": time_us,
                    "sample_rate": rate,
                    "event_mark": mark,
                    "comment": comment.decode("utf-8", errors="replace"),
                    "frames": frames,
                    "offset": offset,
                    "samples": samples,
                }
            )
            rec._sizes.append(total)
            index += 1
            offset += total
        rec.records = records
        rec.tail_offset = offset
        rec.tail_index = index
    if check:
        rec.verify()
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
        print("usage: rv8rec.py FILE", file=sys.stderr)
        return 2
    try:
        rec, result = summary(argv[1])
    except OSError as e:
        print("rv8rec.py: %s" % e, file=sys.stderr)
        return 2
    except FormatError as e:
        print("rv8rec.py: %s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    json.dump(_finite(result), sys.stdout, indent=1, allow_nan=False)
    print()
    return 1 if rec.damaged_tail else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
