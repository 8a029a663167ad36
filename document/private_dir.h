// SPDX-License-Identifier: GPL-3.0-or-later
// The one folder of this run: the engine's profile, its temporary files and
// the short-lived copy of the document live here, and all of it goes when the
// run ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace quorvel {

class PrivateDir {
public:
  // Creates "<root>/quorvel-<pid>-XXXXXX" with mode 0700; throws on failure.
  explicit PrivateDir(const std::filesystem::path &root = defaultRoot());
  ~PrivateDir();
  PrivateDir(const PrivateDir &) = delete;
  PrivateDir &operator=(const PrivateDir &) = delete;

  const std::filesystem::path &path() const { return m_path; }
  // A subfolder, created 0700 on first use.
  std::filesystem::path sub(const char *name) const;

  // $TMPDIR, else /tmp.
  static std::filesystem::path defaultRoot();
  // Removes the folders of earlier runs of this user whose process is gone
  // (a run that was killed cannot clean up after itself). Returns how many.
  static int removeStale(const std::filesystem::path &root = defaultRoot());

private:
  std::filesystem::path m_path;
};

// Writes `bytes` to a new file `file` (mode 0600); 0, or the errno of what
// failed. A file that could not be written whole is removed again.
int writeWholeFile(const std::filesystem::path &file, std::span<const std::uint8_t> bytes);

// Whether `bytes` more can be written into `folder` now: 0, or the errno of
// the write that failed (ENOSPC, EACCES ...). The trial file is removed again.
int folderWriteError(const std::filesystem::path &folder, std::size_t bytes);

}  // namespace quorvel
