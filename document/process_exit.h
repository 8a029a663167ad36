// SPDX-License-Identifier: GPL-3.0-or-later
// Ending the process (LibreOffice 26.8; done on every version). On 26.8 the
// engine's static destructors crash in exit() (SIGSEGV in libswlo.so, "Fatal
// exception: Signal 11", exit code 134), even after the engine was stopped;
// 7.4's do not. Every process that has loaded the engine (the program, the
// build step that draws the chart's picture, the test programs and the
// benchmarks) ends here instead, once everything of its own is done and
// removed, without running the libraries' static destructors, as
// LibreOfficeKit hosts generally do.
// Seen on Debian 13: every program that started the engine ended with that
// crash, the test binaries included. The Lifecycle tests want exit code 0 and
// no "Fatal exception" on the terminal, on both versions.
#pragma once

namespace quorvel {

// Ends a process that has loaded the engine, with `status`: output is
// flushed, then the process ends without running the static destructors of
// the libraries it loaded.
[[noreturn]] void exitAfterEngine(int status);

}  // namespace quorvel
