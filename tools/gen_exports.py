#!/usr/bin/env python3
"""Write the linker version script: every function or object that a public
header declares with VORLIX_API is exported, and nothing else."""
import re
import sys

DECL = re.compile(r'\bVORLIX_API\b([^;{]*?)\b([A-Za-z_][A-Za-z0-9_]*)\s*(\(|\[|;)', re.S)


def names(text):
    text = re.sub(r'/\*.*?\*/', ' ', text, flags=re.S)
    text = re.sub(r'//[^\n]*', ' ', text)
    text = re.sub(r'^\s*#\s*define\b.*$', ' ', text, flags=re.M)
    return {m.group(2) for m in DECL.finditer(text)}


def main():
    out, headers = sys.argv[1], sys.argv[2:]
    found = set()
    for h in headers:
        with open(h, encoding='utf-8') as f:
            found |= names(f.read())
    body = ''.join(f'    {n};\n' for n in sorted(found))
    text = 'VORLIX_5 {\n  global:\n' + body + '  local:\n    *;\n};\n'
    try:
        with open(out, encoding='utf-8') as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(out, 'w', encoding='utf-8') as f:
        f.write(text)


if __name__ == '__main__':
    main()
