"""vekctl's JSON mapping, checked through the independent codec's bytes."""

import importlib.machinery
import importlib.util
import os
import struct
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import vekdriver  # noqa: E402

_loader = importlib.machinery.SourceFileLoader("vekctl", os.path.join(ROOT, "tools", "vekctl"))
_spec = importlib.util.spec_from_loader("vekctl", _loader)
vekctl = importlib.util.module_from_spec(_spec)
_loader.exec_module(vekctl)


def encoded(json_text):
    out = bytearray()
    vekdriver.encode_value(out, vekctl.json_to_value(vekctl.parse_json(json_text)))
    return bytes(out)


class JsonToCodecTest(unittest.TestCase):
    def test_bytes_of_each_form(self):
        cases = [
            ("null", b"\x00"),
            ("true", b"\x01"),
            ("7", b"\x03" + struct.pack("<i", 7)),
            ("-2147483648", b"\x03" + struct.pack("<i", -2**31)),
            ("2147483648", b"\x04" + struct.pack("<q", 2**31)),
            ("-2147483649", b"\x04" + struct.pack("<q", -2**31 - 1)),
            ("1.0", b"\x06" + b"\x00" * 7 + struct.pack("<d", 1.0)),
            ("1e3", b"\x06" + b"\x00" * 7 + struct.pack("<d", 1000.0)),
            ('"é"', b"\x07\x02\xc3\xa9"),
            ('{"$bytes": "01ff"}', b"\x08\x02\x01\xff"),
            ('{"$int32": [1, -1]}', b"\x09\x02\x00\x00" + struct.pack("<ii", 1, -1)),
            ('{"$int64": [5]}', b"\x0a\x01" + b"\x00" * 6 + struct.pack("<q", 5)),
            ('{"$float32": [0.5]}', b"\x0e\x01\x00\x00" + struct.pack("<f", 0.5)),
            ('{"$float64": [2]}', b"\x0b\x01" + b"\x00" * 6 + struct.pack("<d", 2.0)),
            ('[1, "a"]', b"\x0c\x02\x03" + struct.pack("<i", 1) + b"\x07\x01a"),
            ('{"k": false}', b"\x0d\x01\x07\x01k\x02"),
            ('{"$map": [[1, null]]}', b"\x0d\x01\x03" + struct.pack("<i", 1) + b"\x00"),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(encoded(text), expected)

    def test_refused_input(self):
        for text in ['{"$bytes": "xyz"}', '{"$int32": [2147483648]}', '{"$int32": [1.5]}',
                     '{"$int64": ["1"]}', '{"$map": [[1]]}', "18446744073709551616", "NaN"]:
            with self.subTest(text=text):
                with self.assertRaises((vekctl.MappingError, ValueError)):
                    vekctl.json_to_value(vekctl.parse_json(text))

    def test_map_with_dollar_key_and_more_keys_is_a_plain_map(self):
        self.assertEqual(vekctl.json_to_value(vekctl.parse_json('{"$bytes": "00", "x": 1}')),
                         {"$bytes": "00", "x": 1})


class CodecToJsonTest(unittest.TestCase):
    def test_round_trip_through_bytes(self):
        for text in ['{"a": [1, 2.5, "x", null, true]}', '{"$bytes": "00ff10"}',
                     '{"$int32": [1, 2]}', '{"$int64": [-3]}', '{"$float64": [1.5]}',
                     '{"$float32": [0.25]}', '{"$map": [[1, "one"], [[2], "two"]]}']:
            with self.subTest(text=text):
                value = vekdriver.decode_value(encoded(text))
                self.assertEqual(vekctl.value_to_json(value), vekctl.parse_json(text))

    def test_replies(self):
        ok = vekdriver.decode_envelope(b"\x00\x03" + struct.pack("<i", 4))
        self.assertEqual(vekctl.reply_to_json(ok), {"ok": 4})
        error = vekdriver.decode_envelope(b"\x01\x07\x01e\x07\x01m\x00")
        self.assertEqual(vekctl.reply_to_json(error), {"error": {"code": "e", "message": "m"}})
        self.assertEqual(vekctl.reply_to_json(vekdriver.decode_envelope(b"")),
                         {"notImplemented": True})

    def test_truncated_values_are_refused(self):
        for data in [b"\x03\x01", b"\x07\x05ab", b"\x0c\x02\x00", b"\x09\x02\x00\x00\x01",
                     b"\xff", b"\x07\xfe\x01"]:
            with self.subTest(data=data):
                with self.assertRaises(vekdriver.CodecError):
                    vekdriver.decode_value(data)


class FrameTest(unittest.TestCase):
    def test_layout(self):
        self.assertEqual(vekdriver.encode_frame(2, 0x01020304, "ab", b"\x09\x08"),
                         bytes([11, 0, 0, 0, 2, 4, 3, 2, 1, 2, 0, 97, 98, 9, 8]))


if __name__ == "__main__":
    unittest.main()
