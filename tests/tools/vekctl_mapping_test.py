"""vekctl's JSON mapping, both ways, checked through the independent codec's
bytes (tools/vekdriver.py). tests/e2e/vekctl_e2e_test.py holds the rest of its
contract against the running program."""

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


def i32(value):
    return b"\x03" + struct.pack("<i", value)


class JsonMappingTest(unittest.TestCase):
    def test_each_form_encodes_to_its_bytes_and_decodes_back(self):
        cases = [
            ("null", b"\x00"),
            ("true", b"\x01"),
            ("7", i32(7)),
            ("-2147483648", i32(-2**31)),
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
            ('[1, "a"]', b"\x0c\x02" + i32(1) + b"\x07\x01a"),
            ('{"k": false}', b"\x0d\x01\x07\x01k\x02"),
            ('{"$map": [[1, null]]}', b"\x0d\x01" + i32(1) + b"\x00"),
            ('{"$map": [[1, "one"], [[2], "two"]]}',
             b"\x0d\x02" + i32(1) + b"\x07\x03one\x0c\x01" + i32(2) + b"\x07\x03two"),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                out = bytearray()
                vekdriver.encode_value(out, vekctl.json_to_value(vekctl.parse_json(text)))
                self.assertEqual(bytes(out), expected)
                self.assertEqual(vekctl.value_to_json(vekdriver.decode_value(expected)),
                                 vekctl.parse_json(text))

    def test_refused_input(self):
        for text in ['{"$bytes": "xyz"}', '{"$int32": [2147483648]}', '{"$int32": [1.5]}',
                     '{"$int64": ["1"]}', '{"$map": [[1]]}', "18446744073709551616", "NaN"]:
            with self.subTest(text=text):
                with self.assertRaises((vekctl.MappingError, ValueError)):
                    vekctl.json_to_value(vekctl.parse_json(text))

    def test_map_with_dollar_key_and_more_keys_is_a_plain_map(self):
        self.assertEqual(vekctl.json_to_value(vekctl.parse_json('{"$bytes": "00", "x": 1}')),
                         {"$bytes": "00", "x": 1})


if __name__ == "__main__":
    unittest.main()
