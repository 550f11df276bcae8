"""docs/channel.md, the channel page, against the program's sources.

The page's format, which is all this test reads (a new method, argument, key,
error text or event needs only page text in this form):

- "## Methods" holds one "### " section per method; a section may serve several
  (### `writeHidOutput`, `writeHidFeature`). Its first word is "sync" or "job".
- Arguments: a table headed | argument | type | default | notes |, the name in
  backticks in the first cell, the default in the third: "required", or the
  value as written in Dart (9600, -1, true, "", "HTML 报告", ["html"]); words
  after the value are comments ("-1 (every interface)").
- Errors: a table headed | code | when | message |, the code in backticks in
  the first cell (left empty on further rows of the same code). Every fixed
  text the method can answer (the dispatcher's, and those of the feature code
  behind it) appears somewhere in its section, in double quotes; a text the
  program builds from pieces is written whole, e.g. "打开串口失败（Win32 错误码 N）".
- Reply keys: tables headed | key | type | meaning |. Every `name` in backticks
  in them is a key, at any depth (nested keys go in the meaning cell); "as in
  `method`" brings in that method's keys. A method name elsewhere in the table
  is a reference, not a key; values are written in double quotes, not backticks.
- "## Events" holds one "### " section per event kind, headed by its `channel`
  value, with its keys in the same key tables.

What is compared, each both ways unless said: methods, their arguments, error
codes and mode against the dispatch table; every fixed text (one way: code to
page) and every default; the reply keys of every method the end-to-end suites
call, and every event kind with its keys.

Keys are read from the sources, not from replies the end-to-end suites record:
under Wine most maps are never filled (no USB nodes, no chatter), so recorded
replies could not see a renamed `friendlyName` or `minGapUs`. The sources are
read the way they are written: a feature is bound as a lambda to its BridgeOperations
member; keys are EncodableValue("k") as a map key, Key("k"), .Add("k", ...),
put("k", ...) or an EventTemplate's key list; errors are the CJK texts of the
statements that set a `message`/`error` out-parameter.
"""

import functools
import json
import os
import re
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PAGE = os.path.join(ROOT, "docs", "channel.md")
DISPATCH = os.path.join("src", "bridge", "native_bridge_dispatch.cc")
BRIDGE = os.path.join("src", "bridge", "native_bridge.cc")
STRING = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
CJK = re.compile(r"[\u3000-\u9fff\uff00-\uffef]")
NAME = re.compile(r"`([A-Za-z]\w*)`")
CALL = re.compile(r"\b(\w+)\s*\(")
KEY = re.compile(r'EncodableValue\("([a-z]\w*)"\)\s*[\],]|\bKey\("([a-z]\w*)"\)'
                 r'|(?:\.Add|\bput)\(\s*"([a-z]\w*)"\s*,|EventTemplate\(([^;]*)')
EVENT = re.compile(r'EncodableValue\("channel"\)\s*(?:\]\s*=|,)\s*EncodableValue\("(\w+)"\)')
HEADER = re.compile(r"^([A-Za-z][\w:<>,&\*\s]*?)\b(?:\w+::)?(\w+)\s*(\([^;{}]*?\))\s*"
                    r"(?:const\s*)?(?:override\s*)?\{", re.MULTILINE)
BINDING = re.compile(r"\.(\w+)\s*=\s*\[[^\]]*\]\s*(?:\([^)]*\))?\s*(?:mutable\s*)?\{")
MESSAGE_PARAMETER = re.compile(r"std::string\s*\*\s*(?:message|error)\b")

# Texts the program holds but no call can answer, and why.
UNREACHABLE = {
    "HID 设备路径为空": "the dispatch refuses an empty path first",
    "串口名称不能为空": "the dispatch refuses an empty port first",
    "输出参数为空": "the bridge always hands its outputs over",
    "缺少串口列表输出": "the bridge always hands its outputs over",
}


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def sources():
    """{path relative to ROOT: text} of every C++ source under src/."""
    found = {}
    for folder, _, files in os.walk(os.path.join(ROOT, "src")):
        for name in files:
            if name.endswith((".cc", ".h")):
                path = os.path.join(folder, name)
                found[os.path.relpath(path, ROOT)] = read(path)
    return found


DEPTH = {"(": 1, "<": 1, "{": 1, "[": 1, ")": -1, ">": -1, "}": -1, "]": -1}


def split_top(text):
    """The comma-separated parts of `text` at nesting depth 0."""
    parts, depth, start = [], 0, 0
    for m in re.finditer(r"[-(){}\[\]<>,]", text.replace("->", "  ")):
        depth += DEPTH.get(m.group(0), 0)
        if m.group(0) == "," and depth == 0:
            parts.append(text[start:m.start()])
            start = m.end()
    parts.append(text[start:])
    return [p for p in parts if p.strip()]


@functools.lru_cache(maxsize=None)
def calls(blank):
    """[(name, number of arguments)] of every call in a body whose strings are blanked."""
    found = []
    for m in CALL.finditer(blank):
        depth = 0
        for p in re.finditer(r"[()]", blank[m.end() - 1:]):
            depth += 1 if p.group(0) == "(" else -1
            if depth == 0:
                break
        found.append((m.group(1), len(split_top(blank[m.end():m.end() - 1 + p.start()]))))
    return found


@functools.lru_cache(maxsize=None)
def arity(parameters):
    """(least, most) arguments a parameter list "(...)" takes."""
    parts = split_top(parameters[1:-1])
    if [p.strip() for p in parts] == ["void"]:
        parts = []
    return len([p for p in parts if "=" not in p]), len(parts)


def block_end(text, brace):
    depth = 0
    for i in range(brace, len(text)):
        depth += {"{": 1, "}": -1}.get(text[i], 0)
        if depth == 0:
            return i
    return len(text)


def without_comments(source):
    """The source with comments dropped and string contents kept, and a copy
    with string contents blanked, so braces in strings do not count."""
    code = "\n".join(re.sub(r'("(?:[^"\\]|\\.)*")|//.*', lambda m: m.group(1) or "", line)
                     for line in source.splitlines())
    return code, STRING.sub(lambda m: '"' + " " * len(m.group(1)) + '"', code)


class Program:
    """The sources as this test sees them: functions by name (with their folder,
    so that a call prefers its own feature's function of that name), the
    operations bound to BridgeOperations members, and the dispatcher."""

    def __init__(self, files):
        self.functions, self.bindings = {}, {}
        self.dispatch = {}
        for path, source in files.items():
            code, blank = without_comments(source)
            folder = os.path.dirname(path)
            for m in HEADER.finditer(blank):
                end = block_end(blank, m.end() - 1)
                body = code[m.end():end]
                if path == DISPATCH:
                    self.dispatch[m.group(2)] = self.dispatch.get(m.group(2), "") + body
                else:
                    self.functions.setdefault(m.group(2), []).append(
                        (folder, m.group(1) + m.group(3), body, blank[m.end():end]))
            if path != DISPATCH:
                for m in BINDING.finditer(blank):
                    end = block_end(blank, m.end() - 1)
                    self.bindings.setdefault(m.group(1), []).append(
                        (folder, code[m.end():end], blank[m.end():end]))
        self.constants = dict(re.findall(r"constexpr\s+[\w:]+\s+(k\w+)\s*=\s*(-?\d+)[uUlL]*\s*;",
                                         "\n".join(files.values())))
        in_bridge = {name: "".join(f[2] for f in found if f[0] == os.path.dirname(BRIDGE))
                     for name, found in self.functions.items()}
        self.job_codes = codes_in(self.closure_in_dispatch("RunAsync", in_bridge))

    @staticmethod
    def closure_in_dispatch(name, defined):
        seen, todo = set(), [name]
        while todo:
            current = todo.pop()
            if current in defined and current not in seen:
                seen.add(current)
                todo += CALL.findall(defined[current])
        return "\n".join(defined[n] for n in seen)

    def closure(self, folder, body, blank, follow):
        """Bodies reached from `body`: every function it calls directly, then
        only those `follow(header)` accepts. A call goes to the functions of
        its name that take its number of arguments: those of the caller's own
        folder, else one defined nowhere else."""
        bodies, seen = [body], set()
        todo = [(call, folder, True) for call in calls(blank)]
        while todo:
            (name, count), caller, direct = todo.pop()
            candidates = [f for f in self.functions.get(name, [])
                          if arity(f[1][f[1].index("("):])[0] <= count <= arity(f[1][f[1].index("("):])[1]]
            own = [f for f in candidates if f[0] == caller]
            for where, header, text, text_blank in own or candidates[:len(candidates) == 1]:
                if (name, where, header) not in seen and (direct or follow(header)):
                    seen.add((name, where, header))
                    bodies.append(text)
                    todo += [(call, where, False) for call in calls(text_blank)]
        return "\n".join(bodies)

    def operation(self, op, follow):
        return "\n".join(self.closure(folder, body, blank, follow)
                         for folder, body, blank in self.bindings.get(op, []))

    def methods(self):
        """{method: facts} from the dispatch table and what its operations do."""
        table = self.dispatch["MethodTable"]
        result = {}
        for method, handler in re.findall(r'\{\s*"(\w+)"\s*,\s*(\w+)\s*\}', table):
            body = self.closure_in_dispatch(handler, self.dispatch)
            ops = re.findall(r"\bc\.ops\.(\w+)", body)
            feature = "\n".join(self.operation(op, lambda h: MESSAGE_PARAMETER.search(h)) for op in ops)
            replies = "\n".join(self.operation(op, lambda h: "Encodable" in h) for op in ops)
            is_job = re.search(r"\bRunAsync\s*\(", body) is not None
            result[method] = {
                "arguments": self.defaults(body),
                "codes": codes_in(body) | (self.job_codes if is_job else set()),
                "job": is_job,
                "texts": {t for t in STRING.findall(body) if CJK.search(t)} | message_texts(feature),
                "keys": keys_in(body) | keys_in(replies),
            }
        return result

    def defaults(self, body):
        """{argument: default as JSON text, or "required"}."""
        found = {}
        for m in re.finditer(r'\b(\w+)Argument\(\s*(?:c\.args|c)\s*,\s*"(\w+)"\s*(?:,([^;]*?))?\)',
                             body):
            reader, key, rest = m.group(1), m.group(2), m.group(3) or ""
            # Required: refused when the reader finds nothing, or a path-like
            # argument given the text to refuse it with.
            if ("nullptr" not in rest if reader == "WindowsText" else body[m.start() - 1] == "!"):
                found[key] = "required"
            elif reader in ("Integer", "Bool"):
                value = rest.split(",")[-1].strip()
                found[key] = self.constants.get(value, value)
            else:
                target = re.search(r"(\w+)\s*=\s*\w+Argument\(\s*c\.args\s*,\s*\"%s\"|&(\w+)\)" % key,
                                   body[m.start() - 60:m.end() + 1])
                variable = target and (target.group(1) or target.group(2))
                fill = variable and re.search(r"if \(%s\.empty\(\)\) %s(?: = |\.push_back\()(\"[^\"]*\")"
                                              % (variable, variable), body)
                if reader == "StringList":
                    found[key] = "[%s]" % fill.group(1) if fill else "[]"
                else:
                    found[key] = fill.group(1) if fill else '""'
        return found

    def events(self):
        """{event kind: keys} for every map whose "channel" is a fixed text."""
        result = {}
        for name, definitions in self.functions.items():
            for folder, _, body, blank in definitions:
                for kind in EVENT.findall(body):
                    reached = self.closure(folder, body, blank, lambda h: "Encodable" in h)
                    result[kind] = result.get(kind, set()) | keys_in(reached)
        return result


def codes_in(body):
    return {s for s in STRING.findall(body) if re.fullmatch(r"[a-z]+(?:-[a-z]+)+", s)}


def keys_in(body):
    keys = set()
    for groups in KEY.findall(body):
        keys.update(g for g in groups[:3] if g)
        keys.update(re.findall(r'"([a-z]\w*)"', groups[3]))
    return keys


def message_texts(body):
    """The CJK texts of the statements that set a message out-parameter."""
    texts = set()
    for statement in re.split(r"[;{}]", body):
        if re.search(r"\b(?:message|error)\b", statement):
            texts.update(t for t in STRING.findall(statement) if CJK.search(t))
    return texts


def tables(text):
    """[(header cells, [row cells])] of every table in `text`."""
    result = []
    for block in re.findall(r"(?:^\|.*\n?)+", text, re.MULTILINE):
        rows = [[cell.strip() for cell in line.strip().strip("|").split("|")]
                for line in block.splitlines()]
        result.append((rows[0], rows[2:]))
    return result


def part(text, title):
    return re.search(r"^## %s\s*$(.*?)(?=^## |\Z)" % re.escape(title), text,
                     re.MULTILINE | re.DOTALL).group(1)


def page_sections(text, title):
    """{name: facts} of the "### " sections of one part of the page."""
    sections = {}
    parts = re.split(r"^### (.*)$", part(text, title), flags=re.MULTILINE)
    for heading, body in zip(parts[1::2], parts[2::2]):
        facts = {"job": body.strip().startswith("job"), "text": body, "arguments": {},
                 "codes": set(), "keys": set(), "imports": set()}
        for header, rows in tables(body):
            for row in rows:
                if header[0] == "argument":
                    facts["arguments"].update((n, row[2]) for n in NAME.findall(row[0]))
                elif header[0] == "code":
                    facts["codes"].update(re.findall(r"`([a-z-]+)`", row[0]))
                elif header[0] == "key":
                    cells = " | ".join(row)
                    facts["keys"].update(NAME.findall(cells))
                    facts["imports"].update(re.findall(r"as in `(\w+)`", cells))
        for name in NAME.findall(heading):
            assert name not in sections, "%s documented twice" % name
            sections[name] = facts
    return sections


def page_keys(sections, name, names):
    """A section's keys with those it brings in, less `names` (of sections)."""
    keys, todo, seen = set(), [name], set()
    while todo:
        current = todo.pop()
        if current in sections and current not in seen:
            seen.add(current)
            keys |= sections[current]["keys"]
            todo += sections[current]["imports"]
    return keys - names


def default_matches(page_default, code_default):
    if page_default == "required" or code_default == "required":
        return page_default == code_default
    m = re.match(r'-?\d+|true|false|"[^"]*"|\[[^\]]*\]', page_default)
    try:
        return m is not None and json.loads(m.group(0)) == json.loads(code_default)
    except ValueError:  # a default this reader cannot evaluate: said as a difference
        return False


def both_ways(what, program, page):
    return (["%s is in the program but not on the page" % (what % x) for x in sorted(program - page)]
            + ["%s is on the page but not in the program" % (what % x) for x in sorted(page - program)])


def differences(files, text, e2e):
    """Readable lines for everything the page and the program disagree on."""
    program = Program(files)
    code, doc = program.methods(), page_sections(text, "Methods")
    lines = both_ways("method %s", set(code), set(doc))
    job_codes = {c for _, rows in tables(part(text, "Answer kinds, and errors every method can give"))
                 for row in rows for c in re.findall(r"`([a-z-]+)`", row[0])}
    lines += both_ways("job code %s", program.job_codes, job_codes)
    for method in sorted(set(code) & set(doc)):
        c, d = code[method], doc[method]
        if c["job"] != d["job"]:
            lines.append("%s: the page and the program disagree on whether it is a job" % method)
        lines += both_ways(method + ": argument %s", set(c["arguments"]), set(d["arguments"]))
        lines += both_ways(method + ": error code %s",
                           c["codes"], d["codes"] | (job_codes if d["job"] else set()))
        lines += ["%s: the default of %s is %s, not %s" % (method, a, c["arguments"][a], d["arguments"][a])
                  for a in sorted(set(c["arguments"]) & set(d["arguments"]))
                  if not default_matches(d["arguments"][a], c["arguments"][a])]
        lines += ['%s: the text "%s" is not on the page' % (method, t)
                  for t in sorted(c["texts"] - set(UNREACHABLE)) if t not in d["text"]]
        if re.search(r"[\"']%s[\"']" % method, e2e):
            lines += both_ways(method + ": reply key %s", c["keys"],
                               page_keys(doc, method, set(doc) | set(page_sections(text, "Events"))))
    events, doc_events = program.events(), page_sections(text, "Events")
    names = set(doc) | set(doc_events)
    lines += both_ways("event %s", set(events), set(doc_events))
    for kind in sorted(set(events) & set(doc_events)):
        lines += both_ways(kind + ": event key %s", events[kind], page_keys(doc_events, kind, names))
    return lines


def e2e_scripts():
    folder = os.path.join(ROOT, "tests", "e2e")
    return "\n".join(read(os.path.join(folder, n)) for n in sorted(os.listdir(folder))
                     if n.endswith(".py"))


class ChannelPageTest(unittest.TestCase):
    def setUp(self):
        self.files, self.text, self.e2e = sources(), read(PAGE), e2e_scripts()

    def test_the_page_and_the_program_agree(self):
        program = Program(self.files)
        methods = program.methods()
        # A reader that finds nothing would agree with everything.
        self.assertGreaterEqual(len(methods), 20)
        self.assertIn("native-async-unavailable", program.job_codes)
        self.assertIn("friendlyName", methods["listUsbDeviceNodes"]["keys"])
        self.assertIn("该路径不是 HID 设备（HID 类驱动无法读取它的属性）",
                      methods["writeHidFeature"]["texts"])
        self.assertEqual(methods["openSerial"]["arguments"]["baudRate"], "9600")
        self.assertIn("minGapUs", program.events()["rawInputStats"])
        self.assertEqual(differences(self.files, self.text, self.e2e), [])
        at_a_glance = {n for _, rows in tables(part(self.text, "Methods at a glance"))
                       for row in rows for n in NAME.findall(row[0])}
        self.assertEqual(at_a_glance, set(methods))

    def test_a_change_on_either_side_is_caught(self):
        dispatch, nodes = os.path.join("src", "bridge", "native_bridge_dispatch.cc"), \
            os.path.join("src", "usb", "usb_node.cc")
        cases = [
            (dispatch, '"baudRate", 9600', '"baudRate", 19200',
             "openSerial: the default of baudRate is 19200, not 9600"),
            (dispatch, '"缺少 port 参数"', '"缺少 port 参数！"',
             'openSerial: the text "缺少 port 参数！" is not on the page'),
            (nodes, '"friendlyName"', '"friendlyTitle"',
             "listUsbDeviceNodes: reply key friendlyTitle is in the program but not on the page"),
            (os.path.join("src", "rawinput", "input_quality.cc"), '"minGapUs"', '"minGap"',
             "rawInputStats: event key minGapUs is on the page but not in the program"),
            (None, "| `durationMs` | int | 6000 |", "| `durationMs` | int | 5000 |",
             "captureUsbEnumeration: the default of durationMs is 6000, not 5000"),
        ]
        for path, old, new, expected in cases:
            files, text = dict(self.files), self.text
            if path:
                self.assertIn(old, files[path])
                files[path] = files[path].replace(old, new)
            else:
                self.assertIn(old, text)
                text = text.replace(old, new)
            self.assertIn(expected, differences(files, text, self.e2e))


if __name__ == "__main__":
    sys.exit(unittest.main())
