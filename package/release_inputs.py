"""What the package steps and the release check both read, below both of them: a file's bytes and
the user's trust, so that the judge of a signature depends on nothing of the packager's."""

import argparse
import os

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
