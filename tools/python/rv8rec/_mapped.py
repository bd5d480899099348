"""Recording files opened for reading on demand: rv8rec.open()."""

import collections.abc
import os
import zlib

import numpy as np

from ._layout import (
    _CRC,
    _RECORD_HEADER,
    Recording,
    _check_head,
    _head_size,
    _open_regular,
    _read_header,
    _settings,
    settings_size,
)
from ._reading import crc32_zeros, hole_at


class FileChanged(OSError):
    """The recording no longer holds what open() found in it: the file was cut short (or
    otherwise changed) after it was opened, so a record's samples are not there any more."""


class _Source:
    """The open file the records of one open() read their samples from; it stays open while the
    recording or any of its records is in use (or until MappedRecording.close())."""

    def __init__(self, path, f):
        self.path = path
        self.file = f

    def __del__(self):
        self.file.close()  # once nothing uses it (quietly: the file was meant to stay open)

    def samples(self, number, offset, frames, channels):
        n = 2 * frames * channels
        if self.file.closed:
            raise ValueError("the recording %s was closed" % self.path)
        fd = self.file.fileno()
        data = os.pread(fd, n, offset) if n else b""
        while len(data) < n:
            more = os.pread(fd, n - len(data), offset + len(data))
            if not more:
                raise FileChanged(
                    "%s: the samples of record %d (bytes %d to %d) are no longer in the file, "
                    "which is now %d bytes long: it was cut after it was opened"
                    % (self.path, number, offset, offset + n, os.fstat(fd).st_size)
                )
            data += more
        # A read-only array over the bytes read (not a copy of them), as a view would be.
        return np.frombuffer(data, dtype="<i2").reshape(frames, channels)


class MappedRecord(collections.abc.Mapping):
    """One record of open(): a read-only mapping with the keys and values of a record of read(),
    whose "samples" are read from the file each time they are asked for (a read-only int16
    array of shape (frames, channels)). When the file no longer holds them (it was cut after
    open()), asking for them raises FileChanged."""

    __slots__ = ("_fields", "_source", "_at", "_channels")

    def __init__(self, fields, source, at, channels):
        self._fields = fields
        self._source = source
        self._at = at
        self._channels = channels

    def __getitem__(self, key):
        if key == "samples":
            f = self._fields
            return self._source.samples(f["number"], self._at, f["frames"], self._channels)
        return self._fields[key]

    def __iter__(self):
        yield from self._fields
        yield "samples"

    def __len__(self):
        return len(self._fields) + 1

    def __repr__(self):
        return "MappedRecord(%r, samples at byte %d)" % (self._fields, self._at)


class MappedRecording(Recording):
    """A recording file opened for reading on demand (see open()). `records` holds MappedRecord
    mappings with the same keys and values as the dicts of read(); their samples are read when
    they are asked for. `checked` tells whether the records' CRCs have been verified. close()
    (or a with block) closes the file; it is closed anyway once neither the recording nor any of
    its records is in use."""

    def __init__(self):
        super().__init__()
        self.path = None
        self.checked = False
        self._source = None
        self._sizes = []  # bytes of each record, CRC included

    def close(self):
        if self._source is not None:
            self._source.file.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def verify(self):
        """Checks the CRC of every record, reading the open file in pieces (a hole of a sparse
        file counted as zeros without reading it), so memory use stays small. At the first
        record that fails, it and every record after it are dropped and the damaged tail is
        reported as read() reports it. Returns True when every record is intact."""
        kept = []
        fd = self._source.file.fileno()
        for r, total in zip(self.records, self._sizes):
            crc = 0
            left = total - _CRC.size
            pos = r["offset"]
            while left > 0:
                hole = hole_at(fd, pos, left)
                if hole:
                    crc = crc32_zeros(hole, crc)
                    pos += hole
                    left -= hole
                    continue
                chunk = os.pread(fd, min(left, 1 << 22), pos)
                if not chunk:
                    break
                crc = zlib.crc32(chunk, crc)
                pos += len(chunk)
                left -= len(chunk)
            stored = os.pread(fd, _CRC.size, pos)
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
    """Opens a recording file and returns a MappedRecording. Only the file header and each
    record's header, settings block and comment are read (with os.pread); a record's samples are
    read when r["samples"] is asked for. The header's CRC is checked, and each record's
    structure as read() checks it; the records' CRCs are checked only with check=True (or a
    later verify()). Raises OSError and FormatError as read() does.

    A file cut short after open() is never read beyond its new end: asking for samples that
    are gone raises FileChanged (an OSError); everything read before stays valid."""
    rec = MappedRecording()
    rec.path = path
    f = _open_regular(path)
    try:
        rec._source = _Source(path, f)
        fd = f.fileno()
        size = os.fstat(fd).st_size
        rec.file_size = size
        rec.header = _read_header(f, size)
        channels = rec.header["channel_count"]
        offset = rec.header["header_size"]
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
        version = rec.header["version"]
        fixed = _head_size(version)
        if version >= 2:
            fixed += settings_size(channels) - 4
        head_and_comment = fixed + 256  # most comments come with the header
        while offset < size:
            remaining = size - offset
            why = None
            if remaining < _head_size(version) + _CRC.size:
                why = "incomplete record (%d bytes at the end of the file)" % remaining
            else:
                head = os.pread(fd, head_and_comment, offset)
                if len(head) < _head_size(version):
                    rec.damaged_tail = True
                    rec.error = "record %d at byte offset %d: %s" % (
                        index, offset, "incomplete record (the file ended while it was being read)")
                    break
                fields, block, total, why = _check_head(head, index, remaining, channels, version)
            if why is not None:
                rec.damaged_tail = True
                rec.error = "record %d at byte offset %d: %s" % (index, offset, why)
                break
            number, time_us, rate, mark, nbytes, frames = fields
            if advise and offset >= prefetched_to:
                for k in range(1 if prefetched_to == 0 else 65, 129):
                    os.posix_fadvise(fd, offset + k * total, head_and_comment, os.POSIX_FADV_WILLNEED)
                prefetched_to = offset + 64 * total
            before = _RECORD_HEADER.size + block  # header and settings block
            if before + nbytes > len(head):
                head = os.pread(fd, before + nbytes, offset)
            settings = _settings(head[_RECORD_HEADER.size : before] if block else None, channels)
            fields = {
                "number": number,
                "time_us": time_us,
                "sample_rate": rate,
                "event_mark": mark,
                "comment": head[before : before + nbytes].decode("utf-8", errors="replace"),
                "frames": frames,
                "offset": offset,
                "settings": settings,
            }
            records.append(MappedRecord(fields, rec._source, offset + before + nbytes, channels))
            rec._sizes.append(total)
            index += 1
            offset += total
        rec.records = records
        rec.tail_offset = offset
        rec.tail_index = index
    except BaseException:
        f.close()
        raise
    if check:
        rec.verify()
    return rec
