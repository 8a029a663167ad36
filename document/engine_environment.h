// SPDX-License-Identifier: GPL-3.0-or-later
// The environment reserved (LibreOffice 7.4 and 26.8; a crash with Debian
// 12's C library). As it starts, the engine adds URE_BOOTSTRAP, LIBO_VERSION
// and LANGUAGE to the environment (26.8 SSL_CERT_FILE too), and the view adds
// LOK_ALLOWLIST_LANGUAGES, while other threads read the environment (the GUI
// thread's translations read LANGUAGE all the time, the printer list reads
// CUPS's variables). Adding a name moves the environment's array, and glibc
// before 2.40 (Debian 12: 2.36) frees the old one under any thread reading it
// at the time. So each name is put in place first thing, with the value it
// will have or one that reads as unset, and the engine only changes values.
// Done on every version; it costs nothing.
// Measured (starts with a thread reading the environment without pause):
// 17 crashes in 20 on Debian 12 without it, 0 in 20 with it; 0 in 20 on
// Debian 13 without it (its glibc keeps old arrays). The window's tests fail
// if the environment gains a name.
#pragma once

#include <string>

namespace quorvel {

// Puts every environment variable the engine and its view set as they start
// in place beforehand (a value the user has set stays). Call it first thing,
// before any thread is started.
void reserveEngineEnvironment();

// For the engine's start from `programDir`: the value the engine gives
// URE_BOOTSTRAP, set in place, where reserveEngineEnvironment put it there.
void setEngineBootstrap(const std::string &programDir);

}  // namespace quorvel
