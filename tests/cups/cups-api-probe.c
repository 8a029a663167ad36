/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Submits a file or lists destinations through the CUPS client library,
 * the same calls the program uses, and reports what the library says.
 * The server comes from CUPS_SERVER, as for any CUPS client.
 * With PROBE_TIMEOUT=SECONDS set, calls go through an own connection whose
 * I/O timeout is that many seconds, instead of CUPS_HTTP_DEFAULT (which
 * waits minutes on a scheduler that accepts but never answers).
 *
 *   cups-api-probe submit QUEUE FILE TITLE [COPIES]
 *       prints "job-id N" on success, exit 0;
 *       on failure prints "error STAGE CODE 0xHEX: TEXT", exit 1.
 *   cups-api-probe dests
 *       prints "dest NAME" per destination and "count N seconds S".
 *   cups-api-probe ping
 *       opens a connection to the scheduler (5 s limit); "connected" or error.
 *   cups-api-probe named QUEUE
 *       looks one destination up; prints "found NAME" or an error line.
 *
 * Build: gcc -Wall -o cups-api-probe cups-api-probe.c -lcups   (Debian 12 ships no cups.pc; cups-config
 * --libs also works)
 */
#include <cups/cups.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

static http_t *conn = CUPS_HTTP_DEFAULT;

static int report(const char *stage) {
  ipp_status_t st = cupsLastError();
  const char *text = cupsLastErrorString();
  printf("error %s %s 0x%04x: %s\n", stage, ippErrorString(st), (unsigned)st, text ? text : "(null)");
  return 1;
}

static int submit(const char *queue, const char *path, const char *title, const char *copies) {
  FILE *in = fopen(path, "rb");
  if (!in) {
    perror(path);
    return 2;
  }

  cups_option_t *options = NULL;
  int num_options = 0;
  if (copies) num_options = cupsAddOption("copies", copies, num_options, &options);

  double t0 = now();
  int job = cupsCreateJob(conn, queue, title, num_options, options);
  if (job <= 0) {
    printf("seconds %.3f\n", now() - t0);
    fclose(in);
    cupsFreeOptions(num_options, options);
    return report("create-job");
  }

  http_status_t hs = cupsStartDocument(conn, queue, job, title, CUPS_FORMAT_PDF, 1);
  if (hs != HTTP_STATUS_CONTINUE) {
    fclose(in);
    cupsFreeOptions(num_options, options);
    return report("start-document");
  }

  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, in)) > 0) {
    if (cupsWriteRequestData(conn, buf, n) != HTTP_STATUS_CONTINUE) {
      fclose(in);
      cupsFreeOptions(num_options, options);
      return report("write-data");
    }
  }
  fclose(in);
  cupsFreeOptions(num_options, options);

  if (cupsFinishDocument(conn, queue) != IPP_STATUS_OK) return report("finish-document");

  printf("job-id %d\n", job);
  return 0;
}

static int dests(void) {
  cups_dest_t *list = NULL;
  double t0 = now();
  int count = cupsGetDests2(conn, &list);
  double dt = now() - t0;
  for (int i = 0; i < count; i++)
    printf("dest %s%s%s\n", list[i].name, list[i].instance ? "/" : "",
           list[i].instance ? list[i].instance : "");
  printf("count %d seconds %.3f\n", count, dt);
  if (count == 0 && cupsLastError() > IPP_STATUS_OK_CONFLICTING) report("get-dests");
  cupsFreeDests(count, list);
  return 0;
}

/* cupsCreateJob reports both "no such queue" and "no scheduler" as the
 * same internal error, so a caller needs this lookup to tell them apart. */
static int named(const char *queue) {
  double t0 = now();
  cups_dest_t *dest = cupsGetNamedDest(conn, queue, NULL);
  printf("seconds %.3f\n", now() - t0);
  if (!dest) return report("get-named-dest");
  printf("found %s\n", dest->name);
  cupsFreeDests(1, dest);
  return 0;
}

static int ping(void) {
  double t0 = now();
  http_t *http = httpConnect2(cupsServer(), ippPort(), NULL, AF_UNSPEC, cupsEncryption(), 1, 5000, NULL);
  printf("seconds %.3f\n", now() - t0);
  if (!http) return report("connect");
  printf("connected %s\n", cupsServer());
  httpClose(http);
  return 0;
}

int main(int argc, char **argv) {
  const char *limit = getenv("PROBE_TIMEOUT");
  if (limit && *limit) {
    double secs = atof(limit);
    conn =
        httpConnect2(cupsServer(), ippPort(), NULL, AF_UNSPEC, cupsEncryption(), 1, (int)(secs * 1000), NULL);
    if (!conn) return report("connect");
    /* No callback: the first timeout ends the request. */
    httpSetTimeout(conn, secs, NULL, NULL);
  }

  if (argc >= 5 && argc <= 6 && strcmp(argv[1], "submit") == 0)
    return submit(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : NULL);
  if (argc == 2 && strcmp(argv[1], "dests") == 0) return dests();
  if (argc == 2 && strcmp(argv[1], "ping") == 0) return ping();
  if (argc == 3 && strcmp(argv[1], "named") == 0) return named(argv[2]);
  fprintf(stderr, "usage: %s submit QUEUE FILE TITLE [COPIES] | dests | ping | named QUEUE\n", argv[0]);
  return 2;
}
