#!/usr/bin/env python3
"""No production function runs over about 80 lines.

Reads every C++ source of the house (tests, benchmarks and fuzz targets stand outside), strips
comments, string and character literals and preprocessor lines, and follows the braces. A brace
opens a function body when the text before it, back to the last ';', '{' or '}', ends in a
parameter list (a ')' followed only by qualifiers, a trailing return type or a constructor's
initialisers) and the brace sits directly in a namespace, a class or the file itself. Lambdas and
blocks inside a function count towards that function.

Prints each function over the limit with its length and exits 1 when there is one. Functions
named in KNOWN_LONG are allowed until they are split; the list may only shrink.
"""
import os
import re
import subprocess
import sys

LIMIT = 80

# file:function pairs still waiting to be split into named steps ("path:Class::name"). None
# today; a function named here is let through until it is split.
KNOWN_LONG = set()

SKIP_DIRS = ("tests/", "bench/", "fuzz/")


def strip(text):
    """Blanks comments, literals and preprocessor lines, keeping every newline."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if line_start and c == "#":
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append("\n")
                    i += 2
                    continue
                i += 1
            continue
        line_start = False
        if c == "\n":
            out.append(c)
            line_start = True
            i += 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            close = ")" + m.group(1) + '"'
            end = text.find(close, i + m.end())
            end = n if end < 0 else end + len(close)
            out.append('""' + "\n" * text.count("\n", i, end))
            i = end
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():
                # A digit separator (1'000'000), not a character literal.
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


HEAD_RE = re.compile(
    r"\)\s*(const|noexcept(\s*\([^()]*\))?|override|final|mutable|&|&&|\s)*"
    r"(->\s*[\w:<>,\s*&]+)?\s*(:\s*[^;{}]*)?$",
    re.S,
)


def kind_of(head, parent):
    """What a '{' opens, given the text before it back to the last ';', '{' or '}'."""
    h = head.strip()
    if parent == "function":
        return "block"
    if re.search(r"\bnamespace\b", h) or re.match(r'extern\s*""$', h):
        return "namespace"
    if re.search(r"\b(class|struct|union|enum)\b[^()]*$", h) or re.search(r"\b(class|struct|union)\b\s+\w+[^()]*$", h):
        return "type"
    if h.endswith("=") or h.endswith("return") or not h:
        return "init"
    if h.endswith(")") or HEAD_RE.search(h):
        # A parameter list: a function body, unless it is a control statement or a macro call
        # at namespace level (rare in this tree).
        if re.match(r"(if|for|while|switch|catch)\b", h):
            return "block"
        return "function"
    return "init"


def functions(text):
    """Yields (name, first line, number of lines) of each function body in the text."""
    stack = []  # (kind, line of '{', head)
    head_start = 0
    line = 1
    for i, c in enumerate(text):
        if c == "\n":
            line += 1
        elif c in ";":
            if not stack or stack[-1][0] in ("namespace", "type"):
                head_start = i + 1
        elif c == "{":
            parent = stack[-1][0] if stack else "namespace"
            if parent in ("function", "block", "init"):
                stack.append(("block" if parent != "init" else "init", line, ""))
            else:
                head = text[head_start:i]
                stack.append((kind_of(head, parent), line, head))
            head_start = i + 1
        elif c == "}":
            if not stack:
                continue
            kind, start, head = stack.pop()
            if kind == "function":
                name = re.findall(r"([~\w:]+)\s*\(", head)
                yield (name[0] if name else "?"), start, line - start + 1
            if not stack or stack[-1][0] in ("namespace", "type"):
                head_start = i + 1


def sources():
    files = subprocess.run(["git", "ls-files", "--", "*.cpp", "*.h", "*.hpp"],
                           capture_output=True, text=True, check=True).stdout.split()
    return [f for f in files if not f.startswith(SKIP_DIRS)]


def main():
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    bad = []
    seen_known = set()
    for path in sources():
        with open(path, encoding="utf-8", errors="replace") as f:
            text = strip(f.read())
        for name, first, length in functions(text):
            if length <= LIMIT:
                continue
            key = f"{path}:{name}"
            if key in KNOWN_LONG:
                seen_known.add(key)
                continue
            bad.append(f"{path}:{first}: {name} is {length} lines")
    for line in bad:
        print(line)
    stale = sorted(set(KNOWN_LONG) - seen_known)
    for key in stale:
        print(f"{key} is no longer over {LIMIT} lines: take it off KNOWN_LONG")
    if bad or stale:
        print(f"check-functions: functions over {LIMIT} lines (split them into named steps)")
        return 1
    print(f"check-functions: every function is {LIMIT} lines or fewer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
