#!/usr/bin/env python3
"""Write the linker version script: every function or object that a public
header declares with VORLIX_API is exported, and nothing else."""
import re
import sys

# The name is the first identifier followed by '(' , '[' or ';' -- except a
# '(' that opens "(*", which belongs to a returned function pointer type.
DECL = re.compile(r'\bVORLIX_API\b([^;{]*?)\b([A-Za-z_][A-Za-z0-9_]*)\s*(\((?!\s*\*)|\[|;)', re.S)


def names(text):
    text = re.sub(r'/\*.*?\*/', ' ', text, flags=re.S)
    text = re.sub(r'//[^\n]*', ' ', text)
    text = re.sub(r'^\s*#.*$', ' ', text, flags=re.M)  # no directive declares anything
    return {m.group(2) for m in DECL.finditer(text)}


def version_script(found):
    # ld rejects a "global:" label with nothing under it, so a build whose
    # headers export nothing yet gets a script with the local part only.
    body = ''.join(f'    {n};\n' for n in sorted(found))
    global_part = '  global:\n' + body if body else ''
    return 'VORLIX_5 {\n' + global_part + '  local:\n    *;\n};\n'


def main():
    out, headers = sys.argv[1], sys.argv[2:]
    found = set()
    for h in headers:
        with open(h, encoding='utf-8') as f:
            found |= names(f.read())
    text = version_script(found)
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
