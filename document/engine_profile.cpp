// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/engine_profile.h"

#include <fstream>

#include "automation/automation.h"

namespace quorvel {

const char *lokProgramDir() { return "/usr/lib/libreoffice/program"; }

void seedEngineProfile(const std::filesystem::path &profileDir) {
  std::filesystem::create_directories(profileDir / "user");
  std::ofstream out(profileDir / "user" / "registrymodifications.xcu");
  auto item = [&out](const char *path, const char *prop, const char *value) {
    out << R"(<item oor:path=")" << path << R"("><prop oor:name=")" << prop << R"(" oor:op="fuse"><value>)"
        << value << "</value></prop></item>\n";
  };
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
         "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  item("/org.openoffice.Office.Common/Misc", "UseLocking", "false");
  item("/org.openoffice.Office.Common/Misc", "FirstRun", "false");
  item("/org.openoffice.Office.Common/Misc", "ShowTipOfTheDay", "false");
  item("/org.openoffice.Setup/Office", "FirstStartWizardCompleted", "true");
  item("/org.openoffice.Setup/Product", "ooSetupLastVersion", "7.4");
  item("/org.openoffice.Office.Recovery/AutoSave", "Enabled", "false");
  item("/org.openoffice.Office.Recovery/RecoveryInfo", "Enabled", "false");
  item("/org.openoffice.Office.Common/Save/Document", "CreateBackup", "false");
  item("/org.openoffice.Office.Common/History", "PickListSize", "0");
  item("/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3");
  item("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true");
  // The engine keeps laid-out text of every zoom it has drawn and of every
  // print-out, up to 20 MB by its own count (about twice that in fact). The
  // chart's text at one zoom fits in far less; each resize is a new zoom and
  // each print-out another set. At 2 MB it filled to some 7 MB within fifty
  // print-outs; at 500 kB print-outs and resizes took as long as before.
  item("/org.openoffice.Office.Common/Cache/Font", "GlyphsCacheSize", "500000");
  out << "</oor:items>\n";
  if (!out) throw OleServerError("Не удалось подготовить профиль LibreOffice");
}

}  // namespace quorvel
