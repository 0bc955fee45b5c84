#!/usr/bin/env python3
"""Writes the gencat source of a stand-in translation of the message table.

Usage: make_alt_catalog.py DATA_FILE OUTPUT.msg

Every text becomes "[xx] " followed by the built-in text, so that its
conversions stay the same and a test can tell a translated text from a
built-in one. A few texts are replaced by ones whose conversions do not
match the built-in text; the library must refuse those (the tests list the
same numbers).
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', 'tools'))
import gen_msgtab  # noqa: E402

OVERRIDES = {
    9: "[xx] access refused, unit %d, file %s",  # reworded, same conversions: used
    10: "[xx] %2$s exists, unit %1$d",            # positional: refused
    29: "[xx] file %s not found, unit %d",        # arguments swapped: refused
    30: "[xx] open failure%n",                    # %n: refused
    452: "[xx] warning %s: ",                     # header asking for a string: refused
    455: "VORLIX-RUNTIME-LONG",                   # perror prefix, cut to 15 characters
}


def main(argv):
    data, out = argv[1], argv[2]
    rows = [(n, name, sev, OVERRIDES.get(n, "[xx] " + text))
            for n, name, sev, text in gen_msgtab.read_table(data)]
    with open(out, "w", encoding="utf-8") as f:
        f.write(gen_msgtab.emit_msg(rows, os.path.basename(data)))


if __name__ == "__main__":
    main(sys.argv)
