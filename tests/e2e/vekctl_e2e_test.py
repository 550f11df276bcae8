"""tools/vekctl as other tools use it: one call per run with its JSON line and
exit status, and --script with event-channel commands, events in arrival
order and the program's exit code. (Its JSON forms are held to the codec's
bytes natively, by tests/tools/vekctl_mapping_test.py.)"""

import json
import os
import subprocess
import sys
import unittest

from e2e_support import ROOT

VEKCTL = os.path.join(ROOT, "tools", "vekctl")


def vekctl(arguments, stdin_text=None):
    run = subprocess.run([sys.executable, VEKCTL] + arguments, input=stdin_text,
                         capture_output=True, text=True, encoding="utf-8", timeout=300)
    return run.returncode, [json.loads(line) for line in run.stdout.splitlines()], run.stderr


class VekctlTest(unittest.TestCase):
    def test_one_call_prints_one_line_and_exits_by_reply_kind(self):
        code, lines, err = vekctl(["nowMicros"])
        self.assertEqual((code, len(lines), type(lines[0].get("ok"))), (0, 1, int), err)
        for arguments, status, line in [
                (["noSuchMethod"], 2, {"notImplemented": True}),
                (["readHidDescriptors", '{"path": ""}'], 1,
                 {"error": {"code": "hid-invalid-path", "message": "缺少 path 参数"}})]:
            code, lines, err = vekctl(arguments)
            self.assertEqual((code, lines), (status, [line]), err)

    def test_script_answers_in_order_with_events_and_the_exit_code(self):
        commands = [{"cancel": True}, {"listen": True}, {"call": "startRawInput"},
                    {"sleepMs": 1500}, {"call": "stopRawInput"}, {"cancel": True},
                    {"call": "noSuchMethod"}]
        code, lines, err = vekctl(["--script"], "".join(json.dumps(c) + "\n" for c in commands))
        self.assertEqual(code, 0, err)
        at = [i for i, line in enumerate(lines) if "event" not in line]
        self.assertEqual([lines[i] for i in at], [
            {"error": {"code": "error", "message": "No active stream to cancel"}},
            {"ok": None}, {"ok": None}, {"ok": None}, {"ok": None}, {"notImplemented": True}], err)
        # Capture statistics arrive while it runs, and no event after the cancel.
        channels = [line["event"].get("channel") for line in lines[at[2] + 1:at[3]]]
        self.assertIn("rawInputStats", channels, lines)
        self.assertEqual(at[4:], list(range(at[4], len(lines))), lines)


if __name__ == "__main__":
    unittest.main(verbosity=2)
