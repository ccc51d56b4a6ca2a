"""Where the build put the programs under test; CTest passes these in the environment."""

import os

UPDATER = os.environ.get("ARGB_UPDATER", "")
# The same updater built with a system directory of the tests' own, to vary what it holds.
UPDATER_PRIVATE_SYSTEM = os.environ.get("ARGB_UPDATER_PRIVATE_SYSTEM", "")
PRIVATE_SYSTEM_DIR = os.environ.get("ARGB_PRIVATE_SYSTEM_DIR", "")
PRIVATE_LOCK_DIR = os.environ.get("ARGB_PRIVATE_LOCK_DIR", "")
EMULATED_DRIVER = os.environ.get("ARGB_EMULATED_DRIVER", "")
LIBRARY_WITHOUT_EXPORT = os.environ.get("ARGB_LIBRARY_WITHOUT_EXPORT", "")
EMU_TOOL = os.environ.get("ARGB_EMU_TOOL", "")
FIRMWARE_IMAGE = os.environ.get("ARGB_FIRMWARE_IMAGE", "")
