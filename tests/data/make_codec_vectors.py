#!/usr/bin/env python3
"""Turns the shared Flutter codec vectors (JSON) into the line format read by
tests/unit/channels/codec_vectors_test.cc. Run from this folder:
  python3 make_codec_vectors.py ../../../shared/testdata/flutter_standard_codec/flutter_standard_codec_vectors.json > flutter_standard_codec_vectors.txt

Each data line: CHECK HEX ZEROS RENDER ID
  CHECK   exact | reordered | malformed | call | call_rejected | success | error |
          error_decode | response_bad
  HEX     message bytes ("-" for none); ZEROS zero bytes that follow HEX
  RENDER  the expected decoded value in the test's text form ("-" when none; for
          call the method name and arguments; for error/error_decode the code,
          message and details)
"""
import json
import sys


def wrap64(v):
    return ((v + 2**63) % 2**64) - 2**63


def render(v):
    if v is None:
        return "n"
    t = v["type"]
    if t == "null":
        return "n"
    if t == "bool":
        return "T" if v["value"] else "F"
    if t == "int":
        n = wrap64(int(v["value"]))
        return ("i%d" if -2**31 <= n < 2**31 else "l%d") % n
    if t == "float64":
        return "d" + v["ieee754_le_hex"]
    if t == "string":
        return "s" + v["value"].encode("utf-8").hex()
    if t == "uint8list":
        if "length" in v:
            h = ("%02x" % v["fill"]) * v["length"]
        else:
            h = v.get("hex", "")
        # Long byte lists show their length and first 32 bytes.
        return "u%d:%s" % (len(h) // 2, h[:64])
    if t == "int32list":
        return "I[" + ",".join(str(x) for x in v["value"]) + "]"
    if t == "int64list":
        return "L[" + ",".join(str(x) for x in v["value"]) + "]"
    if t == "float64list":
        return "D[" + ",".join(v["ieee754_le_hex"]) + "]"
    if t == "float32list":
        return "f[" + ",".join(v["ieee754_le_hex"]) + "]"
    if t == "list":
        return "[" + ",".join(render(x) for x in v["value"]) + "]"
    if t == "map":
        # Entry order is not part of a value: both sides sort by text.
        return "{" + ",".join(sorted(render(k) + ":" + render(x) for k, x in v["entries"])) + "}"
    raise ValueError(t)


ALT = {"null": 0, "bool": 1, "float64": 4, "string": 5, "uint8list": 6, "int32list": 7,
       "int64list": 8, "float64list": 9, "list": 10, "map": 11, "float32list": 13}


def sort_key(v):
    t = v["type"]
    if t == "int":
        n = wrap64(int(v["value"]))
        return (2 if -2**31 <= n < 2**31 else 3, n)
    if t == "bool":
        return (1, v["value"])
    if t == "string":
        return (5, v["value"].encode("utf-8"))
    if t == "float64":
        return (4, float.fromhex(v["value"]) if False else v["value"])
    return (ALT[t], 0)


def in_our_map_order(v):
    """False when some map's entries are not in the order our sorted map writes."""
    if v is None:
        return True
    if v["type"] == "list":
        return all(in_our_map_order(x) for x in v["value"])
    if v["type"] == "map":
        keys = [sort_key(k) for k, _ in v["entries"]]
        try:
            ordered = keys == sorted(keys)
        except TypeError:
            ordered = False
        return ordered and all(in_our_map_order(k) and in_our_map_order(x) for k, x in v["entries"])
    return True


def text(s):
    return "n" if s is None else "s" + s.encode("utf-8").hex()


def main():
    data = json.load(open(sys.argv[1], encoding="utf-8"))
    print("# Converted from flutter_standard_codec_vectors.json (BSD-3-Clause, The Flutter Authors;")
    print("# sources in ../shared/testdata/flutter_standard_codec/SOURCES.md) by make_codec_vectors.py.")
    for x in data["vectors"]:
        kind = x["kind"]
        hexs = x.get("hex") or x.get("computed_hex") or x.get("hex_prefix") or ""
        zeros = x.get("followed_by_zero_bytes", 0)
        value = x.get("value")
        out = None
        if kind in ("encode", "encode_decode", "encode_and_decode", "roundtrip_only",
                    "encode_and_decode (Encode*/Decode* pair)", "decode_only"):
            if hexs == "":
                out = ("exact", render(value))  # empty message: null
            else:
                check = "exact" if in_our_map_order(value) else "reordered"
                out = (check, render(value))
        elif kind in ("decode_error", "encode_decode_custom"):
            out = ("malformed", "-")
        elif kind == "encode_prefix_and_length":
            continue  # no full bytes recorded; the hand-written map test covers it
        elif kind in ("method_call", "method_call_roundtrip_only"):
            out = ("call", text(x["method"]) + "/" + render(x.get("args")))
        elif kind == "method_call_decode_error":
            # A call without arguments still decodes (the arguments read as null).
            out = ("call_rejected" if x["error"].endswith("FAILED") or hexs == "" else "malformed", "-")
        elif kind == "success_envelope":
            out = ("success", render(value))
        elif kind in ("error_envelope", "error_envelope_decode"):
            e = x["error"]
            out = ("error" if kind == "error_envelope" else "error_decode",
                   text(e["code"]) + "/" + text(e["message"] or "") + "/" + render(e.get("details")))
        elif kind in ("response_decode_error", "response_not_implemented"):
            out = ("response_bad", "-")
        else:
            raise ValueError(kind)
        print(out[0], hexs or "-", zeros, out[1], x["id"].replace(" ", "_"))


main()
