"""Recording files mapped into memory: rv8rec.open()."""

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
            start = offset + before + nbytes
            samples = np.ndarray((frames, channels), dtype="<i2", buffer=mapped, offset=start)
            records.append(
                {
                    "number": number,
                    "time_us": time_us,
                    "sample_rate": rate,
                    "event_mark": mark,
                    "comment": head[before : before + nbytes].decode("utf-8", errors="replace"),
                    "frames": frames,
                    "offset": offset,
                    "settings": settings,
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
