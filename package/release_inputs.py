"""What the package steps and the release check both read, below both of them: a file's bytes and
the user's trust, so that the judge of a signature depends on nothing of the packager's."""

import argparse
import array
import os
import struct
import sys

# The user's trust, which the release check takes from these variables; the package step judges a
# signature with the same.
TRUST_VARIABLES = {"cafile": "ARGB_RELEASE_CAFILE",
                   "timestamp_cafile": "ARGB_RELEASE_TIMESTAMP_CAFILE",
                   "crlfile": "ARGB_RELEASE_CRLFILE"}


def contents(path):
    with open(path, "rb") as file:
        return file.read()


def trust_from_environment():
    """The trust a user's check would use: each file its variable names, None where unset."""
    return argparse.Namespace(**{name: os.environ.get(variable) or None
                                 for name, variable in TRUST_VARIABLES.items()})


def checksum_offset(program):
    """Where the PE checksum lies in the optional header."""
    return struct.unpack_from("<I", program, 0x3C)[0] + 88


def with_checksum(program):
    """The program with its PE checksum set: its 16-bit words summed with carries folded back, plus
    its length, as the loaders that check it and the signing tools compute it."""
    data = bytearray(program)
    struct.pack_into("<I", data, checksum_offset(data), 0)
    words = array.array("H", bytes(data + bytes(len(data) % 2)))
    if sys.byteorder == "big":
        words.byteswap()
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", data, checksum_offset(data), total + len(data))
    return bytes(data)
