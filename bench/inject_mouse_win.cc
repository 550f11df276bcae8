// vek_inject_mouse: relative mouse moves with SendInput at a fixed rate, as a
// device would make them, for raw input measurements under Wine (an X
// injector is no good there: Wine reads X input on the window thread, so it
// starves with it). SendInput from another process queues straight to the
// thread of the window raw input is registered for.
//
//   vek_inject_mouse HZ SECONDS [PAUSE_AT_MS PAUSE_MS]
//
// Each move is due at an absolute time (start + n / HZ), so a late one does
// not shift the ones after it. The pause is a real silence of PAUSE_MS after
// the last move due before PAUSE_AT_MS, however late that one went out; the
// moves due in the pause are not sent and the schedule resumes after it.
// Prints "sent N late M even E gap G" (M: moves sent more than one period
// late; E: moves sent within 25 % of a period after the one before, the
// source's own evenness, which a loaded machine lowers before any receiver
// sees it; G: the longest time between two moves sent, in microseconds).
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: vek_inject_mouse HZ SECONDS [PAUSE_AT_MS PAUSE_MS]\n");
    return 2;
  }
  const double hz = std::atof(argv[1]);
  const double seconds = std::atof(argv[2]);
  const double pause_at = argc == 5 ? std::atof(argv[3]) / 1000.0 : seconds;
  const DWORD pause_ms = argc == 5 ? static_cast<DWORD>(std::atol(argv[4])) : 0;
  if (hz <= 0 || seconds <= 0) return 2;
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const auto elapsed = [&] {
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
  };
  // The pointer held in place: under Wine every move of it is echoed back
  // from the X server as a second raw input message, read on the window
  // thread of the receiving program; held, only the injected moves remain.
  POINT at;
  GetCursorPos(&at);
  const RECT hold = {at.x, at.y, at.x + 1, at.y + 1};
  ClipCursor(&hold);
  long sent = 0, late = 0, even = 0;
  double last_sent = -1, gap = 0;
  const long moves = static_cast<long>(hz * seconds);
  double shift = 0;  // the schedule's delay by the pause
  bool paused = false;
  for (long n = 0; n < moves; ++n) {
    if (!paused && n / hz >= pause_at) {
      paused = true;
      Sleep(pause_ms);
      n = static_cast<long>(std::ceil((pause_at + pause_ms / 1000.0) * hz));
      shift = elapsed() - n / hz;
      if (n >= moves) break;
    }
    const double due = n / hz + shift;
    // Sleep while more than 1.5 ms remain (Sleep(1) takes about 1.1 ms
    // under Wine), then spin to the deadline.
    for (double left = due - elapsed(); left > 0; left = due - elapsed()) {
      if (left > 0.0015) Sleep(1);
    }
    if (elapsed() - due > 1.0 / hz) ++late;
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = (n % 2) ? 1 : -1;  // back and forth: the pointer stays put
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    if (SendInput(1, &input, sizeof(input)) != 1) continue;
    ++sent;
    const double at_send = elapsed();
    if (last_sent >= 0) {
      if (std::fabs((at_send - last_sent) * hz - 1.0) <= 0.25) ++even;
      if (at_send - last_sent > gap) gap = at_send - last_sent;
    }
    last_sent = at_send;
  }
  ClipCursor(nullptr);
  std::printf("sent %ld late %ld even %ld gap %.0f\n", sent, late, even, gap * 1e6);
  return 0;
}
