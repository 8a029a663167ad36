// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/credentials.h"

#include <cstring>  // explicit_bzero

#include "printing/job_watch.h"

namespace quorvel {

void Secret::wipe() {
  // The whole buffer: a short text lives inside the string object itself.
  m_text.resize(m_text.capacity());
  explicit_bzero(m_text.data(), m_text.size());
  m_text.clear();
}

Secret &Secret::operator=(const Secret &other) {
  if (this != &other) {
    wipe();
    m_text = other.m_text;
  }
  return *this;
}

// A short text is copied by a move, its bytes left in the string moved from.
Secret::Secret(Secret &&other) noexcept : m_text(std::move(other.m_text)) { other.wipe(); }

Secret &Secret::operator=(Secret &&other) noexcept {
  if (this != &other) {
    wipe();
    m_text = std::move(other.m_text);
    other.wipe();
  }
  return *this;
}

std::string credentialsPrompt(const std::string &printer) {
  return "Для печати на принтере " + quotedPrinter(printer) + " нужны имя пользователя и пароль.";
}

const Credentials *CredentialStore::find(const std::string &server) const {
  const auto it = m_byServer.find(server);
  return it == m_byServer.end() ? nullptr : &it->second;
}

void CredentialStore::keep(const std::string &server, Credentials credentials) {
  m_byServer[server] = std::move(credentials);
}

void CredentialStore::forget(const std::string &server) { m_byServer.erase(server); }

void CredentialStore::clear() {
  for (auto &entry : m_byServer) entry.second.password.wipe();
  m_byServer.clear();
}

std::optional<std::vector<Secret>> authInfo(const std::vector<std::string> &required, const Credentials &c) {
  std::vector<Secret> values;
  for (const std::string &what : required) {
    if (what == "domain")
      values.emplace_back(c.domain);
    else if (what == "username")
      values.emplace_back(c.user);
    else if (what == "password")
      values.push_back(c.password);
    else
      return std::nullopt;  // a Kerberos ticket, say: not ours to give
  }
  return values;
}

}  // namespace quorvel
