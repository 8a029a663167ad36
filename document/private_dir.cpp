// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/private_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace quorvel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = "quorvel-";

// The pid in "quorvel-<pid>-XXXXXX", or 0.
pid_t ownerPid(const std::string &name) {
  if (!name.starts_with(kPrefix)) return 0;
  const std::string rest = name.substr(kPrefix.size());
  const auto dash = rest.find('-');
  if (dash == std::string::npos || dash == 0 || dash > 9) return 0;
  pid_t pid = 0;
  for (std::size_t i = 0; i < dash; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return 0;
    pid = pid * 10 + (rest[i] - '0');
  }
  return pid;
}

// Writes all of `bytes` to `fd`, resuming after short writes (the one after
// a short write tells why it was short); 0 or the errno.
int writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return 0;
}

// Closes `fd`; `error` unless it is 0, else what closing said (some file
// systems report a failed write only then).
int closeKeepingError(int fd, int error) {
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

fs::path PrivateDir::defaultRoot() {
  const char *tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? fs::path(tmp) : fs::path("/tmp");
}

PrivateDir::PrivateDir(const fs::path &root) {
  std::string templ = (root / (std::string(kPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
  if (!mkdtemp(templ.data()))
    throw std::system_error(errno, std::generic_category(), "Не удалось создать временную папку " + templ);
  m_path = templ;  // mkdtemp makes it 0700
}

PrivateDir::~PrivateDir() {
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

fs::path PrivateDir::sub(const char *name) const {
  fs::path p = m_path / name;
  if (mkdir(p.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::system_error(errno, std::generic_category(), "Не удалось создать папку " + p.string());
  return p;
}

int PrivateDir::removeStale(const fs::path &root) {
  int removed = 0;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(root, ec)) {
    const pid_t pid = ownerPid(entry.path().filename().string());
    if (pid <= 0 || pid == getpid()) continue;
    struct stat st {};
    if (lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) continue;
    if (kill(pid, 0) == 0 || errno != ESRCH) continue;  // still running, or not ours to judge
    std::error_code rec;
    if (fs::remove_all(entry.path(), rec) > 0 && !rec) ++removed;
  }
  return removed;
}

int writeWholeFile(const fs::path &file, std::span<const std::uint8_t> bytes) {
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  const int error = closeKeepingError(fd, writeAll(fd, bytes));
  if (error != 0) unlink(file.c_str());
  return error;
}

int folderWriteError(const fs::path &folder, std::size_t bytes) {
  std::string name = (folder / ".room-XXXXXX").string();
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  unlink(name.c_str());  // gone whatever happens next; the space stays taken until closed
  const std::vector<std::uint8_t> chunk(std::size_t{64} * 1024);
  int error = 0;
  for (std::size_t left = bytes; left > 0 && error == 0;) {
    const std::size_t n = std::min(left, chunk.size());
    error = writeAll(fd, std::span(chunk).first(n));
    left -= n;
  }
  return closeKeepingError(fd, error);
}

}  // namespace quorvel
