"""tools/vekctl as other tools use it: one call per run with its JSON line and
exit status, and --script with event-channel commands, events in arrival
order and the program's exit code. The JSON forms reach the program as the
typed values they name: a byte list is accepted as write data, an int32 list
is not."""

import json
import os
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VEKCTL = os.path.join(ROOT, "tools", "vekctl")
TIMEOUT = 300

NO_DATA = {"error": {"code": "hid-invalid-data", "message": "缺少 data 参数"}}


def vekctl(arguments, stdin_text=None):
    run = subprocess.run([sys.executable, VEKCTL] + arguments, input=stdin_text,
                         capture_output=True, text=True, encoding="utf-8", timeout=TIMEOUT)
    return run.returncode, [json.loads(line) for line in run.stdout.splitlines()], run.stderr


class VekctlTest(unittest.TestCase):
    def test_one_call_prints_one_line_and_exits_by_reply_kind(self):
        cases = [
            (["noSuchMethod"], 2, {"notImplemented": True}),
            (["readHidDescriptors", '{"path": ""}'], 1,
             {"error": {"code": "hid-invalid-path", "message": "缺少 path 参数"}}),
            (["writeHidOutput", '{"path": "p", "data": {"$int32": [1, 2]}}'], 1, NO_DATA),
        ]
        for arguments, status, line in cases:
            with self.subTest(arguments=arguments):
                code, lines, err = vekctl(arguments)
                self.assertEqual((code, lines), (status, [line]), err)
        code, lines, err = vekctl(["nowMicros"])
        self.assertEqual(code, 0, err)
        self.assertEqual(len(lines), 1)
        self.assertIsInstance(lines[0]["ok"], int)

    def test_script_answers_in_order_with_events_and_the_exit_code(self):
        commands = [
            {"cancel": True},
            {"listen": True},
            {"call": "writeHidOutput", "args": {"path": "p", "data": {"$bytes": "0102"}}},
            {"call": "writeHidOutput", "args": {"path": "p", "data": {"$int64": [1]}}},
            {"call": "startRawInput"},
            {"sleepMs": 1500},
            {"call": "stopRawInput"},
            {"cancel": True},
            {"call": "noSuchMethod"},
        ]
        code, lines, err = vekctl(["--script"],
                                  "".join(json.dumps(c) + "\n" for c in commands))
        self.assertEqual(code, 0, err)
        at = [i for i, line in enumerate(lines) if "event" not in line]
        replies = [lines[i] for i in at]
        # The bytes were taken as data: the write got as far as opening "p".
        self.assertEqual(replies[2].get("error", {}).get("code"), "hid-write-output-failed",
                         replies)
        replies[2] = "write failed"
        self.assertEqual(replies, [
            {"error": {"code": "error", "message": "No active stream to cancel"}},
            {"ok": None},
            "write failed",
            NO_DATA,
            {"ok": None},
            {"ok": None},
            {"ok": None},
            {"notImplemented": True},
        ], err)
        # Capture statistics arrive while it runs, and no event after the cancel.
        channels = [line["event"].get("channel") for line in lines[at[4] + 1:at[5]]]
        self.assertIn("rawInputStats", channels, lines)
        self.assertEqual(at[6:], list(range(at[6], len(lines))), lines)


if __name__ == "__main__":
    unittest.main(verbosity=2)
