// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/engine_output.h"

#include <algorithm>
#include <iostream>

namespace quorvel {

namespace {

// LibreOffice 7.4 lists the languages the engine's GTK widget allows it
// (LOK_ALLOWLIST_LANGUAGES, which the widget sets) the first time it looks a
// language up, at every start; 26.8 says nothing. Turning the list off would
// turn the engine's language support off with it, and say so instead.
constexpr std::string_view kAllowlist = "Allowlisted languages: ";

bool mayStillBeDropped(std::string_view start) {
  return kAllowlist.starts_with(start) || start.starts_with(kAllowlist);
}

}  // namespace

bool EngineOutput::dropped(std::string_view line) {
  if (!line.starts_with(kAllowlist)) return false;
  const std::string_view names = line.substr(kAllowlist.size());
  return std::all_of(names.begin(), names.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-' || c == ' ';
  });
}

void EngineOutput::passOn(std::string_view text) {
  if (!text.empty()) m_out->sputn(text.data(), static_cast<std::streamsize>(text.size()));
}

std::streamsize EngineOutput::xsputn(const char *s, std::streamsize n) {
  const std::scoped_lock lock(m_lock);
  std::string_view text(s, static_cast<std::size_t>(n));
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view part = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
    text.remove_prefix(part.size());
    const bool lineEnds = part.back() == '\n';
    if (m_passing) {
      passOn(part);
    } else {
      m_held += part;
      const std::string_view line = lineEnds ? std::string_view(m_held).substr(0, m_held.size() - 1) : m_held;
      if (lineEnds) {
        if (!dropped(line)) passOn(m_held);
        m_held.clear();
      } else if (!mayStillBeDropped(line)) {
        passOn(m_held);
        m_held.clear();
        m_passing = true;
      }
    }
    if (lineEnds) m_passing = false;
  }
  return n;
}

int EngineOutput::overflow(int c) {
  if (c == traits_type::eof()) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  xsputn(&ch, 1);
  return c;
}

int EngineOutput::sync() {
  const std::scoped_lock lock(m_lock);
  return m_out->pubsync();
}

void EngineOutput::release() {
  const std::scoped_lock lock(m_lock);
  passOn(m_held);
  m_held.clear();
  m_out->pubsync();
}

namespace {
EngineOutput *g_engineOutput = nullptr;
}  // namespace

void filterEngineOutput() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_engineOutput = new EngineOutput(std::cerr.rdbuf());
    std::cerr.rdbuf(g_engineOutput);
  });
}

void releaseEngineOutput() {
  if (g_engineOutput) g_engineOutput->release();
}

}  // namespace quorvel
