/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Starts a program and watches the X screen to see how long it takes until
 * its first window is on screen and until the chart is drawn in it.
 *
 *   firstpaint [options] -- PROGRAM [ARGS...]
 *     --timeout SEC      give up after this long (default 90)
 *     --poll-ms MS       pause between two looks at the screen (default 5)
 *     --min-pixels N     chart-coloured pixels needed (default 5000)
 *     --min-colours K    of at least this many of the chart's colours (default 3)
 *     --colour-pixels N  each with at least N pixels (default 300)
 *     --quiet-ms MS      the drawing has settled once the count holds this long (default 1500)
 *     --shot FILE        write the screen as it was when the chart was first seen (PPM)
 *     --probe FX,FY      once the chart is drawn and holds still, click at this point of
 *                        the program's window (fractions of its width and height) and type
 *                        a letter; "live" is when the document answers (the screen around
 *                        the point changes: the text cursor or the letter appears)
 *
 * The chart's cells are filled with a small set of pale colours that no
 * window frame, toolbar or dialog uses in bulk, so "enough pixels of at least
 * three of those colours" means the page has been painted.
 *
 * Prints one line of key=value pairs (times in ms from the exec):
 *   mapped_ms  first viewable window whose _NET_WM_PID is in the program's process group
 *   drawn_ms   first screen with enough chart pixels
 *   settled_ms last change of the chart pixel count before it held still
 *   live_ms    with --probe: first change around the probe point after the click (-1: none)
 *   close_ms   from SIGTERM to the whole process group gone
 * The program runs in a process group of its own; at the end the group is
 * sent SIGTERM (SIGKILL after 30 s) and every member is waited for.
 * Exit status: 0 chart seen, 1 not seen in time, 2 usage or X error. */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

/* The category colours of resources/make_chart.py. */
static const uint32_t kPalette[] = {0xf7a8a8, 0xf9d39c, 0xf8ee9f, 0xcfe7b6, 0xa7dcc8,
                                    0xb8d4f3, 0xbfe9f0, 0xdccaf1, 0xf5c9e1, 0xe3d2b0};
#define NCOLOURS (sizeof kPalette / sizeof kPalette[0])
#define TOLERANCE 3
/* Every second pixel of every second row is enough for cells this large. */
#define STEP 2

static volatile sig_atomic_t g_stop = 0;
static void on_signal(int sig) {
  (void)sig;
  g_stop = 1;
}

static double now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1000.0 + (double)ts.tv_nsec / 1e6;
}

static void sleep_ms(int ms) {
  struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
  nanosleep(&ts, NULL);
}

static int shift_of(unsigned long mask) {
  int s = 0;
  if (!mask) return 0;
  while (!(mask & 1)) {
    mask >>= 1;
    ++s;
  }
  return s;
}

/* Process group of a process, or -1 once it is gone. */
static pid_t pgrp_of(pid_t pid) {
  char path[64], buf[512];
  snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
  FILE *f = fopen(path, "r");
  if (!f) return -1;
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = 0;
  /* The command name may hold blanks and parentheses: skip to the last ')'. */
  char *p = strrchr(buf, ')');
  if (!p) return -1;
  char state = 0;
  int ppid = 0, pgrp = -1;
  if (sscanf(p + 1, " %c %d %d", &state, &ppid, &pgrp) != 3) return -1;
  return pgrp;
}

static int window_pid(Display *d, Window w, Atom netWmPid) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char *data = NULL;
  int pid = 0;
  if (XGetWindowProperty(d, w, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
          Success &&
      data) {
    if (type == XA_CARDINAL && format == 32 && count == 1) pid = (int)*(unsigned long *)data;
    XFree(data);
  }
  return pid;
}

/* A viewable window of the program's group, searched a few levels down
 * (the window manager puts each client inside frame windows); 0 if none. */
static Window group_window_viewable(Display *d, Window w, int depth, pid_t group, Atom netWmPid) {
  Window rootRet, parent, *children = NULL;
  unsigned int n = 0;
  if (!XQueryTree(d, w, &rootRet, &parent, &children, &n)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < n && !found; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
    const int pid = window_pid(d, children[i], netWmPid);
    if (pid > 0 && pgrp_of(pid) == group)
      found = children[i];
    else if (depth > 1)
      found = group_window_viewable(d, children[i], depth - 1, group, netWmPid);
  }
  if (children) XFree(children);
  return found;
}

static int ignore_x_error(Display *d, XErrorEvent *e) {
  (void)d;
  (void)e;
  return 0; /* windows come and go while we look at them */
}

struct Count {
  long total;
  int colours;
};

static struct Count count_chart_pixels(XImage *img, int minColourPixels) {
  long per[NCOLOURS] = {0};
  const int rs = shift_of(img->red_mask), gs = shift_of(img->green_mask), bs = shift_of(img->blue_mask);
  const int fast = img->bits_per_pixel == 32;
  for (int y = 0; y < img->height; y += STEP) {
    const uint32_t *row = (const uint32_t *)(img->data + (long)y * img->bytes_per_line);
    for (int x = 0; x < img->width; x += STEP) {
      const unsigned long px = fast ? row[x] : XGetPixel(img, x, y);
      const int r = (int)((px & img->red_mask) >> rs), g = (int)((px & img->green_mask) >> gs),
                b = (int)((px & img->blue_mask) >> bs);
      for (unsigned c = 0; c < NCOLOURS; ++c) {
        const int pr = (int)(kPalette[c] >> 16), pg = (int)((kPalette[c] >> 8) & 0xff),
                  pb = (int)(kPalette[c] & 0xff);
        if (abs(r - pr) <= TOLERANCE && abs(g - pg) <= TOLERANCE && abs(b - pb) <= TOLERANCE) {
          ++per[c];
          break;
        }
      }
    }
  }
  struct Count out = {0, 0};
  for (unsigned c = 0; c < NCOLOURS; ++c) {
    const long full = per[c] * STEP * STEP;
    out.total += full;
    if (full >= minColourPixels) ++out.colours;
  }
  return out;
}

static void write_ppm(const char *file, XImage *img) {
  FILE *f = fopen(file, "wb");
  if (!f) return;
  fprintf(f, "P6\n%d %d\n255\n", img->width, img->height);
  const int rs = shift_of(img->red_mask), gs = shift_of(img->green_mask), bs = shift_of(img->blue_mask);
  for (int y = 0; y < img->height; ++y)
    for (int x = 0; x < img->width; ++x) {
      const unsigned long px = XGetPixel(img, x, y);
      const unsigned char rgb[3] = {(unsigned char)((px & img->red_mask) >> rs),
                                    (unsigned char)((px & img->green_mask) >> gs),
                                    (unsigned char)((px & img->blue_mask) >> bs)};
      fwrite(rgb, 1, 3, f);
    }
  fclose(f);
}

/* Pixels that differ between two same-sized boxes of the screen. */
static long box_diff(XImage *img, const uint32_t *ref, int x0, int y0, int w, int h) {
  long n = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (XGetPixel(img, x0 + x, y0 + y) != ref[y * w + x]) ++n;
  return n;
}

static void box_copy(XImage *img, uint32_t *ref, int x0, int y0, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ref[y * w + x] = (uint32_t)XGetPixel(img, x0 + x, y0 + y);
}

/* SIGTERM to the group, SIGKILL if it is still there after 30 s; reaps all
 * of it (we are the subreaper, so orphaned members come back to us). */
static double end_group(pid_t group) {
  const double t0 = now_ms();
  kill(-group, SIGTERM);
  int killed = 0;
  for (;;) {
    while (waitpid(-1, NULL, WNOHANG) > 0) {
    }
    if (kill(-group, 0) != 0 && errno == ESRCH) {
      /* Members reparented to us may still be unreaped zombies. */
      while (waitpid(-1, NULL, WNOHANG) > 0) {
      }
      break;
    }
    if (!killed && now_ms() - t0 > 30000) {
      fprintf(stderr, "firstpaint: process group %d ignored SIGTERM; killing it\n", (int)group);
      kill(-group, SIGKILL);
      killed = 1;
    }
    sleep_ms(5);
  }
  return now_ms() - t0;
}

int main(int argc, char **argv) {
  double timeoutMs = 90000;
  int pollMs = 5, minPixels = 5000, minColours = 3, colourPixels = 300, quietMs = 1500;
  const char *shot = NULL;
  double probeFx = -1, probeFy = -1;
  int i = 1;
  for (; i < argc; ++i) {
    if (!strcmp(argv[i], "--")) {
      ++i;
      break;
    }
    if (i + 1 >= argc) goto usage;
    if (!strcmp(argv[i], "--timeout"))
      timeoutMs = atof(argv[++i]) * 1000;
    else if (!strcmp(argv[i], "--poll-ms"))
      pollMs = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--min-pixels"))
      minPixels = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--min-colours"))
      minColours = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--colour-pixels"))
      colourPixels = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--quiet-ms"))
      quietMs = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--shot"))
      shot = argv[++i];
    else if (!strcmp(argv[i], "--probe")) {
      if (sscanf(argv[++i], "%lf,%lf", &probeFx, &probeFy) != 2 || probeFx < 0 || probeFx > 1 ||
          probeFy < 0 || probeFy > 1)
        goto usage;
    } else
      goto usage;
  }
  if (i >= argc) goto usage;

  Display *d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "firstpaint: cannot open display\n");
    return 2;
  }
  XSetErrorHandler(ignore_x_error);
  const int screen = DefaultScreen(d);
  const Window root = RootWindow(d, screen);
  const Atom netWmPid = XInternAtom(d, "_NET_WM_PID", False);
  const int width = DisplayWidth(d, screen), height = DisplayHeight(d, screen);
  int xtestEvent, xtestError, xtestMajor, xtestMinor;
  if (probeFx >= 0 && !XTestQueryExtension(d, &xtestEvent, &xtestError, &xtestMajor, &xtestMinor)) {
    fprintf(stderr, "firstpaint: the X server has no XTEST (needed for --probe)\n");
    return 2;
  }
  if (!XShmQueryExtension(d)) {
    fprintf(stderr, "firstpaint: the X server has no MIT-SHM\n");
    return 2;
  }
  XShmSegmentInfo shm;
  XImage *img = XShmCreateImage(d, DefaultVisual(d, screen), (unsigned)DefaultDepth(d, screen), ZPixmap, NULL,
                                &shm, (unsigned)width, (unsigned)height);
  shm.shmid = shmget(IPC_PRIVATE, (size_t)img->bytes_per_line * (size_t)img->height, IPC_CREAT | 0600);
  if (shm.shmid < 0) {
    perror("firstpaint: shmget");
    return 2;
  }
  shm.shmaddr = img->data = shmat(shm.shmid, NULL, 0);
  shm.readOnly = False;
  XShmAttach(d, &shm);
  XSync(d, False);
  /* Marked for removal now, so it goes whatever way we end. */
  shmctl(shm.shmid, IPC_RMID, NULL);

  prctl(PR_SET_CHILD_SUBREAPER, 1);
  /* Stopped from outside: still take the program down with us. */
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);
  sigaction(SIGHUP, &sa, NULL);
  const double t0 = now_ms();
  const pid_t child = fork();
  if (child < 0) {
    perror("firstpaint: fork");
    return 2;
  }
  if (child == 0) {
    setpgid(0, 0);
    execvp(argv[i], argv + i);
    perror("firstpaint: exec");
    _exit(127);
  }
  setpgid(child, child); /* both sides, so there is no race */

  double mapped = -1, drawn = -1, settled = -1, lastChange = -1, live = -1;
  long lastTotal = -1;
  Window win = 0;
  /* The probe: a box around the clicked point, as it was right after the click. */
  enum { PROBE_WAIT, PROBE_SENT, PROBE_DONE } probe = probeFx >= 0 ? PROBE_WAIT : PROBE_DONE;
  enum { BOX = 200 };
  uint32_t *probeRef = probeFx >= 0 ? calloc((size_t)BOX * BOX, sizeof *probeRef) : NULL;
  /* The box is kept relative to the window: the window manager may still move it. */
  int boxX = 0, boxY = 0, probeRefTaken = 0, winW = 0, winH = 0;
  double probeAt = -1;
  struct Count seen = {0, 0};
  int exited = 0, status = 0;
  while (!g_stop && now_ms() - t0 < timeoutMs) {
    if (waitpid(child, &status, WNOHANG) == child) {
      exited = 1;
      break;
    }
    if (mapped < 0) {
      win = group_window_viewable(d, root, 3, child, netWmPid);
      if (win) mapped = now_ms() - t0;
    }
    if (mapped >= 0) {
      XShmGetImage(d, root, img, 0, 0, AllPlanes);
      const double t = now_ms() - t0;
      const struct Count c = count_chart_pixels(img, colourPixels);
      const int enough = c.total >= minPixels && c.colours >= minColours;
      if (drawn < 0 && enough) {
        drawn = t;
        if (shot) write_ppm(shot, img);
      }
      if (probe == PROBE_SENT && t - probeAt >= 15) {
        XWindowAttributes a;
        Window dummy;
        int wx = 0, wy = 0;
        if (XGetWindowAttributes(d, win, &a) && XTranslateCoordinates(d, win, root, 0, 0, &wx, &wy, &dummy)) {
          /* A window resized meanwhile shows its page afresh: compare from now on. */
          if (a.width != winW || a.height != winH) probeRefTaken = 0;
          winW = a.width;
          winH = a.height;
          int x0 = wx + boxX, y0 = wy + boxY;
          x0 = x0 < 0 ? 0 : (x0 + BOX > width ? width - BOX : x0);
          y0 = y0 < 0 ? 0 : (y0 + BOX > height ? height - BOX : y0);
          /* The reference: the box after the click, before any answer could be drawn. */
          if (!probeRefTaken) {
            box_copy(img, probeRef, x0, y0, BOX, BOX);
            probeRefTaken = 1;
          } else if (box_diff(img, probeRef, x0, y0, BOX, BOX) > 20) {
            live = t;
            probe = PROBE_DONE;
          }
        }
      }
      if (c.total != lastTotal) {
        lastTotal = c.total;
        lastChange = t;
        seen = c;
      } else if (drawn >= 0 && probe == PROBE_WAIT && t - lastChange >= 100) {
        /* The chart holds still: click into it and type a letter. */
        XWindowAttributes a;
        Window dummy;
        int wx = 0, wy = 0;
        if (XGetWindowAttributes(d, win, &a) && XTranslateCoordinates(d, win, root, 0, 0, &wx, &wy, &dummy)) {
          const int px = wx + (int)(probeFx * a.width), py = wy + (int)(probeFy * a.height);
          boxX = px - wx - BOX / 2;
          boxY = py - wy - BOX / 2;
          winW = a.width;
          winH = a.height;
          XTestFakeMotionEvent(d, screen, px, py, CurrentTime);
          XTestFakeButtonEvent(d, 1, True, CurrentTime);
          XTestFakeButtonEvent(d, 1, False, CurrentTime);
          const KeyCode key = XKeysymToKeycode(d, XK_W);
          XTestFakeKeyEvent(d, key, True, CurrentTime);
          XTestFakeKeyEvent(d, key, False, CurrentTime);
          XFlush(d);
          probeAt = now_ms() - t0;
          probe = PROBE_SENT;
        }
      } else if (drawn >= 0 && probe == PROBE_DONE && t - lastChange >= quietMs) {
        settled = lastChange > drawn ? lastChange : drawn;
        break;
      }
    }
    sleep_ms(pollMs);
  }
  if (drawn >= 0 && settled < 0) settled = lastChange; /* timed out while still changing */

  if (exited) fprintf(stderr, "firstpaint: the program ended early (status %d)\n", status);
  /* Also whatever it left running. */
  const double closeMs = end_group(child);
  XShmDetach(d, &shm);
  shmdt(shm.shmaddr);
  XCloseDisplay(d);

  free(probeRef);
  printf(
      "mapped_ms=%.1f drawn_ms=%.1f settled_ms=%.1f live_ms=%.1f close_ms=%.1f chart_pixels=%ld colours=%d\n",
      mapped, drawn, settled, live, closeMs, seen.total, seen.colours);
  return drawn >= 0 ? 0 : 1;

usage:
  fprintf(stderr,
          "usage: firstpaint [--timeout SEC] [--poll-ms MS] [--min-pixels N] [--min-colours K]\n"
          "                  [--colour-pixels N] [--quiet-ms MS] [--shot FILE] [--probe FX,FY]\n"
          "                  -- PROGRAM [ARGS...]\n");
  return 2;
}
