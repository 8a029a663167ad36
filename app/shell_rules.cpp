// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shell_rules.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace quorvel {

namespace {

// Lower-cases one code point: ASCII, Latin-1 and Cyrillic, enough for file names.
char32_t toLower(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

void appendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one code point at `i`; an invalid byte comes out as itself.
char32_t nextCodePoint(std::string_view s, std::size_t &i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len <= 1 || i + static_cast<std::size_t>(len) > s.size()) {
    ++i;
    return b;
  }
  char32_t c = b & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    const auto cb = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((cb & 0xC0) != 0x80) {
      ++i;
      return b;
    }
    c = (c << 6) | (cb & 0x3F);
  }
  i += static_cast<std::size_t>(len);
  return c;
}

}  // namespace

std::string applicationTitle(std::string_view path) {
  if (auto slash = path.rfind('/'); slash != std::string_view::npos) path.remove_prefix(slash + 1);
  if (auto dot = path.find('.'); dot != std::string_view::npos) path = path.substr(0, dot);
  std::string out;
  std::size_t i = 0;
  bool first = true;
  while (i < path.size()) {
    char32_t c = nextCodePoint(path, i);
    appendUtf8(out, first ? c : toLower(c));
    first = false;
  }
  return out;
}

std::string withFullStop(std::string text) {
  // Every byte of a multi-byte UTF-8 character is above '.', as is the character.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

std::string errorBoxText(const std::exception_ptr &error) {
  std::string outer, innermost;
  bool first = true;
  for (std::exception_ptr current = error; current;) {
    std::exception_ptr next;
    std::string text;
    try {
      std::rethrow_exception(current);
    } catch (const std::exception &e) {
      text = e.what();
      if (const auto *n = dynamic_cast<const std::nested_exception *>(&e)) next = n->nested_ptr();
    } catch (...) {
      text = "Неизвестная ошибка";
    }
    if (first) outer = text;
    innermost = text;
    first = false;
    current = next;
  }
  return withFullStop(innermost.empty() ? outer : innermost);
}

int mulDiv(int value, int numerator, int denominator) {
  if (denominator == 0) throw std::invalid_argument("mulDiv by zero");
  const std::int64_t p = static_cast<std::int64_t>(value) * numerator;
  const std::int64_t d = denominator;
  const std::int64_t q = (std::llabs(p) * 2 + std::llabs(d)) / (std::llabs(d) * 2);
  return static_cast<int>((p < 0) != (d < 0) ? -q : q);
}

Rect scaleRect(const Rect &r, int n, int d) {
  return {mulDiv(r.x, n, d), mulDiv(r.y, n, d), mulDiv(r.width, n, d), mulDiv(r.height, n, d)};
}

int scaledFontHeight(int fontHeight, int dpi) {
  return dpi == 96 || dpi <= 0 ? fontHeight : mulDiv(fontHeight, dpi, 96);
}

ClientSize scaledClientSize(int textHeight) {
  if (textHeight <= 0 || textHeight == kStoredTextHeight) return {kClientWidth, kClientHeight};
  return {mulDiv(kClientWidth, textHeight, kStoredTextHeight),
          mulDiv(kClientHeight, textHeight, kStoredTextHeight)};
}

Point centredPosition(int workWidth, int workHeight, int frameWidth, int frameHeight, Point origin) {
  return {std::max(origin.x, (workWidth - frameWidth) / 2),
          std::max(origin.y, (workHeight - frameHeight) / 2)};
}

}  // namespace quorvel
