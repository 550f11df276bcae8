"""docs/channel.md, read as its opening says it is written, against what the
sources promise (tools/channel_contract.py): methods, arguments, defaults, codes
and mode both ways; fixed texts code to page; the reply keys of the methods
tests/e2e calls, and the events with their keys, both ways. Keys are read from
the sources, not from the replies the e2e suites see: under Wine most maps stay
empty (no USB nodes, no chatter), so a renamed key would never show there."""

import os
import re
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import channel_contract  # noqa: E402

NAME = re.compile(r"`([A-Za-z]\w*)`")
CODE = re.compile(r"`([a-z]+(?:-[a-z]+)+)`")
DEFAULT = re.compile(r'required|absent|-?\d+|true|false|"[^"]*"|\[[^\]]*\]')


def part(text, title):
    return re.search(r"^## %s\s*$(.*?)(?=^## |\Z)" % re.escape(title), text, re.M | re.S).group(1)


def rows(text, first):
    """The cells of the rows of every table in `text` whose header starts `first`."""
    return [[c.strip() for c in line.strip().strip("|").split("|")]
            for block in re.findall(r"(?:^\|.*\n?)+", text, re.M)
            if block.startswith("| %s |" % first) for line in block.splitlines()[2:]]


def sections(text, title):
    """{name: facts} of the "### " sections of one part of the page."""
    found = {}
    parts = re.split(r"^### (.*)$", part(text, title), flags=re.M)
    for heading, body in zip(parts[1::2], parts[2::2]):
        keys = " | ".join(" | ".join(row) for row in rows(body, "key"))
        facts = {"job": body.strip().startswith("job"), "text": body,
                 "arguments": {n: row[2] for row in rows(body, "argument") for n in NAME.findall(row[0])},
                 "codes": {c for row in rows(body, "code") for c in CODE.findall(row[0])},
                 "keys": set(NAME.findall(keys)), "imports": set(re.findall(r"as in `(\w+)`", keys))}
        for name in NAME.findall(heading):
            assert name not in found, "%s documented twice" % name
            found[name] = facts
    return found


def page_keys(documented, name, references):
    """A section's keys with those it brings in ("as in `x`"), less the `references`."""
    keys, todo, seen = set(), [name], set()
    while todo:
        current = todo.pop()
        if current in documented and current not in seen:
            seen.add(current)
            keys |= documented[current]["keys"]
            todo += documented[current]["imports"]
    return keys - references


def both_ways(what, program, page):
    return (["%s is in the program but not on the page" % (what % x) for x in sorted(program - page)]
            + ["%s is on the page but not in the program" % (what % x) for x in sorted(page - program)])


def differences(program, text, called):
    """Readable lines for everything the page and the program disagree on."""
    code, events = program["methods"], program["events"]
    doc, doc_events = sections(text, "Methods"), sections(text, "Events")
    references = set(doc) | set(doc_events)
    job_codes = {c for row in rows(part(text, "Answer kinds, and errors every method can give"), "code")
                 for c in CODE.findall(row[0])}
    glance = {n for row in rows(part(text, "Methods at a glance"), "method") for n in NAME.findall(row[0])}
    lines = (both_ways("method %s", set(code), set(doc))
             + both_ways("method %s (at a glance)", set(code), glance)
             + both_ways("job code %s", program["jobCodes"], job_codes))
    for method in sorted(set(code) & set(doc)):
        c, d = code[method], doc[method]
        if c["job"] != d["job"]:
            lines.append("%s: the page and the program disagree on whether it is a job" % method)
        lines += both_ways(method + ": argument %s", set(c["arguments"]), set(d["arguments"]))
        lines += both_ways(method + ": error code %s", c["codes"],
                           d["codes"] | (job_codes if d["job"] else set()))
        lines += ["%s: the default of %s is %s, not %s" % (method, a, c["arguments"][a], d["arguments"][a])
                  for a in sorted(set(c["arguments"]) & set(d["arguments"]))
                  if (DEFAULT.match(d["arguments"][a]) or [None])[0] != c["arguments"][a]]
        lines += ['%s: the text "%s" is not on the page' % (method, t)
                  for t in sorted(c["texts"]) if t not in d["text"]]
        if method in called:
            lines += both_ways(method + ": reply key %s", c["keys"], page_keys(doc, method, references))
    lines += both_ways("event %s", set(events), set(doc_events))
    for kind in sorted(set(events) & set(doc_events)):
        lines += both_ways(kind + ": event key %s", events[kind], page_keys(doc_events, kind, references))
    return lines


class ChannelPageTest(unittest.TestCase):
    def test_the_page_and_the_program_agree(self):
        program = channel_contract.contract()
        e2e = os.path.join(ROOT, "tests", "e2e")
        e2e = "".join(open(os.path.join(e2e, n), encoding="utf-8").read()
                      for n in os.listdir(e2e) if n.endswith(".py"))
        called = {m for m in program["methods"] if re.search(r"[\"']%s[\"']" % m, e2e)}
        with open(os.path.join(ROOT, "docs", "channel.md"), encoding="utf-8") as f:
            self.assertEqual(differences(program, f.read(), called), [])
        # Texts go one way and keys only for these: a reader that finds none would agree.
        self.assertGreater(len({t for m in program["methods"].values() for t in m["texts"]}), 50)
        self.assertGreater(len(called), 10)


if __name__ == "__main__":
    sys.exit(unittest.main())
