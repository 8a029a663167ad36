// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/engine_environment.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "document/engine_profile.h"
#include "document/lok_internal.h"

namespace quorvel {

namespace {

// Set when URE_BOOTSTRAP is ours: the engine is then told its own.
bool g_ureBootstrapReserved = false;

std::string ureBootstrap(const std::string &programDir) {
  return fileUrl(std::filesystem::path(programDir) / "fundamentalrc");
}

void reserve(const char *name, const std::string &value) { setenv(name, value.c_str(), 0); }

}  // namespace

// The names were found by watching setenv while the engine starts, a view is
// made, a page is printed and the engine stops, on 7.4 and 26.8. Each gets
// the value it will have, or one that reads as unset, and a value the user has
// set stays. The window's tests check that no name is added after this.
void reserveEngineEnvironment() {
  // The engine's temporary folder is set later (see OleContainer).
  reserve("TMPDIR", g_get_tmp_dir());
  // Set by the engine as it starts (7.4, 26.8), to the file it would read
  // anyway; that is where it finds its libraries.
  g_ureBootstrapReserved = !std::getenv("URE_BOOTSTRAP");
  reserve("URE_BOOTSTRAP", ureBootstrap(lokProgramDir()));
  // Set by the engine as it starts (7.4, 26.8); nothing reads them before.
  // gettext, GLib and the engine read an empty LANGUAGE as unset.
  reserve("LIBO_VERSION", "");
  reserve("LANGUAGE", "");
  // Set by 26.8 as it starts, where unset, to the first of these that can be
  // read: the system's certificates, which OpenSSL reads anyway.
  for (const char *bundle :
       {"/etc/pki/tls/certs/ca-bundle.crt", "/etc/pki/tls/certs/ca-bundle.trust.crt",
        "/etc/ssl/certs/ca-certificates.crt", "/var/lib/ca-certificates/ca-bundle.pem"}) {
    if (access(bundle, R_OK) == 0) {
      reserve("SSL_CERT_FILE", bundle);
      break;
    }
  }
  // Set by the view (7.4, 26.8), where unset, as it is made, to this list;
  // the engine reads it only later.
  reserve("LOK_ALLOWLIST_LANGUAGES", "de_DE en_GB en_US es_ES fr_FR it nl pt_BR pt_PT ru");
}

void setEngineBootstrap(const std::string &programDir) {
  // Its value changed in place (see reserveEngineEnvironment).
  if (g_ureBootstrapReserved) setenv("URE_BOOTSTRAP", ureBootstrap(programDir).c_str(), 1);
}

}  // namespace quorvel
