"""What the sources promise on the channel "vek_tool/native", read from src/:
every method of the dispatcher's table with its arguments and their defaults
(as Dart writes them, or "required"), its error codes, whether it is a job, the
fixed texts it can answer (the dispatcher's and those the feature behind it sets
as its message), and the keys of its replies; the codes every job can give; and
every event kind with its keys.

Keys are map keys written in the sources (EncodableValue("k") as a map key,
Key("k"), .Add("k", ...), put("k", ...), an EventTemplate's list). A call goes
to the functions of its name that take its number of arguments, in the
caller's folder first (the functions a feature calls further down only there),
so a feature's Open is not mistaken for another's.

  python3 tools/channel_contract.py [NAME...]   prints it as JSON (only the
                                                named methods and events)

docs/channel.md is held to it by tests/tools/channel_doc_test.py.
"""

import functools
import json
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DISPATCH = os.path.join("src", "bridge", "native_bridge_dispatch.cc")
STRING = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
CJK = re.compile(r"[\u3000-\u9fff\uff00-\uffef]")
CALL = re.compile(r"\b(\w+)\s*\(")
KEY = re.compile(r'EncodableValue\("([a-z]\w*)"\)\s*[\],]|\bKey\("([a-z]\w*)"\)'
                 r'|(?:\.Add|\bput)\(\s*"([a-z]\w*)"\s*,|EventTemplate\(([^;]*)')
EVENT = re.compile(r'EncodableValue\("channel"\)\s*(?:\]\s*=|,)\s*EncodableValue\("(\w+)"\)')
HEADER = re.compile(r"^([A-Za-z][\w:<>,&\*\s]*?)\b(?:\w+::)?(\w+)\s*(\([^;{}]*?\))\s*"
                    r"(?:const\s*)?(?:override\s*)?\{", re.MULTILINE)
# A feature is plugged in as a lambda given to a BridgeOperations member.
BINDING = re.compile(r"\.(\w+)\s*=\s*\[[^\]]*\]\s*(?:\([^)]*\))?\s*(?:mutable\s*)?\{")
# Texts no call can answer: the dispatch refuses an empty path or port first,
# and the bridge always hands its outputs over.
UNREACHABLE = {"HID 设备路径为空", "串口名称不能为空", "输出参数为空", "缺少串口列表输出"}


def count_top(text):
    """How many comma-separated parts `text` has at nesting depth 0."""
    depth, parts = 0, int(bool(text.strip()))
    for m in re.finditer(r"[(){}\[\]<>,]", text.replace("->", "")):
        depth += (m.group(0) in "({[<") - (m.group(0) in ")}]>")
        parts += m.group(0) == "," and depth == 0
    return parts


def block_end(text, start, pair="{}"):
    depth = 0
    for i in range(start, len(text)):
        depth += (text[i] == pair[0]) - (text[i] == pair[1])
        if depth == 0:
            return i
    return len(text)


@functools.lru_cache(maxsize=None)
def calls(blank):
    """[(name, number of arguments)] of the calls in a body, strings blanked."""
    return [(m.group(1), count_top(blank[m.end():block_end(blank, m.end() - 1, "()")]))
            for m in CALL.finditer(blank)]


def takes(header, count):
    """Whether a function whose header ends in "(...)" takes `count` arguments."""
    parameters = re.sub(r"^\s*void\s*$", "", header[header.index("(") + 1:-1])
    defaulted = parameters.count("=")
    return count_top(re.sub(r"=[^,]*", "", parameters)) - defaulted <= count <= count_top(parameters)


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


class Program:
    """Functions by name (folder, header, body, body with strings blanked), the
    bindings of BridgeOperations members, and the dispatcher's functions."""

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
            for f in [f for f in found if f[0] == caller] or found[:direct and len(found) == 1]:
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
            # The texts of the statements that set a message out-parameter.
            told = "\n".join(self.closure(b, lambda h: re.search(r"string\s*\*\s*(?:message|error)\b", h))
                             for b in features)
            told = [t for s in re.split(r"[;{}]", told) if re.search(r"\b(?:message|error)\b", s)
                    for t in STRING.findall(s)]
            result[method] = {
                "arguments": self.defaults(body),
                "codes": codes_in(body) | (self.job_codes if is_job else set()),
                "job": is_job,
                "texts": {t for t in STRING.findall(body) + told if CJK.search(t)} - UNREACHABLE,
                "keys": keys_in(body + "\n".join(self.closure(b, lambda h: "Encodable" in h)
                                                 for b in features)),
            }
        return result

    def defaults(self, body):
        """{argument: its default as Dart writes it, or "required"}."""
        found = {}
        for m in re.finditer(r'\b(\w+)Argument\(\s*(?:c\.args|c)\s*,\s*"(\w+)"\s*(?:,([^;]*?))?\)', body):
            reader, key, rest = m.group(1), m.group(2), m.group(3) or ""
            # Required: refused when the reader finds nothing, or a path-like
            # argument given the text to refuse it with.
            if "nullptr" not in rest if reader == "WindowsText" else body[m.start() - 1] == "!":
                found[key] = "required"
            elif reader in ("Integer", "Bool"):
                value = rest.split(",")[-1].strip()
                # A sentinel default (kAbsentInteger) means "not given".
                found[key] = "absent" if value.startswith("kAbsent") else self.constants.get(value, value)
            else:  # "" or [], unless the next statement replaces an empty value
                fill = re.match(r'[^;]*;\s*if \(\w+\.empty\(\)\) \w+(?: = |\.push_back\()("[^"]*")',
                                body[m.end():])
                value = fill.group(1) if fill else ""
                found[key] = "[%s]" % value if reader in ("StringList", "List") else value or '""'
        return found

    def events(self):
        """{kind: keys} of every map whose "channel" is a fixed text."""
        result = {}
        for f in (f for found in self.functions.values() for f in found):
            for kind in EVENT.findall(f[2]):
                result[kind] = result.get(kind, set()) | keys_in(self.closure(f, lambda h: "Encodable" in h))
        return result


def contract(root=ROOT):
    """{"methods": {name: facts}, "jobCodes": codes, "events": {kind: keys}}."""
    files = {}
    for folder, _, names in os.walk(os.path.join(root, "src")):
        for name in (n for n in names if n.endswith((".cc", ".h"))):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                files[os.path.relpath(os.path.join(folder, name), root)] = f.read()
    program = Program(files)
    return {"methods": program.methods(), "jobCodes": program.job_codes, "events": program.events()}


if __name__ == "__main__":
    found, wanted = contract(), set(sys.argv[1:])
    if wanted:
        found = {what: {n: v for n, v in table.items() if n in wanted}
                 for what, table in found.items() if isinstance(table, dict)}
    print(json.dumps(found, ensure_ascii=False, indent=1, sort_keys=True,
                     default=lambda s: sorted(s)))
