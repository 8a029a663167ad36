// SPDX-License-Identifier: GPL-3.0-or-later
// What the engine writes to std::cerr, passed on to the terminal as it is
// written, but for the lines it says that are known and carry nothing for the
// user (see engine_output.cpp for which and why).
#pragma once

#include <mutex>
#include <streambuf>
#include <string>
#include <string_view>

namespace quorvel {

class EngineOutput : public std::streambuf {
public:
  explicit EngineOutput(std::streambuf *out) : m_out(out) {}

  // Whether `line` (without its newline) is one that is dropped.
  static bool dropped(std::string_view line);
  // Writes what is held back (the start of a line that might be dropped).
  void release();

protected:
  int overflow(int c) override;
  std::streamsize xsputn(const char *s, std::streamsize n) override;
  int sync() override;

private:
  void passOn(std::string_view text);

  std::streambuf *m_out;
  std::mutex m_lock;
  std::string m_held;      // the start of a line that may still be dropped
  bool m_passing = false;  // the rest of this line goes on as it comes
};

// The process's std::cerr goes through one EngineOutput from the first call
// on (before the engine starts) to the end of the process: the engine may
// write until the very end, so the filter is never freed.
void filterEngineOutput();
// Writes what the filter holds back, if it is in place; for the process's end.
void releaseEngineOutput();

}  // namespace quorvel
