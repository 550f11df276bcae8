"""A real serial line for Windows programs under Wine.

socat makes a pseudo-terminal whose other side is a TCP listener on the
loopback interface (the line's "far end", which serves a single connection);
the pseudo-terminal is mapped into Wine as a COM port through
HKLM\\Software\\Wine\\Ports. socat is stopped and the mapping removed on every
path out. Wine reads the port mappings only when its session starts, so the
line needs a prefix of its own (VEK_WINEPREFIX, which tools/wine-run honours),
whose wineserver is restarted after mapping the port and after removing it.
"""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import termios
import time

COM_NAME = "COM7"  # never COM1: Wine maps it to the host's /dev/ttyS0
PORTS_KEY = r"HKLM\Software\Wine\Ports"


def have_socat():
    return shutil.which("socat") is not None


def _free_tcp_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SerialLine:
    """A socat pseudo-terminal mapped as COM_NAME in the Wine prefix VEK_WINEPREFIX."""

    def __init__(self, wine_run):
        self.wine_run = wine_run
        self.prefix = os.environ["VEK_WINEPREFIX"]  # never the shared one
        self.com_name = COM_NAME
        self.far_port = None
        self.pty = None
        self._env = dict(os.environ, WINEPREFIX=self.prefix)
        self._work = None
        self._socat = None
        self._slave_fd = None
        self._mapped = False
        self._sockets = []

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start(self):
        self._work = tempfile.mkdtemp(prefix="vek-serial-")
        link = os.path.join(self._work, "com")
        self.far_port = _free_tcp_port()
        self._socat = subprocess.Popen(
            ["socat", f"PTY,link={link},raw,echo=0",
             f"TCP-LISTEN:{self.far_port},bind=127.0.0.1,reuseaddr"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 10
        while not os.path.exists(link):
            if time.monotonic() > deadline or self._socat.poll() is not None:
                raise RuntimeError("socat did not create the pseudo-terminal")
            time.sleep(0.05)
        self.pty = os.path.realpath(link)
        # Keep one opener of the terminal side for the whole run: when the
        # last one closes, socat reads EIO from its side and quits, which
        # would end the line at the first close of the port.
        self._slave_fd = os.open(self.pty, os.O_RDWR | os.O_NOCTTY)
        self._reg("add", PORTS_KEY, "/v", self.com_name, "/t", "REG_SZ", "/d", self.pty, "/f")
        self._mapped = True
        self.restart_wine_session()

    def connect_far_end(self, timeout=10):
        """A TCP socket joined to the pseudo-terminal, closed with the line."""
        far = socket.create_connection(("127.0.0.1", self.far_port), timeout=timeout)
        far.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self._sockets.append(far)
        return far

    def terminal_attributes(self):
        """The line's terminal settings as termios.tcgetattr gives them: what
        the program's port configuration became on the pseudo-terminal."""
        return termios.tcgetattr(self._slave_fd)

    def set_terminal_attributes(self, attributes):
        termios.tcsetattr(self._slave_fd, termios.TCSANOW, attributes)

    def restart_wine_session(self):
        """Ends the prefix's wineserver; the next wine-run starts a fresh session."""
        for args in (["-k"], ["-w"]):
            try:
                subprocess.run(["wineserver", *args], env=self._env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30,
                               check=False)
            except subprocess.TimeoutExpired:
                pass

    def close(self):
        for far in self._sockets:
            far.close()
        self._sockets = []
        if self._mapped:
            self._mapped = False
            self._reg("delete", PORTS_KEY, "/v", self.com_name, "/f")
            self.restart_wine_session()
            self._remove_stale_link()
        if self._slave_fd is not None:
            os.close(self._slave_fd)
            self._slave_fd = None
        if self._socat is not None:
            if self._socat.poll() is None:
                self._socat.send_signal(signal.SIGTERM)
                try:
                    self._socat.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self._socat.kill()
                    self._socat.wait()
            self._socat = None
        if self._work:
            shutil.rmtree(self._work, ignore_errors=True)
            self._work = None

    def _reg(self, *args):
        # Generous: the first run in a prefix creates it, which a busy machine
        # took more than a minute for.
        subprocess.run([self.wine_run, "reg", *args], env=self._env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300,
                       check=False)

    def _remove_stale_link(self):
        # Wine links dosdevices/com7 to the pseudo-terminal; the link would
        # outlive it and keep a dead port openable.
        link = os.path.join(self.prefix, "dosdevices", self.com_name.lower())
        if os.path.islink(link) and os.readlink(link) == self.pty:
            os.unlink(link)


def receive_exactly(far, size, timeout):
    """Up to `size` bytes from the socket `far`; fewer when `timeout` seconds pass."""
    data = bytearray()
    deadline = time.monotonic() + timeout
    while len(data) < size:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            break
        far.settimeout(remaining)
        try:
            chunk = far.recv(min(65536, size - len(data)))
        except socket.timeout:
            break
        if not chunk:
            break
        data += chunk
    return bytes(data)


def pattern(size, seed):
    """Bytes that differ from a shifted or truncated copy of themselves."""
    return bytes((seed + i * 13 + i // 256) & 0xFF for i in range(size))
