#!/usr/bin/env python3
"""Generate the run-time message table of libvorlix from its data file.

Usage: gen_msgtab.py DATA_FILE OUTPUT_DIR

Reads DATA_FILE (src/diag/for_msgtab.txt; its header comment describes the
line format) and writes into OUTPUT_DIR:

  for_msgtab.cpp   the table for_msgtab_norvo and the lookup for__msg_row
  vorlix_msg.msg   message source for gencat, every text in set 1 under its
                   number, so that the built-in texts also exist as a catalog
  for_msgnum.h     the message numbers by name, `msg::eof_during_read` for 24,
                   so that code returns and compares statuses by name; it
                   also names the IOSTAT values of end of file and end of
                   record, which are no messages

Each line of the data file gives a message its number, its symbolic name, its
severity and its text.  A name is lower-case snake_case (a letter, then
letters, digits and single underscores, not ending in one), unique in the
table, and neither a C++ keyword nor one of the IOSTAT names.

Each row of the table also carries the printf conversion signature of its
text.  A translated catalog text is only usable when its signature equals the
built-in one; the run time computes signatures of catalog texts with
for__printf_signature (src/diag/for_msgtab_sig.cpp), which must follow exactly
the rules of printf_signature below.  The tests compare the two on every row.

Any malformed input line is a hard error: a broken table must stop the build,
not ship.
"""

import keyword
import os
import re
import sys

MAX_SEVERITY = 4

# Flag characters of glibc printf, including the thousands grouping (') and
# locale digits (I) extensions.
_FLAGS = "-+ #0'I"
# Longest first, so that "hh" is not read as "h" followed by a letter.
_LENGTHS = ("hh", "ll", "h", "l", "L", "q", "j", "z", "Z", "t")
# Conversions that consume an argument.  %n is deliberately absent: a text
# that writes through an argument pointer must never be accepted.
_LETTERS = "diouxXeEfFgGaAcspCS"
# Marks a conversion that cannot be trusted (positional, unknown, %n, cut
# off).  No built-in text contains one, so a catalog text that does can never
# match a built-in signature.
BAD = "!"

# IOSTAT values that are not message numbers, named beside the messages.
IOSTAT_NAMES = (("iostat_end", -1), ("iostat_eor", -2))
_NAME = re.compile(r"[a-z](?:_?[a-z0-9])*")
# Words the generated enumerators must not spell.  Python's keywords cover
# few of them; these are the C++ ones a snake_case name could collide with.
_CXX_KEYWORDS = frozenset("""
    alignas alignof and and_eq asm auto bitand bitor bool break case catch
    char char8_t char16_t char32_t class compl concept const consteval
    constexpr constinit const_cast continue co_await co_return co_yield
    decltype default delete do double dynamic_cast else enum explicit export
    extern false float for friend goto if inline int long mutable namespace
    new noexcept not not_eq nullptr operator or or_eq private protected public
    register reinterpret_cast requires return short signed sizeof static
    static_assert static_cast struct switch template this thread_local throw
    true try typedef typeid typename union unsigned using virtual void
    volatile wchar_t while xor xor_eq
""".split())


# Longest width or precision a message text may give (for_msg_field_digits).
FIELD_DIGITS = 3


def printf_signature(fmt):
    """Conversions of fmt in order, joined by ','.

    Each conversion is written as one '*' per star width or precision, then
    its length modifiers, then its letter: "%.*s" -> "*s", "%8.8x" -> "x",
    "%ld" -> "ld".  "%%" and "%m" take no argument and are left out.  An
    unusable conversion appends BAD and ends the scan.
    """
    # printf stops at a NUL, and so does the argument list it asks for.
    fmt = fmt.split("\0", 1)[0]
    out = []
    i, n = 0, len(fmt)
    while i < n:
        if fmt[i] != "%":
            i += 1
            continue
        i += 1
        if i < n and fmt[i] == "%":
            i += 1
            continue
        # Positional arguments ("%2$s") may reorder the arguments; refuse them.
        j = i
        while j < n and fmt[j].isdigit():
            j += 1
        if j > i and j < n and fmt[j] == "$":
            out.append(BAD)
            break
        stars = ""
        too_wide = False
        while i < n and fmt[i] in _FLAGS:
            i += 1
        if i < n and fmt[i] == "*":
            stars += "*"
            i += 1
        else:
            start = i
            while i < n and fmt[i].isdigit():
                i += 1
            too_wide = too_wide or i - start > FIELD_DIGITS
        if i < n and fmt[i] == ".":
            i += 1
            if i < n and fmt[i] == "*":
                stars += "*"
                i += 1
            else:
                start = i
                while i < n and fmt[i].isdigit():
                    i += 1
                too_wide = too_wide or i - start > FIELD_DIGITS
        # A width or precision past FIELD_DIGITS digits costs without bound.
        if too_wide:
            out.append(BAD)
            break
        # A digit straight after a star can only start a positional star.
        if stars and i < n and fmt[i].isdigit():
            out.append(BAD)
            break
        length = ""
        for mod in _LENGTHS:
            if fmt.startswith(mod, i):
                length = mod
                i += len(mod)
                break
        if i < n and fmt[i] in _LETTERS:
            out.append(stars + length + fmt[i])
            i += 1
        elif i < n and fmt[i] == "m" and not stars and not length:
            i += 1
        else:
            out.append(BAD)
            break
    return ",".join(out)


class TableError(Exception):
    pass


def _unescape(text, where):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            if i + 1 >= len(text):
                raise TableError(f"{where}: backslash at end of text")
            e = text[i + 1]
            if e == "n":
                out.append("\n")
            elif e == "t":
                out.append("\t")
            elif e in "\\\"":
                out.append(e)
            else:
                raise TableError(f"{where}: unknown escape \\{e}")
            i += 2
            continue
        if ord(c) < 0x20 or ord(c) == 0x7F:
            raise TableError(f"{where}: control character in text")
        out.append(c)
        i += 1
    return "".join(out)


def read_table(path):
    """Rows (number, name, severity, text) of the data file, validated."""
    rows = []
    names = {name: None for name, _ in IOSTAT_NAMES}
    with open(path, encoding="utf-8", newline="") as f:
        for lineno, line in enumerate(f, 1):
            where = f"{path}:{lineno}"
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t", 3)
            if len(fields) != 4:
                raise TableError(f"{where}: expected NUMBER<TAB>NAME<TAB>SEVERITY<TAB>\"TEXT\"")
            num_s, name, sev_s, quoted = fields
            if not num_s.isdigit() or not sev_s.isdigit():
                raise TableError(f"{where}: number and severity must be decimal")
            number, severity = int(num_s), int(sev_s)
            if number > 0xFFFF:
                # Diagnostics look up only the low 16 bits of a number.
                raise TableError(f"{where}: number {number} does not fit 16 bits")
            if not _NAME.fullmatch(name):
                raise TableError(f"{where}: name {name!r} is not lower-case snake_case")
            if name in _CXX_KEYWORDS or keyword.iskeyword(name):
                raise TableError(f"{where}: name {name!r} is a keyword")
            if name in names:
                other = names[name]
                taken = "an IOSTAT name" if other is None else f"the name of message {other}"
                raise TableError(f"{where}: name {name!r} is already {taken}")
            names[name] = number
            if severity > MAX_SEVERITY:
                raise TableError(f"{where}: severity {severity} out of range")
            if len(quoted) < 2 or quoted[0] != '"' or quoted[-1] != '"':
                raise TableError(f"{where}: text must be enclosed in double quotes")
            text = _unescape(quoted[1:-1], where)
            if rows and number <= rows[-1][0]:
                raise TableError(f"{where}: number {number} not above {rows[-1][0]}")
            rows.append((number, name, severity, text))
    if not rows:
        raise TableError(f"{path}: no messages")
    for number, _, _, text in rows:
        if BAD in printf_signature(text).split(","):
            raise TableError(f"{path}: message {number} has an unusable printf conversion")
    return rows


def c_literal(text):
    """A C++ string literal for text; non-ASCII bytes as octal escapes."""
    out = ['"']
    for b in text.encode("utf-8"):
        c = chr(b)
        if c == "\\":
            out.append("\\\\")
        elif c == '"':
            out.append('\\"')
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        elif 0x20 <= b < 0x7F:
            out.append(c)
        else:
            # Three digits always, so a following digit cannot extend it.
            out.append(f"\\{b:03o}")
    out.append('"')
    return "".join(out)


def gencat_text(text):
    """A quoted gencat message text (with $quote "), escapes as gencat reads them."""
    out = ['"']
    for c in text:
        if c == "\\":
            out.append("\\\\")
        elif c == '"':
            out.append('\\"')
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        else:
            out.append(c)
    out.append('"')
    return "".join(out)


def emit_cpp(rows, source_name):
    lines = [
        f"// Generated by gen_msgtab.py from {source_name}; do not edit.",
        '#include "diag/for_msgtab.h"',
        "",
        "#include <algorithm>",
        "",
        f"static_assert({len(rows)} == for_msgtab_count,",
        f'              "for_msgtab_count does not match the rows of {source_name}");',
        "",
        "const For_Msg_Row for_msgtab_norvo[for_msgtab_count] = {",
    ]
    for number, _, severity, text in rows:
        sig = printf_signature(text)
        lines.append(f"    {{{number}, {severity}, {c_literal(text)}, {c_literal(sig)}}},")
    lines += [
        "};",
        "",
        "const For_Msg_Row *for__msg_row(int number)",
        "{",
        "    if (number < 0)",
        "        return nullptr;",
        "    const auto key = static_cast<uint32_t>(number);",
        "    const For_Msg_Row *end = for_msgtab_norvo + for_msgtab_count;",
        "    const For_Msg_Row *row = std::lower_bound(",
        "        for_msgtab_norvo, end, key,",
        "        [](const For_Msg_Row &r, uint32_t k) { return r.number < k; });",
        "    return (row != end && row->number == key) ? row : nullptr;",
        "}",
        "",
    ]
    return "\n".join(lines)


def emit_msg(rows, source_name):
    lines = [
        f"$ Message catalog source of libvorlix, generated by gen_msgtab.py from {source_name}.",
        "$ Build with: gencat vorlix_msg.cat vorlix_msg.msg",
        '$quote "',
        "$set 1",
    ]
    for number, _, _, text in rows:
        lines.append(f"{number} {gencat_text(text)}")
    lines.append("")
    return "\n".join(lines)


def emit_header(rows, source_name):
    width = max(len(name) for _, name, _, _ in rows)
    lines = [
        f"// Generated by gen_msgtab.py from {source_name}; do not edit.",
        "// Message numbers by name: every status the library returns, compares or",
        "// reports is one of these.",
        "#pragma once",
        "",
        "namespace msg {",
        "enum : int {",
    ]
    for name, value in IOSTAT_NAMES:
        lines.append(f"    {name.ljust(width)} = {value},")
    for number, name, _, _ in rows:
        lines.append(f"    {name.ljust(width)} = {number},")
    lines += ["};", "}  // namespace msg", ""]
    return "\n".join(lines)


def write_if_changed(path, content):
    # Leaving an unchanged file alone keeps its timestamp, so an edit that
    # does not change the output does not rebuild what depends on it.
    try:
        with open(path, encoding="utf-8", newline="") as f:
            if f.read() == content:
                return
    except FileNotFoundError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="\n") as f:
        f.write(content)
    os.replace(tmp, path)


def main(argv):
    if len(argv) != 3:
        print("usage: gen_msgtab.py DATA_FILE OUTPUT_DIR", file=sys.stderr)
        return 2
    data, outdir = argv[1], argv[2]
    try:
        rows = read_table(data)
    except (TableError, UnicodeDecodeError) as e:
        print(f"gen_msgtab.py: {e}", file=sys.stderr)
        return 1
    source_name = os.path.basename(data)
    os.makedirs(outdir, exist_ok=True)
    write_if_changed(os.path.join(outdir, "for_msgtab.cpp"), emit_cpp(rows, source_name))
    write_if_changed(os.path.join(outdir, "vorlix_msg.msg"), emit_msg(rows, source_name))
    write_if_changed(os.path.join(outdir, "for_msgnum.h"), emit_header(rows, source_name))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
