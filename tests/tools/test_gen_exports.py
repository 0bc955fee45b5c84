#!/usr/bin/env python3
"""Checks of tools/gen_exports.py: which declarations it exports, and that
the linker accepts the script it writes, with and without exported names."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', 'tools'))
import gen_exports  # noqa: E402


class Names(unittest.TestCase):
    def test_declarations(self):
        cases = [
            ('VORLIX_API int for_open(void);', {'for_open'}),
            ('VORLIX_API void for_errmsg(int n, char *s, int64_t l, ...);', {'for_errmsg'}),
            ('VORLIX_API const char *const for__names[3];', {'for__names'}),
            ('VORLIX_API int a(void);\nVORLIX_API int b(int);', {'a', 'b'}),
            ('VORLIX_API int (*get_handler(void))(int);', {'get_handler'}),
            ('/* VORLIX_API int hidden(void); */', set()),
            ('// VORLIX_API int hidden(void);', set()),
            ('#define VORLIX_API extern "C"', set()),
            ('int plain(void);', set()),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(gen_exports.names(text), expected)


class Script(unittest.TestCase):
    def test_texts(self):
        self.assertEqual(gen_exports.version_script(set()),
                         'VORLIX_5 {\n  local:\n    *;\n};\n')
        self.assertEqual(gen_exports.version_script({'b', 'a'}),
                         'VORLIX_5 {\n  global:\n    a;\n    b;\n  local:\n    *;\n};\n')

    @unittest.skipUnless(shutil.which('cc'), 'no C compiler')
    def test_linker_accepts_script(self):
        for exported in (set(), {'f'}):
            with self.subTest(exported=sorted(exported)), tempfile.TemporaryDirectory() as d:
                src = os.path.join(d, 'f.c')
                vers = os.path.join(d, 'f.map')
                with open(src, 'w') as f:
                    f.write('int f(void) { return 0; }\nint g(void) { return 1; }\n')
                with open(vers, 'w') as f:
                    f.write(gen_exports.version_script(exported))
                so = os.path.join(d, 'f.so')
                r = subprocess.run(['cc', '-shared', '-fPIC', '-Wl,--version-script=' + vers,
                                    src, '-o', so], capture_output=True, text=True)
                self.assertEqual(r.returncode, 0, r.stderr)
                syms = subprocess.run(['nm', '-D', '--defined-only', so],
                                      capture_output=True, text=True).stdout
                names = {line.split()[-1].split('@')[0] for line in syms.splitlines()}
                self.assertEqual(names & {'f', 'g'}, exported)


if __name__ == '__main__':
    unittest.main()
