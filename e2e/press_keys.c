/* Presses a key combination on the X display ($DISPLAY) through the XTest
 * extension COUNT times, PERIOD_MS apart, and prints the wall-clock time
 * (ns) at which the server had taken each press, one line per press. A new
 * xdotool per press would put its own start-up, hundreds of ms on a busy
 * machine, between the time noted and the press.
 *   press_keys COUNT PERIOD_MS KEYSYM...    e.g. press_keys 20 1500 Control_L F7
 * The keys go down in the order given and come up in the reverse order. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static long long now_ns(void)
{
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char **argv)
{
  if (argc < 4) {
    fprintf(stderr, "usage: press_keys COUNT PERIOD_MS KEYSYM...\n");
    return 2;
  }
  int count = atoi(argv[1]), period_ms = atoi(argv[2]), keys = argc - 3;
  KeyCode codes[8];
  if (keys > 8)
    return 2;
  Display *display = XOpenDisplay(NULL);
  int event, error, major, minor;
  if (!display || !XTestQueryExtension(display, &event, &error, &major, &minor)) {
    fprintf(stderr, "press_keys: no display with the XTest extension\n");
    return 1;
  }
  for (int k = 0; k < keys; k++) {
    KeySym sym = XStringToKeysym(argv[3 + k]);
    codes[k] = sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
    if (!codes[k]) {
      fprintf(stderr, "press_keys: no key %s\n", argv[3 + k]);
      return 1;
    }
  }
  struct timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (int i = 0; i < count; i++) {
    for (int k = 0; k < keys; k++)
      XTestFakeKeyEvent(display, codes[k], True, CurrentTime);
    XSync(display, False);
    printf("%lld\n", now_ns());
    fflush(stdout);
    for (int k = keys - 1; k >= 0; k--)
      XTestFakeKeyEvent(display, codes[k], False, CurrentTime);
    XSync(display, False);
    if (i + 1 == count)
      break;
    next.tv_nsec += (long)period_ms % 1000 * 1000000L;
    next.tv_sec += period_ms / 1000 + next.tv_nsec / 1000000000L;
    next.tv_nsec %= 1000000000L;
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
  }
  XCloseDisplay(display);
  return 0;
}
