#!/usr/bin/env python3
"""The longest source files and functions of the project, its lines per folder, and its tests against its
code (`make loc`).

Files are those git tracks, by their ending: C++, JavaScript, shell, Python and CMake. Functions are
found in the C++ and JavaScript files by matching braces over the text with its comments, strings and
regular expressions blanked out: a body counts as a function when the words before its brace name one
(a definition, a TEST, a JavaScript function, method or arrow function given a name). Anonymous bodies,
such as lambdas passed as arguments, count towards the function they stand in. A function's length runs
from the line of its name to the line of its closing brace.

Tests against code count the non-blank lines of the files git tracks. C++: the C++ files under tests/
against those of the program, the stand-in, the back-ends, the simulated unit and the hosts. All: the
tests' sources, scripts and build files under tests/ against the same kinds of file, and awk and bash
ones and the Makefile, everywhere else but bench/ and docs/.

Usage: tools/loc.py [--top N] [folder]   (default: the ten longest of each, the whole checkout)
"""
import argparse
import collections
import os
import re
import subprocess
import sys

CODE_ENDINGS = ('.cpp', '.h', '.js', '.mjs', '.sh', '.py', '.cmake')
CODE_NAMES = ('CMakeLists.txt', 'Makefile')
BRACE_ENDINGS = ('.cpp', '.h', '.js', '.mjs')

CONTROL = re.compile(r'^(if|else|for|while|do|switch|try|catch|case|default)\b')
CONTAINER = re.compile(r'^((template\s*<.*>\s*)?(namespace|class|struct|union|enum)\b|extern\s*"C")')
QUALIFIERS = re.compile(r'\)\s*(const|override|final|noexcept|mutable|volatile|&|&&|\s)*(->[^{;]*)?$')
NAME = re.compile(r'([A-Za-z_$][\w$:~]*(\s*<[^()]*>)?|operator\s*[^\s(]+)\s*\($')

# What tests against code counts, and the most that the tests may be of the code.
CPP_ENDINGS = ('.cpp', '.cc', '.c', '.h', '.hpp')
CPP_CODE_FOLDERS = ('app', 'midi', 'protocol', 'firmware', 'platform', 'sim', 'hosts')
TEST_ENDINGS = ('.cpp', '.h', '.c', '.js', '.mjs', '.sh', '.py', '.cmake')
CODE_EXTRA_ENDINGS = ('.awk', '.bash')
NOT_CODE_FOLDERS = ('tests', 'bench', 'docs')
CPP_LIMIT = 0.33
ALL_LIMIT = 0.40


def tracked_files(root):
    listed = subprocess.run(['git', 'ls-files', '-z', '--', root], capture_output=True, check=True)
    for path in listed.stdout.decode().split('\0'):
        if path and (path.endswith(CODE_ENDINGS) or os.path.basename(path) in CODE_NAMES):
            if os.path.isfile(path):
                yield path


def blank_out(text, javascript):
    """The text with comments, string, character and regular expression literals replaced by blanks;
    line breaks are kept, so positions stay on their lines."""
    out = []
    i = 0
    n = len(text)
    last = ''  # the last character of code before this point, for telling a regex from a division
    while i < n:
        c = text[i]
        two = text[i:i + 2]
        if two == '//' or (c == '#' and not javascript and (i == 0 or text[i - 1] == '\n')):
            end = text.find('\n', i)
            end = n if end < 0 else end
            while not javascript and c == '#' and end < n and text[end - 1] == '\\':
                end = text.find('\n', end + 1)
                end = n if end < 0 else end
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
            continue
        if two == '/*':
            end = text.find('*/', i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
            continue
        raw = re.match(r'R"([^(\s]*)\(', text[i:i + 20]) if not javascript else None
        if raw:
            end = text.find(')' + raw.group(1) + '"', i)
            end = n if end < 0 else end + len(raw.group(1)) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
            last = '"'
            continue
        regex = javascript and c == '/' and (last == '' or last in '(,=:[!&|?{};+-*%<>~^' or
                                               re.search(r'\breturn\s*$', ''.join(out[-8:])))
        if c in '"\'`' or regex:
            quote = c
            j = i + 1
            in_class = False
            while j < n:
                if text[j] == '\\':
                    j += 2
                    continue
                if regex and text[j] == '[':
                    in_class = True
                elif regex and text[j] == ']':
                    in_class = False
                elif text[j] == quote and not in_class:
                    break
                elif text[j] == '\n' and quote != '`':
                    break
                j += 1
            out.append(quote + re.sub(r'[^\n]', ' ', text[i + 1:j]) + quote)
            i = j + 1
            last = quote
            continue
        out.append(c)
        if not c.isspace():
            last = c
        i += 1
    return ''.join(out)


def function_name(head, javascript):
    """The name of the function whose body follows `head` (the code since the last ; { or }), or None."""
    head = ' '.join(head.split())
    if not head or CONTROL.match(head) or CONTAINER.match(head):
        return None
    if head.count('(') != head.count(')') or head.endswith(('=', ',', 'return')):
        return None  # inside an argument list or an initializer: an anonymous body
    if javascript:
        head = head.lstrip(', ')  # the next method of an object literal
        named = re.search(r'(?:^|\s)function\s*\*?\s*([\w$]+)\s*\(', head)
        if named:
            return named.group(1)
        named = re.match(r'^(?:(?:const|let|var)\s+)?([\w$.]+)\s*=\s*(?:async\s*)?(?:\([^()]*\)|[\w$]+)\s*=>$',
                         head)
        if named:
            return named.group(1)
        named = re.match(r'^(?:static\s+|async\s+|get\s+|set\s+)*([\w$]+)\s*\([^()]*\)$', head)
        if named and not CONTROL.match(named.group(1)):
            return named.group(1)
        return None
    if not QUALIFIERS.search(head) and not re.search(r'\)\s*:\s*[\w:]+[({]', head):
        return None
    if '=' in head.split('(')[0]:
        return None  # a lambda given to a variable is part of the function around it
    depth = 0
    for k, ch in enumerate(head):  # the name stands before the first top-level parenthesis
        if ch == '(' and depth == 0:
            named = NAME.search(head[:k + 1])
            if not named or named.group(1) in ('if', 'for', 'while', 'switch', 'catch', 'sizeof'):
                return None
            name = named.group(1)
            if re.fullmatch(r'[A-Z][A-Z0-9_]*', name):  # TEST(Suite, Name) and the like
                close = head.find(')', k)
                return name + head[k:close + 1]
            return name
        depth += ch == '('
        depth -= ch == ')'
    return None


def functions_of(path):
    javascript = path.endswith(('.js', '.mjs'))
    with open(path, encoding='utf-8', errors='replace') as source:
        code = blank_out(source.read(), javascript)
    found = []
    stack = []  # per open brace: (name or None, line of the name)
    head_start = 0
    line = 1
    line_at = [1] * (len(code) + 1)
    for i, c in enumerate(code):
        line_at[i] = line
        if c == '\n':
            line += 1
    inside = 0  # open named functions: bodies within them are part of them
    for i, c in enumerate(code):
        if c == '{':
            head = code[head_start:i]
            name = function_name(head, javascript) if inside == 0 else None
            first = head_start + len(head) - len(head.lstrip())
            stack.append((name, line_at[first]))
            inside += name is not None
            head_start = i + 1
        elif c == '}':
            if stack:
                name, start = stack.pop()
                if name is not None:
                    inside -= 1
                    found.append((line_at[i] - start + 1, path, start, name))
            head_start = i + 1
        elif c == ';':
            head_start = i + 1
    return found


def non_blank_lines(path):
    with open(path, encoding='utf-8', errors='replace') as source:
        return sum(1 for line in source if line.strip())


def tests_against_code():
    """Non-blank lines of (C++ tests, C++ code, all tests, all code), of the files git tracks."""
    listed = subprocess.run(['git', 'ls-files', '-z'], capture_output=True, check=True)
    counts = [0, 0, 0, 0]
    for path in listed.stdout.decode().split('\0'):
        if not path or not os.path.isfile(path):
            continue
        top = path.split('/')[0]
        name = os.path.basename(path)
        lines = None
        if path.endswith(CPP_ENDINGS) and (top == 'tests' or top in CPP_CODE_FOLDERS):
            lines = non_blank_lines(path)
            counts[0 if top == 'tests' else 1] += lines
        if top == 'tests' and (path.endswith(TEST_ENDINGS) or name == 'CMakeLists.txt'):
            counts[2] += lines if lines is not None else non_blank_lines(path)
        elif top not in NOT_CODE_FOLDERS and (path.endswith(TEST_ENDINGS + CODE_EXTRA_ENDINGS) or
                                              name in ('CMakeLists.txt', 'Makefile')):
            counts[3] += lines if lines is not None else non_blank_lines(path)
    return counts


def main():
    parser = argparse.ArgumentParser(description='The longest source files and functions.')
    parser.add_argument('--top', type=int, default=10, help='how many of each to list')
    parser.add_argument('folder', nargs='?', default='.')
    arguments = parser.parse_args()
    os.chdir(subprocess.run(['git', 'rev-parse', '--show-toplevel'], capture_output=True, text=True,
                            check=True).stdout.strip())
    files = []
    folders = collections.Counter()
    functions = []
    for path in tracked_files(arguments.folder):
        with open(path, encoding='utf-8', errors='replace') as source:
            count = sum(1 for _ in source)
        files.append((count, path))
        folders[os.path.dirname(path) or '.'] += count
        if path.endswith(BRACE_ENDINGS):
            functions.extend(functions_of(path))
    files.sort(key=lambda f: (-f[0], f[1]))
    functions.sort(key=lambda f: (-f[0], f[1], f[2]))
    print(f'Longest files ({len(files)} files, {sum(f[0] for f in files)} lines):')
    for count, path in files[:arguments.top]:
        print(f'  {count:6}  {path}')
    print(f'Longest functions ({len(functions)} functions in C++ and JavaScript):')
    for count, path, start, name in functions[:arguments.top]:
        print(f'  {count:6}  {path}:{start}  {name}')
    print('Lines per folder:')
    for folder in sorted(folders):
        print(f'  {folders[folder]:6}  {folder}/')
    cpp_tests, cpp_code, all_tests, all_code = tests_against_code()
    print('Tests against code (non-blank lines):')
    for kind, tests, code, limit in (('C++', cpp_tests, cpp_code, CPP_LIMIT),
                                     ('all', all_tests, all_code, ALL_LIMIT)):
        ratio = tests / code if code else 0.0
        over = '  OVER' if ratio > limit else ''
        print(f'  {kind:4} tests {tests:6}  code {code:6}  {ratio:.2f} (at most {limit:.2f}){over}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
