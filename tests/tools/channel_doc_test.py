"""docs/channel.md against native_bridge_dispatch.cc: each method, the argument
names and kebab-case error codes its handler and helpers use, whether it is a
job (then also RunAsync's codes, listed once), and every emitted event kind."""

import os
import re
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DISPATCH = os.path.join(ROOT, "src", "bridge", "native_bridge_dispatch.cc")
BRIDGE = os.path.join(ROOT, "src", "bridge", "native_bridge.cc")
PAGE = os.path.join(ROOT, "docs", "channel.md")
STRING = re.compile(r'"(?:[^"\\\n]|\\.)*"')


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def functions(source):
    """{name: body} of every function defined at the top level of a file."""
    code = "\n".join(re.sub(r'("(?:[^"\\]|\\.)*")|//.*', lambda m: m.group(1) or "", line)
                     for line in source.splitlines())
    # Braces inside string literals must not count: blank their contents.
    blank = STRING.sub(lambda m: '"' + " " * (len(m.group(0)) - 2) + '"', code)
    header = r"^[A-Za-z][\w:<>,&\*\s]*?\b(?:\w+::)?(\w+)\s*\([^;{}]*?\)\s*(?:const\s*)?\{"
    found = {}
    for m in re.finditer(header, blank, re.MULTILINE):
        depth, i = 0, m.end() - 1
        while True:
            depth += {"{": 1, "}": -1}.get(blank[i], 0)
            if depth == 0:
                break
            i += 1
        found[m.group(1)] = found.get(m.group(1), "") + code[m.end():i]
    return found


def closure(name, defined):
    seen, todo = set(), [name]
    while todo:
        current = todo.pop()
        if current in defined and current not in seen:
            seen.add(current)
            todo += re.findall(r"\b(\w+)\s*\(", defined[current])
    return "\n".join(defined[n] for n in seen)


def codes_in(body):
    return {s[1:-1] for s in STRING.findall(body) if re.fullmatch(r"[a-z]+(?:-[a-z]+)+", s[1:-1])}


def program_table(dispatch, bridge):
    """{method: (arguments, codes, is_job)}, and the codes every job can give."""
    defined = functions(dispatch)
    job_codes = codes_in(closure("RunAsync", functions(bridge)))
    methods = {}
    for method, handler in re.findall(r'\{\s*"(\w+)"\s*,\s*(\w+)\s*\}', defined["MethodTable"]):
        body = closure(handler, defined)
        is_job = re.search(r"\bRunAsync\s*\(", body) is not None
        arguments = set(re.findall(r'\b\w+Argument\(\s*c\.args\s*,\s*"(\w+)"', body))
        methods[method] = (arguments, codes_in(body) | (job_codes if is_job else set()), is_job)
    return methods, job_codes


def section(text, title):
    return re.search(r"^## %s\s*$(.*?)(?=^## |\Z)" % re.escape(title), text,
                     re.MULTILINE | re.DOTALL).group(1)


def tables(text):
    """[(header's first cell, the `ticked` names in the rows' first cells)]."""
    result = []
    for block in re.findall(r"(?:^\|.*\n?)+", text, re.MULTILINE):
        cells = [line.strip().strip("|").split("|")[0].strip() for line in block.splitlines()]
        result.append((cells[0], {n for cell in cells[2:] for n in re.findall(r"`([^`]+)`", cell)}))
    return result


def names(text, header):
    return set().union(*[found for first, found in tables(text) if first == header])


def page_table(text):
    """{method: (arguments, codes, is_job)} from the "### `name`" sections."""
    job_codes = names(section(text, "Answer kinds, and errors every method can give"), "code")
    methods = {}
    parts = re.split(r"^### (.*)$", section(text, "Methods"), flags=re.MULTILINE)
    for heading, body in zip(parts[1::2], parts[2::2]):
        is_job = body.strip().startswith("job")
        codes = names(body, "code") | (job_codes if is_job else set())
        for name in re.findall(r"`([^`]+)`", heading):
            assert name not in methods, "method %s documented twice" % name
            methods[name] = (names(body, "argument"), codes, is_job)
    return methods, job_codes


def differences(program, page):
    """Readable lines for everything that is in one and not the other."""
    lines = ["method %s is %s but not %s" % (m, a, b)
             for one, other, a, b in ((program, page, "dispatched", "documented"),
                                      (page, program, "documented", "dispatched"))
             for m in sorted(set(one) - set(other))]
    for method in sorted(set(program) & set(page)):
        (p_args, p_codes, p_job), (d_args, d_codes, d_job) = program[method], page[method]
        for what, p, d, verb in (("argument", p_args, d_args, "read"),
                                 ("error code", p_codes, d_codes, "answered")):
            lines += ["%s: %s %s is %s but not documented" % (method, what, x, verb)
                      for x in sorted(p - d)]
            lines += ["%s: %s %s is documented but not %s" % (method, what, x, verb)
                      for x in sorted(d - p)]
        if p_job != d_job:
            lines.append("%s: the page and the program disagree on whether it is a job" % method)
    return lines


class ChannelPageTest(unittest.TestCase):
    def test_page_and_program_name_the_same_methods_arguments_codes_and_events(self):
        program, program_job_codes = program_table(read(DISPATCH), read(BRIDGE))
        text = read(PAGE)
        page, page_job_codes = page_table(text)
        # A parser that finds nothing would agree with everything.
        self.assertGreaterEqual(len(program), 20)
        self.assertTrue(any(args for args, _, _ in program.values()))
        self.assertIn("native-async-unavailable", program_job_codes)
        self.assertEqual(page_job_codes, program_job_codes)
        self.assertEqual(differences(program, page), [])
        self.assertEqual(tables(section(text, "Methods at a glance"))[0][1], set(program))
        emitted = set()
        for folder, _, files in os.walk(os.path.join(ROOT, "src")):
            for name in (n for n in files if n.endswith(".cc")):
                emitted.update(re.findall(
                    r'EncodableValue\("channel"\)\s*(?:\]\s*=|,)\s*EncodableValue\("(\w+)"\)',
                    read(os.path.join(folder, name))))
        events = section(text, "Events")
        documented = set(re.findall(r'`channel` "(\w+)"', events)) | names(events, "`channel`")
        self.assertIn("hidInput", emitted)
        self.assertEqual(sorted(emitted - documented), [])

    def test_a_change_on_either_side_is_caught(self):
        dispatch, text = read(DISPATCH), read(PAGE)
        cases = [
            (dispatch.replace('"serial-invalid-port"', '"serial-bad-port"'), text,
             "openSerial: error code serial-bad-port is answered but not documented"),
            (dispatch, text.replace("| `includeHidChildren` |", "| `includeHidChild` |"),
             "listUsbDeviceNodes: argument includeHidChild is documented but not read"),
        ]
        for program_source, page_text, expected in cases:
            self.assertNotEqual(program_source + page_text, dispatch + text, "case not applied")
            program, _ = program_table(program_source, read(BRIDGE))
            self.assertIn(expected, differences(program, page_table(page_text)[0]))


if __name__ == "__main__":
    sys.exit(unittest.main())
