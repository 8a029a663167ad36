// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/page_selection.h"

#include <algorithm>
#include <utility>

#include "automation/automation.h"

namespace quorvel {

namespace {

[[noreturn]] void reject(const std::string &why) { throw OleServerError("Неверный список страниц: " + why); }

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

class Parser {
public:
  explicit Parser(std::string_view s) : m_s(s) {}

  void skipBlanks() {
    while (m_pos < m_s.size() && isBlank(m_s[m_pos])) ++m_pos;
  }
  bool atEnd() const { return m_pos >= m_s.size(); }
  char peek() const { return m_s[m_pos]; }
  void advance() { ++m_pos; }
  std::size_t position() const { return m_pos + 1; }

  // A number as typed. The value saturates instead of overflowing: any number
  // past the end of a document is as good as any other. The digits are kept
  // to compare and quote numbers that do not fit.
  struct Number {
    std::int64_t value;
    std::string_view digits;  // without leading zeros
  };

  Number number() {
    if (atEnd() || !isDigit(peek())) unexpected();
    const std::size_t start = m_pos;
    std::int64_t v = 0;
    while (!atEnd() && isDigit(peek())) {
      v = std::min<std::int64_t>(v * 10 + (peek() - '0'), kHuge);
      advance();
    }
    if (v == 0) reject("страницы нумеруются с 1 (позиция " + std::to_string(position() - 1) + ")");
    std::string_view digits = m_s.substr(start, m_pos - start);
    digits.remove_prefix(digits.find_first_not_of('0'));
    return {v, digits};
  }

  [[noreturn]] void unexpected() const {
    if (atEnd()) reject("после «-» или «,» ожидался номер страницы");
    const auto c = static_cast<unsigned char>(peek());
    if (c == ',') reject("пустой элемент в позиции " + std::to_string(position()));
    if (c >= 0x20 && c < 0x7F)
      reject("недопустимый символ «" + std::string(1, static_cast<char>(c)) + "» в позиции " +
             std::to_string(position()));
    reject("недопустимый символ в позиции " + std::to_string(position()) +
           " (допустимы цифры, «-», «,» и пробелы)");
  }

  static constexpr std::int64_t kHuge = 1'000'000'000'000LL;

private:
  std::string_view m_s;
  std::size_t m_pos = 0;
};

bool less(const Parser::Number &a, const Parser::Number &b) {
  if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size();
  return a.digits < b.digits;
}

// Long numbers are cut short so the message stays readable.
std::string quote(const Parser::Number &n) {
  if (n.digits.size() <= 20) return std::string(n.digits);
  return std::string(n.digits.substr(0, 20)) + "…";
}

}  // namespace

std::vector<int> parsePageList(std::string_view text, int pageCount) {
  if (std::all_of(text.begin(), text.end(), isBlank)) reject("список пуст");

  // Ranges are collected and merged afterwards, so a long list of wide
  // ranges costs no more than the pages it names.
  std::vector<std::pair<std::int64_t, std::int64_t>> spans;
  Parser p(text);
  for (;;) {
    p.skipBlanks();
    const Parser::Number first = p.number();
    Parser::Number last = first;
    p.skipBlanks();
    if (!p.atEnd() && p.peek() == '-') {
      p.advance();
      p.skipBlanks();
      last = p.number();
      if (less(last, first))
        reject("в диапазоне " + quote(first) + "-" + quote(last) + " начало больше конца");
      p.skipBlanks();
    }
    if (first.value <= pageCount)
      spans.emplace_back(first.value, std::min<std::int64_t>(last.value, pageCount));
    if (p.atEnd()) break;
    if (p.peek() != ',') p.unexpected();
    p.advance();
  }

  std::sort(spans.begin(), spans.end());
  std::vector<int> pages;
  for (const auto &[from, to] : spans)
    for (std::int64_t n = pages.empty() ? from : std::max<std::int64_t>(from, pages.back() + 1); n <= to; ++n)
      pages.push_back(static_cast<int>(n));
  if (pages.empty())
    reject("в документе нет таких страниц (всего страниц: " + std::to_string(pageCount) + ")");
  return pages;
}

std::vector<int> selectPages(const std::optional<std::string> &pageList, std::int32_t pageType,
                             int pageCount) {
  std::vector<int> pages;
  if (pageList) {
    pages = parsePageList(*pageList, pageCount);
  } else {
    for (int n = 1; n <= pageCount; ++n) pages.push_back(n);
  }
  if (pageType == 1 || pageType == 2) {
    const int keep = pageType == 1 ? 1 : 0;
    std::erase_if(pages, [keep](int n) { return n % 2 != keep; });
  }
  if (pages.empty())
    throw OleServerError(pageType == 2   ? "Нет страниц для печати: среди выбранных нет четных страниц"
                         : pageType == 1 ? "Нет страниц для печати: среди выбранных нет нечетных страниц"
                                         : "Нет страниц для печати: документ пуст");
  return pages;
}

Sides splitSides(const std::vector<int> &pages) {
  Sides s;
  for (std::size_t i = 0; i < pages.size(); ++i) (i % 2 == 0 ? s.fronts : s.backs).push_back(pages[i]);
  return s;
}

std::string formatPageRange(const std::vector<int> &pages) {
  std::string out;
  for (int n : pages) {
    if (!out.empty()) out += ',';
    out += std::to_string(n);
  }
  return out;
}

}  // namespace quorvel
