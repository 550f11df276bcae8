"""docs/channel.md against the program's method table: every method, argument
name and error code must be in both, and every event kind the program emits
must be documented.

The program side is read from src/bridge/native_bridge_dispatch.cc: the
entries of MethodTable(), and for each handler everything it and the helpers
of that file it calls (transitively) read and answer: the names given to the
argument readers (*Argument(c.args, "name")) and the kebab-case string
literals (error codes). A handler that starts a job also answers the codes of
NativeBridge::RunAsync in src/bridge/native_bridge.cc; the page lists those
once, in its table of errors every job can give.

The page side: under "## Methods", each "### `name`" heading (several names
share one section), the first column of its "argument" table and of its
"code" table, and whether its text starts with "job"; the index under
"## Methods at a glance" names the same methods. Under "## Events", the
first column of the table headed `channel` and every `channel` "name".
"""

import os
import re
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DISPATCH = os.path.join(ROOT, "src", "bridge", "native_bridge_dispatch.cc")
BRIDGE = os.path.join(ROOT, "src", "bridge", "native_bridge.cc")
PAGE = os.path.join(ROOT, "docs", "channel.md")

CODE_LITERAL = re.compile(r"^[a-z]+(?:-[a-z]+)+$")
STRING = re.compile(r'"(?:[^"\\\n]|\\.)*"')


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


# --- the program -----------------------------------------------------------


def strip_comments(source):
    # Line comments only (the code base uses no block comments), and never
    # inside a string literal.
    out = []
    for line in source.splitlines():
        cut = len(line)
        for m in re.finditer(r'"(?:[^"\\]|\\.)*"|//', line):
            if m.group(0) == "//":
                cut = m.start()
                break
        out.append(line[:cut])
    return "\n".join(out)


def functions(source):
    """{name: body} of every function defined at the top level of a file
    (member functions under their unqualified name)."""
    code = strip_comments(source)
    # Braces inside string literals must not count; blank the literals'
    # contents (same length, so offsets stay valid).
    blank = STRING.sub(lambda m: '"' + " " * (len(m.group(0)) - 2) + '"', code)
    header = re.compile(
        r"^[A-Za-z][\w:<>,&\*\s]*?\b(?:\w+::)?(\w+)\s*\(([^;{}]*?)\)\s*(?:const\s*)?\{",
        re.MULTILINE)
    found = {}
    for m in header.finditer(blank):
        name = m.group(1)
        if name in ("if", "for", "while", "switch", "catch", "namespace"):
            continue
        depth, i = 0, m.end() - 1
        while i < len(blank):
            if blank[i] == "{":
                depth += 1
            elif blank[i] == "}":
                depth -= 1
                if depth == 0:
                    break
            i += 1
        found[name] = found.get(name, "") + code[m.end():i]
    return found


def closure(name, defined):
    seen, todo = set(), [name]
    while todo:
        current = todo.pop()
        if current in seen or current not in defined:
            continue
        seen.add(current)
        todo.extend(re.findall(r"\b(\w+)\s*\(", defined[current]))
    return "\n".join(defined[n] for n in seen)


def codes_in(body):
    return {s[1:-1] for s in STRING.findall(body) if CODE_LITERAL.match(s[1:-1])}


def program_table(dispatch_source, bridge_source):
    """{method: (arguments, codes, is_job)}, and the codes every job can give."""
    defined = functions(dispatch_source)
    table = defined.get("MethodTable")
    if table is None:
        raise AssertionError("MethodTable() not found in native_bridge_dispatch.cc")
    entries = re.findall(r'\{\s*"(\w+)"\s*,\s*(\w+)\s*\}', table)
    bridge = functions(bridge_source)
    job_codes = codes_in(closure("RunAsync", bridge))
    methods = {}
    for method, handler in entries:
        if handler not in defined:
            raise AssertionError("handler %s of %s not found" % (handler, method))
        body = closure(handler, defined)
        arguments = set(re.findall(r'\b\w+Argument\(\s*c\.args\s*,\s*"(\w+)"', body))
        is_job = re.search(r"\bRunAsync\s*\(", body) is not None
        codes = codes_in(body) | (job_codes if is_job else set())
        methods[method] = (arguments, codes, is_job)
    return methods, job_codes


def emitted_event_kinds(root):
    kinds = set()
    pattern = re.compile(r'EncodableValue\("channel"\)\s*(?:\]\s*=|,)\s*EncodableValue\("(\w+)"\)')
    for folder, _, files in os.walk(os.path.join(root, "src")):
        for name in files:
            if name.endswith(".cc"):
                kinds.update(pattern.findall(read(os.path.join(folder, name))))
    return kinds


# --- the page --------------------------------------------------------------


def section(text, title):
    m = re.search(r"^## %s\s*$(.*?)(?=^## |\Z)" % re.escape(title), text, re.MULTILINE | re.DOTALL)
    if m is None:
        raise AssertionError("the page has no section '## %s'" % title)
    return m.group(1)


def tables(text):
    """[(header cells, [first cells of the rows])] of every table in text."""
    result, rows, header = [], None, None
    for line in text.splitlines() + [""]:
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if header is None:
                header, rows = cells, []
            elif not re.match(r"^[-: ]+$", cells[0] or "-"):
                rows.append(cells[0])
        elif header is not None:
            result.append((header, rows))
            header = None
    return result


def ticked(cell):
    return re.findall(r"`([^`]+)`", cell)


def codes_of(rows):
    return {name for row in rows for name in ticked(row)}


def page_table(text):
    """{method: (arguments, codes, is_job)}, and the codes every job can give."""
    common = section(text, "Answer kinds, and errors every method can give")
    job_codes = set()
    for header, rows in tables(common):
        if header[0] == "code":
            job_codes |= codes_of(rows)
    methods = {}
    parts = re.split(r"^### (.*)$", section(text, "Methods"), flags=re.MULTILINE)
    for heading, body in zip(parts[1::2], parts[2::2]):
        names = ticked(heading)
        arguments, codes = set(), set()
        for header, rows in tables(body):
            if header[0] == "argument":
                arguments |= codes_of(rows)
            elif header[0] == "code":
                codes |= codes_of(rows)
        is_job = body.strip().startswith("job")
        if is_job:
            codes |= job_codes
        for name in names:
            if name in methods:
                raise AssertionError("method %s documented twice" % name)
            methods[name] = (arguments, codes, is_job)
    return methods, job_codes


def documented_event_kinds(text):
    events = section(text, "Events")
    kinds = set(re.findall(r'`channel` "(\w+)"', events))
    for header, rows in tables(events):
        if header[0] == "`channel`":
            kinds |= codes_of(rows)
    return kinds


# --- the comparison --------------------------------------------------------


def differences(program, page):
    """Readable lines for everything that is in one and not the other."""
    lines = []
    for method in sorted(set(program) - set(page)):
        lines.append("method %s is dispatched but not documented" % method)
    for method in sorted(set(page) - set(program)):
        lines.append("method %s is documented but not dispatched" % method)
    for method in sorted(set(program) & set(page)):
        p_args, p_codes, p_job = program[method]
        d_args, d_codes, d_job = page[method]
        for a in sorted(p_args - d_args):
            lines.append("%s: argument %s is read but not documented" % (method, a))
        for a in sorted(d_args - p_args):
            lines.append("%s: argument %s is documented but not read" % (method, a))
        for c in sorted(p_codes - d_codes):
            lines.append("%s: error code %s is answered but not documented" % (method, c))
        for c in sorted(d_codes - p_codes):
            lines.append("%s: error code %s is documented but not answered" % (method, c))
        if p_job != d_job:
            lines.append("%s: the page says %s, the program answers %s" %
                         (method, "job" if d_job else "sync", "job" if p_job else "sync"))
    return lines


class ChannelPageTest(unittest.TestCase):
    def test_page_and_method_table_name_the_same_methods_arguments_and_codes(self):
        program, program_job_codes = program_table(read(DISPATCH), read(BRIDGE))
        page, page_job_codes = page_table(read(PAGE))
        # A parser that finds nothing would agree with everything.
        self.assertGreaterEqual(len(program), 20)
        self.assertTrue(any(args for args, _, _ in program.values()))
        self.assertIn("native-async-unavailable", program_job_codes)
        self.assertEqual(page_job_codes, program_job_codes)
        self.assertEqual(differences(program, page), [])
        glance = [rows for header, rows in tables(section(read(PAGE), "Methods at a glance"))]
        self.assertEqual(sorted(codes_of(glance[0])), sorted(program))

    def test_every_emitted_event_kind_is_documented(self):
        emitted = emitted_event_kinds(ROOT)
        self.assertIn("hidInput", emitted)
        self.assertEqual(sorted(emitted - documented_event_kinds(read(PAGE))), [])

    def test_a_change_on_either_side_is_caught(self):
        # The comparison itself, on the real table with one thing changed.
        dispatch, bridge, text = read(DISPATCH), read(BRIDGE), read(PAGE)
        cases = [
            ("argument renamed in the program",
             dispatch.replace('"maxPacketSize", 0)', '"maxPacketBytes", 0)'), text,
             "analyzeHidReportDescriptor: argument maxPacketBytes is read but not documented"),
            ("argument renamed on the page", dispatch,
             text.replace("| `includeHidChildren` |", "| `includeHidChild` |"),
             "listUsbDeviceNodes: argument includeHidChild is documented but not read"),
            ("code renamed in the program",
             dispatch.replace('"serial-invalid-port"', '"serial-bad-port"'), text,
             "openSerial: error code serial-bad-port is answered but not documented"),
            ("method dropped from the page", dispatch,
             text.replace("### `nowMicros`", "### now"),
             "method nowMicros is dispatched but not documented"),
            ("a code a helper answers", dispatch.replace(
                'c.result->Error("hid-invalid-descriptor", problem)',
                'c.result->Error("hid-descriptor-bad", problem)'), text,
             "decodeHidReport: error code hid-descriptor-bad is answered but not documented"),
        ]
        for label, program_source, page_text, expected in cases:
            with self.subTest(label):
                self.assertNotEqual(program_source + page_text, dispatch + text, "case not applied")
                program, _ = program_table(program_source, bridge)
                page, _ = page_table(page_text)
                self.assertIn(expected, differences(program, page))


if __name__ == "__main__":
    sys.exit(unittest.main())
