#include "document/private_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <system_error>

namespace quorvel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = "quorvel-";

// The pid in "quorvel-<pid>-XXXXXX", or 0.
pid_t ownerPid(const std::string &name) {
  if (name.rfind(kPrefix, 0) != 0) return 0;
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

}  // namespace quorvel
