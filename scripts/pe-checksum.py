#!/usr/bin/env python3
"""Makes a stripped PE file ready to sign and to compare: pads it with zeros to a whole number of
8-byte units and writes its PE checksum.

Authenticode puts the certificate table at an offset that is a multiple of 8, so a signer pads a
file that ends elsewhere, and removing the signature keeps that padding: the unsigned bytes would
not come back. The signer also rewrites the checksum, and takes it out again as the checksum of
the file without the signature, so only a file that already carries its true checksum reads back
the same. Usage: pe-checksum.py FILE..."""
import struct
import sys


def checksum_offset(data):
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[header:header + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    # The checksum is at the same place in the 32-bit and the 64-bit optional header.
    return header + 24 + 64


def pe_checksum(data, skip):
    """The checksum Windows computes: 16-bit words summed with end-around carry, the checksum
    field itself left out, plus the file's length."""
    length = len(data)
    if length % 2:
        data += b"\0"
    words = struct.unpack("<%dH" % (len(data) // 2), data)
    total = sum(words) - words[skip // 2] - words[skip // 2 + 1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + length


def finish(path):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    data += b"\0" * (-len(data) % 8)
    at = checksum_offset(data)
    struct.pack_into("<I", data, at, pe_checksum(bytes(data), at))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    for name in sys.argv[1:]:
        finish(name)
