"""The recording file's layout (docs/recording-format.md): constants, the file header, the
record header and the settings block of version 2, and opening a file safely."""

import math
import os
import stat
import struct
import zlib

MAGIC = b"\x89RV8\r\n\x1a\n"
FORMAT_VERSION = 2  # the newest; every version from 1 on is read
SAMPLE_FORMAT_INT16 = 1
RECORD_MARKER = 0x43523852  # b"R8RC"
MAX_COMMENT_BYTES = 65536
MAX_SETTINGS_EXTRA = 65536

# magic, version, header size, channel count, sample format, sample rate
_HEADER_FIXED = struct.Struct("<8sHIHHd")
# marker, number, time, sample rate, event mark, comment bytes, frames
_RECORD_HEADER = struct.Struct("<IIqdiII")
_CRC = struct.Struct("<I")
# Version 2's settings block: its size, acquisition number, time written, record length,
# post-trigger samples, measure mode, trigger source, trigger slope; then per channel the
# sensitivity, trigger level, trigger hysteresis and coupling.
_SETTINGS_FIXED = struct.Struct("<IIqiiBBBx")
_SETTINGS_CHANNEL = struct.Struct("<dddB7x")
_UNKNOWN = 0xFF
_MODES = {1: "channel 1", 2: "channel 2", 3: "chop"}
_SOURCES = {0: "channel 1", 1: "channel 2", 5: "none"}
_SLOPES = {0: "rising", 1: "falling"}
_COUPLINGS = {0: "AC", 1: "DC"}


def header_size(channels):
    return _HEADER_FIXED.size + 16 * channels + 12


def settings_size(channels):
    return _SETTINGS_FIXED.size + _SETTINGS_CHANNEL.size * channels


def _settings(block, channels):
    """A record's settings as a dict (values None where unknown); `block` is version 2's settings
    block, or None for a version 1 record, which has none."""
    if block is None:
        keys = ("acquisition", "written_us", "record_length", "post_samples", "measure_mode")
        s = dict.fromkeys(keys + ("trigger_source", "trigger_slope"))
        s["channels"] = [
            dict.fromkeys(("sensitivity", "coupling", "trigger_level", "trigger_hysteresis"))
            for _ in range(channels)
        ]
        return s
    _, number, written, length, post, mode, source, slope = _SETTINGS_FIXED.unpack_from(block)
    per_channel = []
    for c in range(channels):
        sens, level, hys, coupling = _SETTINGS_CHANNEL.unpack_from(
            block, _SETTINGS_FIXED.size + _SETTINGS_CHANNEL.size * c
        )
        per_channel.append(
            {
                "sensitivity": None if math.isnan(sens) else sens,
                "coupling": _COUPLINGS.get(coupling),
                "trigger_level": None if math.isnan(level) else level,
                "trigger_hysteresis": None if math.isnan(hys) else hys,
            }
        )
    return {
        "acquisition": number or None,
        "written_us": written,
        "record_length": None if length < 0 else length,
        "post_samples": None if post < 0 else post,
        "measure_mode": _MODES.get(mode),
        "trigger_source": _SOURCES.get(source),
        "trigger_slope": _SLOPES.get(slope),
        "channels": per_channel,
    }


def _check_head(head, index, remaining, channels, version):
    """Checks a record's header (36 bytes, and in version 2 the settings block's size field that
    follows). Returns the header's fields, the settings block's size, the record's size and why
    the record is not sound (None when it is)."""
    marker, number, time_us, rate, mark, nbytes, frames = _RECORD_HEADER.unpack_from(head)
    block = struct.unpack_from("<I", head, _RECORD_HEADER.size)[0] if version >= 2 else 0
    total = _RECORD_HEADER.size + block + nbytes + 2 * frames * channels + _CRC.size
    least = settings_size(channels)
    why = None
    if marker != RECORD_MARKER:
        why = "no record marker"
    elif number != index:
        why = "record number %d out of sequence" % number
    elif nbytes > MAX_COMMENT_BYTES:
        why = "comment length %d exceeds the limit" % nbytes
    elif version >= 2 and not least <= block <= least + MAX_SETTINGS_EXTRA:
        why = "settings block size %d does not fit %d channels" % (block, channels)
    elif total > remaining:
        why = "incomplete record (needs %d bytes, %d left in the file)" % (total, remaining)
    return (number, time_us, rate, mark, nbytes, frames), block, total, why


def _head_size(version):
    """Bytes read of a record before its settings block: the header and the block's size."""
    return _RECORD_HEADER.size + (4 if version >= 2 else 0)


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
    if not 1 <= version <= FORMAT_VERSION:
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


