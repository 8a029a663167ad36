// SPDX-License-Identifier: GPL-3.0-or-later
// User names and passwords for printers that want them: asked for once per
// run and server, kept in memory only, wiped when no longer needed.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel {

// A password: its bytes are overwritten when it goes, copies included.
class Secret {
public:
  Secret() = default;
  explicit Secret(std::string text) : m_text(std::move(text)) {}
  Secret(const Secret &other) = default;
  Secret &operator=(const Secret &other);
  Secret(Secret &&other) noexcept;
  Secret &operator=(Secret &&other) noexcept;
  ~Secret() { wipe(); }
  const std::string &text() const { return m_text; }
  bool empty() const { return m_text.empty(); }
  void wipe();

private:
  std::string m_text;
};

struct Credentials {
  std::string domain;  // only where the printer asks for one
  std::string user;
  Secret password;
};

// What the spooler said it needs; the window asks the user for it.
struct CredentialRequest {
  std::string printer;
  bool domain = false;  // a domain field too
  std::string user;     // the name to offer
  bool refused = false;  // the last try was refused
};

inline constexpr const char *kCredentialsRefused = "Имя пользователя или пароль не подошли.";
std::string credentialsPrompt(const std::string &printer);

// The credentials of this run, one set per server (the print server, or the
// share a queue prints to); the user name is kept with its password.
class CredentialStore {
public:
  CredentialStore() = default;
  CredentialStore(const CredentialStore &) = default;
  CredentialStore &operator=(const CredentialStore &) = default;
  CredentialStore(CredentialStore &&) = default;
  CredentialStore &operator=(CredentialStore &&) = default;
  ~CredentialStore() { clear(); }

  const Credentials *find(const std::string &server) const;
  void keep(const std::string &server, Credentials credentials);
  void forget(const std::string &server);
  void clear();
  bool empty() const { return m_byServer.empty(); }

private:
  std::map<std::string, Credentials> m_byServer;
};

// The values of a job's auth-info, in the order the queue asks for them
// ("domain", "username", "password"); nothing for what is not known.
std::optional<std::vector<Secret>> authInfo(const std::vector<std::string> &required, const Credentials &c);

// The spooler needs a user name and password for `server`, and either had
// none or was given ones it refused.
struct CredentialsNeeded : std::runtime_error {
  CredentialsNeeded(std::string serverKey, std::string userName, bool wasRefused)
      : std::runtime_error("credentials needed"),
        server(std::move(serverKey)),
        user(std::move(userName)),
        refused(wasRefused) {}
  std::string server;
  std::string user;
  bool refused;
};

}  // namespace quorvel
