// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's settings for this program: where it is installed, and what is
// written into a fresh profile folder before it starts (it never saves, locks
// or recovers anything, runs no macros and keeps its caches small).
#pragma once

#include <filesystem>

namespace quorvel {

// Where LibreOffice is installed.
const char *lokProgramDir();

// Throws OleServerError when the folder cannot be written.
void seedEngineProfile(const std::filesystem::path &profileDir);

}  // namespace quorvel
