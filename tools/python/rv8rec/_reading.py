"""Reading a record's bytes by position: whole pieces with os.pread, and the holes of a sparse
file counted as the zeros they read as without reading them, so that a record that claims
gigabytes of a hole costs neither the time to read them nor memory."""

import os
import zlib

from ._layout import _CRC, _Cut

_POLY = 0xEDB88320  # the reflected CRC-32 polynomial (zlib's)


def _gf2_times(matrix, vector):
    result = 0
    row = 0
    while vector:
        if vector & 1:
            result ^= matrix[row]
        vector >>= 1
        row += 1
    return result


def _gf2_square(matrix):
    return [_gf2_times(matrix, matrix[n]) for n in range(32)]


def crc32_zeros(count, crc=0):
    """zlib.crc32(bytes(count), crc), in time that grows with the number of bits of `count`
    rather than with `count` (the operator of `count` zero bytes on the CRC register, by
    repeated squaring of the one-bit operator, as zlib's crc32_combine does)."""
    if count <= 0:
        return crc
    register = crc ^ 0xFFFFFFFF
    odd = [_POLY] + [1 << n for n in range(31)]  # one zero bit
    even = _gf2_square(odd)  # two zero bits
    odd = _gf2_square(even)  # four zero bits
    while True:
        even = _gf2_square(odd)  # first pass: one zero byte
        if count & 1:
            register = _gf2_times(even, register)
        count >>= 1
        if not count:
            break
        odd = _gf2_square(even)
        if count & 1:
            register = _gf2_times(odd, register)
        count >>= 1
        if not count:
            break
    return register ^ 0xFFFFFFFF


def pread_exact(fd, n, offset):
    """Exactly `n` bytes at `offset`; raises _Cut when the file ends first."""
    data = os.pread(fd, n, offset)
    while len(data) < n:
        more = os.pread(fd, n - len(data), offset + len(data))
        if not more:
            raise _Cut()
        data += more
    return data


def hole_at(fd, offset, n):
    """Bytes of a hole at `offset`, at most n: 0 for data, or where nothing is known (a file
    system without holes reports data everywhere). Past the file's present end nothing counts as
    a hole, so that a file cut while it is read ends the read."""
    if not hasattr(os, "SEEK_DATA"):
        return 0
    try:
        data = os.lseek(fd, offset, os.SEEK_DATA)
    except OSError:  # ENXIO: no data from `offset` on: a hole up to the end, or past the end
        return n if offset + n <= os.fstat(fd).st_size else 0
    return min(n, max(0, data - offset))


def checked_body(fd, head, start, length, piece, keep_while_checking):
    """Reads the `length` bytes at `start` after a record's header `head` in pieces, checking
    the CRC on the way. Returns the bytes when the CRC matches, None when it does not; raises
    _Cut when the file ends early and _Changed when the record changed between two reads."""
    keep = length <= keep_while_checking
    pieces = []
    crc = zlib.crc32(head)
    pos = start
    left = length - _CRC.size
    while left > 0:
        hole = hole_at(fd, pos, left)  # a hole of any length costs one step
        if hole:
            crc = crc32_zeros(hole, crc)
            if keep:  # at most keep_while_checking bytes in all
                pieces.append(bytes(hole))
            pos += hole
            left -= hole
            continue
        chunk = pread_exact(fd, min(piece, left), pos)
        crc = zlib.crc32(chunk, crc)
        if keep:
            pieces.append(chunk)
        pos += len(chunk)
        left -= len(chunk)
    stored = pread_exact(fd, _CRC.size, pos)
    if crc != _CRC.unpack(stored)[0]:
        return None
    if keep:
        pieces.append(stored)
        return b"".join(pieces)
    # A large record that checked out: its bytes are real, so reading them whole is bounded by
    # what the file holds. Check again in case it changed in between.
    body = pread_exact(fd, length, start)
    if zlib.crc32(body[:-4], zlib.crc32(head)) != _CRC.unpack(body[-4:])[0]:
        raise Changed()
    return body


class Changed(Exception):
    """A record's bytes changed between two reads."""
