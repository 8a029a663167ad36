// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/engine_profile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using namespace quorvel;

namespace {
struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/quorvel-profile-test.XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
};
}  // namespace

TEST(EngineProfile, SettingsThatKeepTheEngineFromWritingOrRunningAnything) {
  TempDir dir;
  seedEngineProfile(dir.path / "profile");
  std::ifstream in(dir.path / "profile" / "user" / "registrymodifications.xcu");
  const std::string xcu{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(xcu.empty());
  auto has = [&](const std::string &path, const std::string &prop, const std::string &value) {
    const std::string item = "<item oor:path=\"" + path + "\"><prop oor:name=\"" + prop +
                             "\" oor:op=\"fuse\"><value>" + value + "</value></prop></item>";
    return xcu.find(item) != std::string::npos;
  };
  EXPECT_TRUE(has("/org.openoffice.Office.Common/Misc", "UseLocking", "false"));
  EXPECT_TRUE(has("/org.openoffice.Office.Recovery/AutoSave", "Enabled", "false"));
  EXPECT_TRUE(has("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true"));
  EXPECT_TRUE(has("/org.openoffice.Office.Common/Cache/Font", "GlyphsCacheSize", "500000"));
  EXPECT_EQ(xcu.rfind("</oor:items>\n"), xcu.size() - 13);
}

TEST(EngineProfile, UnwritableFolderIsAnError) {
  TempDir dir;
  std::ofstream(dir.path / "file") << "x";
  EXPECT_ANY_THROW(seedEngineProfile(dir.path / "file" / "profile"));
}
