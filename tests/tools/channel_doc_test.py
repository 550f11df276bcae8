"""docs/channel.md against the sources. The page format it reads:

- "## Methods": one "### `name`" section per method (several may share one),
  starting with "sync" or "job"; "## Events": one per `channel` value.
- | argument | type | default | notes |: `name`, and the default as Dart writes
  it ("required", 9600, -1, true, "", "HTML 报告", ["html"]; words may follow).
- | code | when | message |: `code` in the first cell (empty for more rows of
  it). Every fixed text the method can answer (dispatcher and feature code) is
  somewhere in the section, built texts written whole ("打开串口失败（Win32 错误码 N）").
- | key | type | meaning |: every `name` in it is a key at any depth (nested
  ones in the meaning cell); "as in `method`" brings in that method's keys;
  other method names are references; values go in "quotes", not backticks.

Compared: methods, arguments, codes, mode and defaults both ways; fixed texts
code to page; reply keys of the methods tests/e2e calls, and events with their
keys, both ways. Keys come from the sources (EncodableValue("k") as a map key,
Key("k"), .Add("k", ...), put("k", ...), an EventTemplate's list), not from
replies the e2e suites see: under Wine most maps stay empty (no USB nodes, no
chatter), so a renamed `friendlyName` or `minGapUs` would never show there.
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
STRING = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
CJK = re.compile(r"[\u3000-\u9fff\uff00-\uffef]")
NAME = re.compile(r"`([A-Za-z]\w*)`")
CALL = re.compile(r"\b(\w+)\s*\(")
KEY = re.compile(r'EncodableValue\("([a-z]\w*)"\)\s*[\],]|\bKey\("([a-z]\w*)"\)'
                 r'|(?:\.Add|\bput)\(\s*"([a-z]\w*)"\s*,|EventTemplate\(([^;]*)')
EVENT = re.compile(r'EncodableValue\("channel"\)\s*(?:\]\s*=|,)\s*EncodableValue\("(\w+)"\)')
HEADER = re.compile(r"^([A-Za-z][\w:<>,&\*\s]*?)\b(?:\w+::)?(\w+)\s*(\([^;{}]*?\))\s*"
                    r"(?:const\s*)?(?:override\s*)?\{", re.MULTILINE)
# A feature is plugged in as a lambda given to a BridgeOperations member.
BINDING = re.compile(r"\.(\w+)\s*=\s*\[[^\]]*\]\s*(?:\([^)]*\))?\s*(?:mutable\s*)?\{")
NESTING = {"(": 1, "<": 1, "{": 1, "[": 1, ")": -1, ">": -1, "}": -1, "]": -1}
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


def count_top(text):
    """How many comma-separated parts `text` has at nesting depth 0."""
    depth, parts = 0, int(bool(text.strip()))
    for m in re.finditer(r"[(){}\[\]<>,]", text.replace("->", "")):
        depth += NESTING.get(m.group(0), 0)
        parts += m.group(0) == "," and depth == 0
    return parts


@functools.lru_cache(maxsize=None)
def calls(blank):
    """[(name, number of arguments)] of the calls in a body, strings blanked."""
    found = []
    for m in CALL.finditer(blank):
        end = block_end(blank, m.end() - 1, "()")
        found.append((m.group(1), count_top(blank[m.end():end])))
    return found


def block_end(text, start, pair="{}"):
    depth = 0
    for i in range(start, len(text)):
        depth += (text[i] == pair[0]) - (text[i] == pair[1])
        if depth == 0:
            return i
    return len(text)


def takes(header, count):
    """Whether a function whose header ends in "(...)" takes `count` arguments."""
    parameters = re.sub(r"^\s*void\s*$", "", header[header.index("(") + 1:-1])
    return count_top(re.sub(r"=[^,]*", "", parameters)) - parameters.count("=") <= count \
        <= count_top(parameters)


class Program:
    """Functions by name (with folder, header, body and the body with strings
    blanked), the bindings of BridgeOperations members, and the dispatcher."""

    def __init__(self, files):
        self.functions, self.bindings, self.dispatch = {}, {}, {}
        for path, source in files.items():
            code = "\n".join(re.sub(r'("(?:[^"\\]|\\.)*")|//.*', lambda m: m.group(1) or "", line)
                             for line in source.splitlines())
            blank = STRING.sub(lambda m: '"' + " " * len(m.group(1)) + '"', code)
            folder = os.path.dirname(path)
            for m in HEADER.finditer(blank):
                end = block_end(blank, m.end() - 1)
                if path == DISPATCH:
                    self.dispatch[m.group(2)] = self.dispatch.get(m.group(2), "") + code[m.end():end]
                else:
                    self.functions.setdefault(m.group(2), []).append(
                        (folder, m.group(1) + m.group(3), code[m.end():end], blank[m.end():end]))
            for m in BINDING.finditer(blank) if path != DISPATCH else ():
                end = block_end(blank, m.end() - 1)
                self.bindings.setdefault(m.group(1), []).append(
                    (folder, "", code[m.end():end], blank[m.end():end]))
        self.constants = dict(re.findall(r"constexpr\s+[\w:]+\s+(k\w+)\s*=\s*(-?\d+)[uUlL]*\s*;",
                                         "\n".join(files.values())))
        bridge = {n: "".join(f[2] for f in found if f[0] == os.path.dirname(DISPATCH))
                  for n, found in self.functions.items()}
        self.job_codes = codes_in(closure_by_name("RunAsync", bridge))

    def closure(self, start, follow):
        """Bodies reached from the function `start`: all it calls directly,
        then those whose header `follow` accepts. A call goes to the functions
        of its name taking its number of arguments, in the caller's folder,
        else to the one such function anywhere."""
        bodies, seen = [start[2]], set()
        todo = [(call, start[0], True) for call in calls(start[3])]
        while todo:
            (name, count), caller, direct = todo.pop()
            found = [f for f in self.functions.get(name, []) if takes(f[1], count)]
            for f in [f for f in found if f[0] == caller] or found[:len(found) == 1]:
                if (name,) + f[:2] not in seen and (direct or follow(f[1])):
                    seen.add((name,) + f[:2])
                    bodies.append(f[2])
                    todo += [(call, f[0], False) for call in calls(f[3])]
        return "\n".join(bodies)

    def methods(self):
        result = {}
        for method, handler in re.findall(r'\{\s*"(\w+)"\s*,\s*(\w+)\s*\}', self.dispatch["MethodTable"]):
            body = closure_by_name(handler, self.dispatch)
            features = [b for op in re.findall(r"\bc\.ops\.(\w+)", body) for b in self.bindings.get(op, [])]
            is_job = re.search(r"\bRunAsync\s*\(", body) is not None
            result[method] = {
                "arguments": self.defaults(body),
                "codes": codes_in(body) | (self.job_codes if is_job else set()),
                "job": is_job,
                "texts": {t for t in STRING.findall(body) if CJK.search(t)} | message_texts("\n".join(
                    self.closure(b, lambda h: re.search(r"string\s*\*\s*(?:message|error)\b", h))
                    for b in features)),
                "keys": keys_in(body + "\n".join(self.closure(b, lambda h: "Encodable" in h)
                                                 for b in features)),
            }
        return result

    def defaults(self, body):
        """{argument: its default as JSON text, or "required"}."""
        found = {}
        for m in re.finditer(r'\b(\w+)Argument\(\s*(?:c\.args|c)\s*,\s*"(\w+)"\s*(?:,([^;]*?))?\)', body):
            reader, key, rest = m.group(1), m.group(2), m.group(3) or ""
            # Required: refused when the reader finds nothing, or a path-like
            # argument given the text to refuse it with.
            if "nullptr" not in rest if reader == "WindowsText" else body[m.start() - 1] == "!":
                found[key] = "required"
            elif reader in ("Integer", "Bool"):
                value = rest.split(",")[-1].strip()
                found[key] = self.constants.get(value, value)
            else:  # "" or [], unless an empty value is replaced
                variable = re.search(r"(\w+)\s*=\s*$|&(\w+)$", body[m.start() - 60:m.start()] + rest)
                variable = variable and (variable.group(1) or variable.group(2))
                fill = variable and re.search(r"if \(%s\.empty\(\)\) %s(?: = |\.push_back\()(\"[^\"]*\")"
                                              % (variable, variable), body)
                value = fill.group(1) if fill else ""
                found[key] = "[%s]" % value if reader == "StringList" else value or '""'
        return found

    def events(self):
        """{kind: keys} of every map whose "channel" is a fixed text."""
        result = {}
        for f in (f for found in self.functions.values() for f in found):
            for kind in EVENT.findall(f[2]):
                result[kind] = result.get(kind, set()) | keys_in(self.closure(f, lambda h: "Encodable" in h))
        return result


def closure_by_name(name, defined):
    seen, todo = set(), [name]
    while todo:
        current = todo.pop()
        if current in defined and current not in seen:
            seen.add(current)
            todo += CALL.findall(defined[current])
    return "\n".join(defined[n] for n in seen)


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
    return {t for statement in re.split(r"[;{}]", body) if re.search(r"\b(?:message|error)\b", statement)
            for t in STRING.findall(statement) if CJK.search(t)}


def tables(text):
    """[(header cells, [row cells])] of every table in `text`."""
    blocks = re.findall(r"(?:^\|.*\n?)+", text, re.MULTILINE)
    rows = [[[c.strip() for c in line.strip().strip("|").split("|")] for line in b.splitlines()]
            for b in blocks]
    return [(r[0], r[2:]) for r in rows]


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
                    facts["keys"].update(NAME.findall(" | ".join(row)))
                    facts["imports"].update(re.findall(r"as in `(\w+)`", " | ".join(row)))
        for name in NAME.findall(heading):
            assert name not in sections, "%s documented twice" % name
            sections[name] = facts
    return sections


def page_keys(sections, name, references):
    """A section's keys with those it brings in, less the `references`."""
    keys, todo, seen = set(), [name], set()
    while todo:
        current = todo.pop()
        if current in sections and current not in seen:
            seen.add(current)
            keys |= sections[current]["keys"]
            todo += sections[current]["imports"]
    return keys - references


def default_matches(page_default, code_default):
    if "required" in (page_default, code_default):
        return page_default == code_default
    m = re.match(r'-?\d+|true|false|"[^"]*"|\[[^\]]*\]', page_default)
    try:
        return m is not None and json.loads(m.group(0)) == json.loads(code_default)
    except ValueError:  # a default this reader cannot evaluate is told as a difference
        return False


def both_ways(what, program, page):
    return (["%s is in the program but not on the page" % (what % x) for x in sorted(program - page)]
            + ["%s is on the page but not in the program" % (what % x) for x in sorted(page - program)])


def differences(files, text, e2e):
    """Readable lines for everything the page and the program disagree on."""
    program = Program(files)
    code, doc, events, doc_events = (program.methods(), page_sections(text, "Methods"),
                                     program.events(), page_sections(text, "Events"))
    names = set(doc) | set(doc_events)
    job_codes = {c for _, rows in tables(part(text, "Answer kinds, and errors every method can give"))
                 for row in rows for c in re.findall(r"`([a-z-]+)`", row[0])}
    lines = both_ways("method %s", set(code), set(doc)) + both_ways(
        "job code %s", program.job_codes, job_codes)
    for method in sorted(set(code) & set(doc)):
        c, d = code[method], doc[method]
        if c["job"] != d["job"]:
            lines.append("%s: the page and the program disagree on whether it is a job" % method)
        lines += both_ways(method + ": argument %s", set(c["arguments"]), set(d["arguments"]))
        lines += both_ways(method + ": error code %s", c["codes"],
                           d["codes"] | (job_codes if d["job"] else set()))
        lines += ["%s: the default of %s is %s, not %s" % (method, a, c["arguments"][a], d["arguments"][a])
                  for a in sorted(set(c["arguments"]) & set(d["arguments"]))
                  if not default_matches(d["arguments"][a], c["arguments"][a])]
        lines += ['%s: the text "%s" is not on the page' % (method, t)
                  for t in sorted(c["texts"] - set(UNREACHABLE)) if t not in d["text"]]
        if re.search(r"[\"']%s[\"']" % method, e2e):
            lines += both_ways(method + ": reply key %s", c["keys"], page_keys(doc, method, names))
    lines += both_ways("event %s", set(events), set(doc_events))
    for kind in sorted(set(events) & set(doc_events)):
        lines += both_ways(kind + ": event key %s", events[kind], page_keys(doc_events, kind, names))
    return lines


class ChannelPageTest(unittest.TestCase):
    def test_the_page_and_the_program_agree(self):
        files = {}
        for folder, _, names in os.walk(os.path.join(ROOT, "src")):
            for name in (n for n in names if n.endswith((".cc", ".h"))):
                files[os.path.relpath(os.path.join(folder, name), ROOT)] = read(os.path.join(folder, name))
        e2e = os.path.join(ROOT, "tests", "e2e")
        e2e = "\n".join(read(os.path.join(e2e, n)) for n in os.listdir(e2e) if n.endswith(".py"))
        text = read(PAGE)
        self.assertEqual(differences(files, text, e2e), [])
        # A reader that finds nothing would agree with everything.
        program = Program(files)
        methods = program.methods()
        found = lambda what: [x for m in methods.values() for x in m[what]]  # noqa: E731
        self.assertGreaterEqual(len(methods), 20)
        self.assertTrue(program.job_codes)
        self.assertGreater(len(set(found("keys"))), 100)
        self.assertGreater(len(set(found("texts"))), 50)
        self.assertTrue([d for m in methods.values() for d in m["arguments"].values() if d.isdigit()])
        self.assertTrue(all(len(keys) > 1 for keys in program.events().values()))
        at_a_glance = {n for _, rows in tables(part(text, "Methods at a glance"))
                       for row in rows for n in NAME.findall(row[0])}
        self.assertEqual(at_a_glance, set(methods))


if __name__ == "__main__":
    sys.exit(unittest.main())
