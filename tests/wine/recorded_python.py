#!/usr/bin/python3
"""The package step's Python, its command line first appended to the file ARGB_TEST_COMMANDS names."""
import os
import sys

with open(os.environ["ARGB_TEST_COMMANDS"], "a", encoding="utf-8") as commands:
    commands.write(" ".join(sys.argv[1:]) + "\n")
os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv[1:]])
