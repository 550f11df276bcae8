"""Drives vek_tool.exe with the headless engine: Flutter's standard method codec
and the engine's framed records over the program's standard input and output.

Written from the codec's and the frame format's descriptions, independently of
the C++ side, so the end-to-end tests check one against the other.
"""

import os
import queue
import struct
import subprocess
import threading
import time

METHOD_CHANNEL = "vek_tool/native"
EVENT_CHANNEL = "vek_tool/native_events"

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


# ---------------------------------------------------------------- codec values

class Typed:
    """A typed number list: kind is "int32", "int64", "float32" or "float64"."""

    def __init__(self, kind, values):
        self.kind = kind
        self.values = list(values)

    def __eq__(self, other):
        return isinstance(other, Typed) and (self.kind, self.values) == (other.kind, other.values)

    def __repr__(self):
        return "Typed(%r, %r)" % (self.kind, self.values)


class Int64:
    """An integer to be written as 64-bit even when it fits in 32."""

    def __init__(self, value):
        self.value = value


class Pairs:
    """A map whose keys Python cannot hash (lists, maps): its (key, value) pairs."""

    def __init__(self, pairs):
        self.pairs = list(pairs)

    def __eq__(self, other):
        return isinstance(other, Pairs) and self.pairs == other.pairs

    def __repr__(self):
        return "Pairs(%r)" % (self.pairs,)


class CodecError(Exception):
    pass


_TYPED_CODES = {"int32": (9, "<i", 4), "int64": (10, "<q", 8), "float64": (11, "<d", 8),
                "float32": (14, "<f", 4)}


def _write_size(out, size):
    if size < 254:
        out.append(size)
    elif size <= 0xFFFF:
        out.append(254)
        out += struct.pack("<H", size)
    else:
        out.append(255)
        out += struct.pack("<I", size)


def _align(out, alignment):
    while len(out) % alignment:
        out.append(0)


def encode_value(out, value):
    if value is None:
        out.append(0)
    elif value is True:
        out.append(1)
    elif value is False:
        out.append(2)
    elif isinstance(value, Int64):
        out.append(4)
        out += struct.pack("<q", value.value)
    elif isinstance(value, int):
        if -2**31 <= value < 2**31:
            out.append(3)
            out += struct.pack("<i", value)
        elif -2**63 <= value < 2**63:
            out.append(4)
            out += struct.pack("<q", value)
        else:
            raise CodecError("integer %d does not fit in 64 bits" % value)
    elif isinstance(value, float):
        out.append(6)
        _align(out, 8)
        out += struct.pack("<d", value)
    elif isinstance(value, str):
        data = value.encode("utf-8")
        out.append(7)
        _write_size(out, len(data))
        out += data
    elif isinstance(value, (bytes, bytearray)):
        out.append(8)
        _write_size(out, len(value))
        out += value
    elif isinstance(value, Typed):
        code, fmt, width = _TYPED_CODES[value.kind]
        out.append(code)
        _write_size(out, len(value.values))
        _align(out, width)
        for v in value.values:
            out += struct.pack(fmt, v)
    elif isinstance(value, (list, tuple)):
        out.append(12)
        _write_size(out, len(value))
        for v in value:
            encode_value(out, v)
    elif isinstance(value, (dict, Pairs)):
        pairs = value.pairs if isinstance(value, Pairs) else list(value.items())
        out.append(13)
        _write_size(out, len(pairs))
        for k, v in pairs:
            encode_value(out, k)
            encode_value(out, v)
    else:
        raise CodecError("cannot encode %r" % (value,))


class _Reader:
    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise CodecError("message too short")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def byte(self):
        return self.take(1)[0]

    def size(self):
        first = self.byte()
        if first < 254:
            return first
        if first == 254:
            return struct.unpack("<H", self.take(2))[0]
        return struct.unpack("<I", self.take(4))[0]

    def align(self, alignment):
        skip = (-self.pos) % alignment
        self.take(skip)

    def at_end(self):
        return self.pos == len(self.data)


def _decode(reader):
    code = reader.byte()
    if code == 0:
        return None
    if code == 1:
        return True
    if code == 2:
        return False
    if code == 3:
        return struct.unpack("<i", reader.take(4))[0]
    if code == 4:
        return struct.unpack("<q", reader.take(8))[0]
    if code == 6:
        reader.align(8)
        return struct.unpack("<d", reader.take(8))[0]
    if code in (5, 7):
        return reader.take(reader.size()).decode("utf-8")
    if code == 8:
        return reader.take(reader.size())
    for kind, (typed_code, fmt, width) in _TYPED_CODES.items():
        if code == typed_code:
            count = reader.size()
            reader.align(width)
            raw = reader.take(count * width)
            return Typed(kind, [struct.unpack_from(fmt, raw, i * width)[0] for i in range(count)])
    if code == 12:
        return [_decode(reader) for _ in range(reader.size())]
    if code == 13:
        pairs = []
        for _ in range(reader.size()):
            key = _decode(reader)
            pairs.append((key, _decode(reader)))
        try:
            return dict(pairs)
        except TypeError:
            return Pairs(pairs)
    raise CodecError("unknown type code %d" % code)


def encode_method_call(method, arguments=None):
    out = bytearray()
    encode_value(out, method)
    encode_value(out, arguments)
    return bytes(out)


def decode_value(data):
    reader = _Reader(data)
    value = _decode(reader)
    if not reader.at_end():
        raise CodecError("trailing bytes after the value")
    return value


class Reply:
    """A method call's answer: ok (value), error (code, message, details) or not implemented."""

    def __init__(self, kind, value=None, code=None, message=None, details=None):
        self.kind = kind
        self.value = value
        self.code = code
        self.message = message
        self.details = details

    def __repr__(self):
        if self.kind == "ok":
            return "Reply(ok, %r)" % (self.value,)
        if self.kind == "error":
            return "Reply(error, %r, %r)" % (self.code, self.message)
        return "Reply(notImplemented)"


def decode_envelope(payload):
    if not payload:
        return Reply("notImplemented")
    reader = _Reader(payload)
    flag = reader.byte()
    if flag == 0:
        value = _decode(reader)
        if not reader.at_end():
            raise CodecError("trailing bytes after the success value")
        return Reply("ok", value=value)
    if flag == 1:
        code = _decode(reader)
        message = _decode(reader)
        details = _decode(reader)
        if not reader.at_end():  # an optional stack trace
            _decode(reader)
        if not isinstance(code, str):
            raise CodecError("error envelope without a string code")
        return Reply("error", code=code, message=message, details=details)
    raise CodecError("unknown envelope flag %d" % flag)


# ---------------------------------------------------------------- frames

KIND_MESSAGE, KIND_MESSAGE_WITH_REPLY, KIND_RESPONSE = 1, 2, 3


def encode_frame(kind, frame_id, channel, payload):
    name = channel.encode("utf-8")
    body = struct.pack("<BIH", kind, frame_id, len(name)) + name + bytes(payload)
    return struct.pack("<I", len(body)) + body


def read_exact(stream, n):
    data = bytearray()
    while len(data) < n:
        chunk = stream.read(n - len(data))
        if not chunk:
            return None
        data += chunk
    return bytes(data)


def read_frame(stream):
    """(kind, id, channel, payload), or None at the end of the stream."""
    head = read_exact(stream, 4)
    if head is None:
        return None
    (length,) = struct.unpack("<I", head)
    if length < 7 or length > 64 * 1024 * 1024:
        raise CodecError("frame length %d out of range" % length)
    body = read_exact(stream, length)
    if body is None:
        return None
    kind, frame_id, name_length = struct.unpack_from("<BIH", body)
    if 7 + name_length > length:
        raise CodecError("channel name runs past its frame")
    channel = body[7:7 + name_length].decode("utf-8")
    return kind, frame_id, channel, body[7 + name_length:]


# ---------------------------------------------------------------- the program

def find_build(build_dir=None):
    return build_dir or os.environ.get("VEK_BUILD_DIR") or os.path.join(ROOT, "build", "mingw")


def exe_path(build_dir=None):
    return os.path.join(find_build(build_dir), "bin", "vek_tool.exe")


def wine_environment(build_dir=None):
    # tools/wine-run keeps the prefix under the build folder unless
    # VEK_WINEPREFIX names one, and starts its own Xvfb unless DISPLAY is set.
    return dict(os.environ)


def run_wine(command, timeout=60, build_dir=None):
    """Runs a Windows command in the program's Wine prefix; (exit code, stdout, stderr)."""
    completed = subprocess.run(
        [os.path.join(ROOT, "tools", "wine-run")] + list(command),
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        timeout=timeout, env=wine_environment(build_dir))
    return (completed.returncode, completed.stdout.decode("utf-8", "replace"),
            completed.stderr.decode("utf-8", "replace"))


def run_helper(arguments, timeout=60, build_dir=None):
    """Runs vek_tool.exe with command-line arguments; (exit code, stdout, stderr)."""
    return run_wine([exe_path(build_dir)] + list(arguments), timeout, build_dir)


class VekTool:
    """vek_tool.exe running under Wine with the headless engine, spoken to over frames."""

    def __init__(self, build_dir=None, arguments=(), start_timeout=60, on_event=None):
        self.exe = exe_path(build_dir)
        self.process = subprocess.Popen(
            [os.path.join(ROOT, "tools", "wine-run"), self.exe] + list(arguments),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            cwd=os.path.dirname(self.exe), env=wine_environment(build_dir))
        self._lock = threading.Lock()
        self._next_id = 1
        self._replies = {}
        self._reply_ready = threading.Condition(self._lock)
        self.events = queue.Queue()
        # Called on the reading thread with each event's payload, instead of queueing it.
        self.on_event = on_event
        self.stderr_lines = []
        self.ended = False
        self.protocol_error = None
        threading.Thread(target=self._read_frames, daemon=True).start()
        self._stderr_reader = threading.Thread(target=self._read_stderr, daemon=True)
        self._stderr_reader.start()
        self.start_timeout = start_timeout

    def _read_stderr(self):
        for line in self.process.stderr:
            self.stderr_lines.append(line.decode("utf-8", "replace").rstrip("\n"))

    def _read_frames(self):
        try:
            while True:
                frame = read_frame(self.process.stdout)
                if frame is None:
                    break
                kind, frame_id, channel, payload = frame
                if kind == KIND_RESPONSE:
                    with self._lock:
                        self._replies[frame_id] = payload
                        self._reply_ready.notify_all()
                elif channel == EVENT_CHANNEL:
                    if self.on_event:
                        self.on_event(payload)
                    else:
                        self.events.put(payload)
                    if kind == KIND_MESSAGE_WITH_REPLY:
                        self._write(encode_frame(KIND_RESPONSE, frame_id, "", b""))
                elif kind == KIND_MESSAGE_WITH_REPLY:
                    # Nobody here answers other channels: an empty response.
                    self._write(encode_frame(KIND_RESPONSE, frame_id, "", b""))
        except (CodecError, ValueError) as error:
            self.protocol_error = str(error)
        finally:
            with self._lock:
                self.ended = True
                self._reply_ready.notify_all()

    def _write(self, data):
        with self._lock:
            self.process.stdin.write(data)
            self.process.stdin.flush()

    def send(self, channel, payload, timeout=None):
        """Sends one message awaiting a response; returns the response bytes."""
        timeout = self.start_timeout if timeout is None else timeout
        with self._lock:
            frame_id = self._next_id
            self._next_id += 1
        self._write(encode_frame(KIND_MESSAGE_WITH_REPLY, frame_id, channel, payload))
        deadline = time.monotonic() + timeout
        with self._lock:
            while frame_id not in self._replies:
                remaining = deadline - time.monotonic()
                if self.ended or remaining <= 0:
                    raise TimeoutError("no response to message %d on %s" % (frame_id, channel))
                self._reply_ready.wait(remaining)
            return self._replies.pop(frame_id)

    def call(self, method, arguments=None, timeout=None, channel=METHOD_CHANNEL):
        return decode_envelope(self.send(channel, encode_method_call(method, arguments), timeout))

    def listen(self, arguments=None, timeout=None):
        return self.call("listen", arguments, timeout, EVENT_CHANNEL)

    def cancel(self, arguments=None, timeout=None):
        return self.call("cancel", arguments, timeout, EVENT_CHANNEL)

    def next_event(self, timeout):
        """The next event's decoded envelope, or None when none came in time."""
        try:
            return decode_envelope(self.events.get(timeout=timeout))
        except queue.Empty:
            return None

    def close(self, timeout=30):
        """Ends the driver's side: the program closes its window. Returns its exit code,
        once everything it wrote to standard error is in stderr_lines."""
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        self._stderr_reader.join(timeout=10)
        return code

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            try:
                self.close()
            except Exception:
                self.kill()
        return False
