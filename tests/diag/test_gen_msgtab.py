#!/usr/bin/env python3
"""Checks of tools/gen_msgtab.py: input validation, quoting and signatures."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, TOOLS)

import gen_msgtab  # noqa: E402

HEADER = "# NUMBER<TAB>NAME<TAB>SEVERITY<TAB>\"TEXT\"\n"


class TempTable:
    """A data file with the given body, removed afterwards."""

    def __init__(self, body):
        self.body = body

    def __enter__(self):
        fd, self.path = tempfile.mkstemp(suffix=".txt")
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as f:
            f.write(HEADER + self.body)
        return self.path

    def __exit__(self, *exc):
        os.unlink(self.path)


class ReadTable(unittest.TestCase):
    def test_accepts_escapes_comments_and_trailing_blanks(self):
        body = ('0\tok\t0\t"ok"\n'
                "\n"
                "# a comment between rows\n"
                '5\ttab_newline\t2\t"tab\\there, newline\\n"\n'
                '6\tquote2\t4\t"quote \\" and backslash \\\\ and trailing "\n'
                '9\todd_quoted\t1\t"odd \\"quoted\\" end with quote\\""\n')
        with TempTable(body) as path:
            rows = gen_msgtab.read_table(path)
        self.assertEqual(rows, [
            (0, "ok", 0, "ok"),
            (5, "tab_newline", 2, "tab\there, newline\n"),
            (6, "quote2", 4, 'quote " and backslash \\ and trailing '),
            (9, "odd_quoted", 1, 'odd "quoted" end with quote"'),
        ])

    def test_rejects_malformed_tables(self):
        cases = [
            ("descending numbers", '5\ta\t0\t"a"\n4\tb\t0\t"b"\n'),
            ("duplicate number", '5\ta\t0\t"a"\n5\tb\t0\t"b"\n'),
            ("severity above 4", '1\ta\t5\t"a"\n'),
            ("negative number", '-1\ta\t0\t"a"\n'),
            ("number beyond 16 bits", '65536\ta\t0\t"a"\n'),
            ("blank instead of tab", '1 a 0 "a"\n'),
            ("missing name", '1\t0\t"a"\n'),
            ("missing text", '1\ta\t0\n'),
            ("unquoted text", '1\ta\t0\tplain\n'),
            ("unclosed quote", '1\ta\t0\t"plain\n'),
            ("unknown escape", '1\ta\t0\t"a\\qb"\n'),
            ("backslash at end", '1\ta\t0\t"a\\"\n'),
            ("raw control character", '1\ta\t0\t"a\x01b"\n'),
            ("untrusted conversion", '1\ta\t0\t"count %n"\n'),
            ("positional conversion", '1\ta\t0\t"%1$d"\n'),
            ("duplicate name", '1\tsame\t0\t"a"\n2\tsame\t0\t"b"\n'),
            ("name of an IOSTAT value", '1\tiostat_end\t0\t"a"\n'),
            ("upper-case name", '1\tEof\t0\t"a"\n'),
            ("name starting with a digit", '1\t2nd\t0\t"a"\n'),
            ("name with a double underscore", '1\ta__b\t0\t"a"\n'),
            ("name ending in an underscore", '1\ta_\t0\t"a"\n'),
            ("name with a hyphen", '1\tend-of-file\t0\t"a"\n'),
            ("C++ keyword as name", '1\tdelete\t0\t"a"\n'),
            ("empty name", '1\t\t0\t"a"\n'),
            ("no rows at all", "# only a comment\n"),
        ]
        for name, body in cases:
            with self.subTest(name), TempTable(body) as path:
                with self.assertRaises(gen_msgtab.TableError):
                    gen_msgtab.read_table(path)


class Signature(unittest.TestCase):
    # The same cases as the C++ test of for__printf_signature: both
    # implementations must follow one set of rules.
    CASES = [
        ("", ""),
        ("no conversions at all", ""),
        ("100%% sure", ""),
        ("%%d", ""),
        ("%%%d%%", "d"),
        ("%d", "d"),
        ("unit %d, file %s", "d,s"),
        ("file%s", "s"),
        ("%s%d", "s,d"),
        ("%i", "i"),
        ("%8.8x", "x"),
        ("%.*s", "*s"),
        ("%*.*f", "**f"),
        ("%-*d", "*d"),
        ("%*d", "*d"),
        ("%.0f %.d", "f,d"),
        ("%ld %lx", "ld,lx"),
        ("0x%lx (%ld)", "lx,ld"),
        ("%hhu %hd %llu %zu %Zd %jd %td %Lf %qd", "hhu,hd,llu,zu,Zd,jd,td,Lf,qd"),
        ("%+08.3e %-10s % d %#o %#X", "e,s,d,o,X"),
        ("%'d %Id", "d,d"),
        ("%c%p%a%G%E%F%u", "c,p,a,G,E,F,u"),
        ("%ls %lc %S %C", "ls,lc,S,C"),
        ("%m", ""),
        ("%s: %m (%d)", "s,d"),
        ("%n", "!"),
        ("%d %hn %s", "d,!"),
        ("%1$d", "!"),
        ("%d %2$s %d", "d,!"),
        ("%*1$d", "!"),
        ("%.*2$d", "!"),
        ("trailing %", "!"),
        ("%l", "!"),
        ("%-", "!"),
        ("%y %d", "!"),
        ("%5%", "!"),
        ("%*m", "!"),
        ("%lm", "!"),
        ("%d\0%s", "d"),
    ]

    def test_tricky_formats(self):
        for fmt, sig in self.CASES:
            with self.subTest(fmt=fmt):
                self.assertEqual(gen_msgtab.printf_signature(fmt), sig)


class Quoting(unittest.TestCase):
    def test_c_literal(self):
        cases = [
            ("plain", '"plain"'),
            ('a"b', '"a\\"b"'),
            ("a\\b", '"a\\\\b"'),
            ("a\tb\n", '"a\\tb\\n"'),
            ("trailing ", '"trailing "'),
            # Octal escapes keep three digits so a following digit stays a digit.
            ("\u00e91", '"\\303\\2511"'),
        ]
        for text, literal in cases:
            with self.subTest(text=text):
                self.assertEqual(gen_msgtab.c_literal(text), literal)

    def test_gencat_text(self):
        cases = [
            ("plain", '"plain"'),
            ('a"b', '"a\\"b"'),
            ("a\\b", '"a\\\\b"'),
            ("a\tb\n", '"a\\tb\\n"'),
            (" lead and trail ", '" lead and trail "'),
            ("100%", '"100%"'),
        ]
        for text, quoted in cases:
            with self.subTest(text=text):
                self.assertEqual(gen_msgtab.gencat_text(text), quoted)


class CommandLine(unittest.TestCase):
    def run_tool(self, *args):
        return subprocess.run([sys.executable, os.path.join(TOOLS, "gen_msgtab.py"), *args],
                              capture_output=True, text=True)

    def test_bad_table_fails_without_output(self):
        with TempTable('2\ta\t0\t"a"\n1\tb\t0\t"b"\n') as path, tempfile.TemporaryDirectory() as out:
            result = self.run_tool(path, out)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("not above", result.stderr)
            self.assertEqual(os.listdir(out), [])

    def test_writes_all_outputs(self):
        with TempTable('3\tunit_file\t2\t"unit %d, file %s"\n') as path, tempfile.TemporaryDirectory() as out:
            result = self.run_tool(path, out)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(out, "for_msgtab.cpp"), encoding="utf-8") as f:
                cpp = f.read()
            with open(os.path.join(out, "vorlix_msg.msg"), encoding="utf-8") as f:
                msg = f.read().splitlines()
            with open(os.path.join(out, "for_msgnum.h"), encoding="utf-8") as f:
                names = [line.split() for line in f.read().splitlines()]
        self.assertIn('{3, 2, "unit %d, file %s", "d,s"},', cpp)
        self.assertIn("static_assert(1 == for_msgtab_count", cpp)
        self.assertEqual(msg[-3:], ['$quote "', "$set 1", '3 "unit %d, file %s"'])
        self.assertIn(["namespace", "msg", "{"], names)
        self.assertIn(["unit_file", "=", "3,"], names)
        self.assertIn(["iostat_end", "=", "-1,"], names)
        self.assertIn(["iostat_eor", "=", "-2,"], names)

    def test_usage(self):
        self.assertEqual(self.run_tool().returncode, 2)


if __name__ == "__main__":
    unittest.main()
