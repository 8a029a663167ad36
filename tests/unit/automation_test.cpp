// SPDX-License-Identifier: GPL-3.0-or-later
#include "automation/automation.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "automation/word_model.h"

using namespace quorvel;

namespace {

class Probe : public TableDispatch {
public:
  Probe() {
    onGet("Child", [this] { return Variant(DispatchPtr(std::make_shared<Probe>())); });
    onSet("Flag", [this](const Variant &v) { flag = v.asBool(); });
    onCall("Echo", [](const NamedArgs &args) { return *findArg(args, "Text"); });
  }
  bool flag = false;
};

std::string textOf(const std::function<void()> &f) {
  try {
    f();
  } catch (const OleError &e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(Automation, MembersAreFoundWithoutRegardToCase) {
  auto p = std::make_shared<Probe>();
  p->set("fLAG", Variant(true));
  EXPECT_TRUE(p->flag);
  EXPECT_TRUE(p->get("child").isObject());
  EXPECT_EQ(p->call("ECHO", {{"text", Variant("привет")}}).asString(), "привет");
}

TEST(Automation, UnknownMembersNameTheMember) {
  auto p = std::make_shared<Probe>();
  EXPECT_EQ(textOf([&] { p->get("Nope"); }), "Method 'Nope' not supported by automation object");
  // A member that exists, but not as a method.
  EXPECT_EQ(textOf([&] { p->call("Flag", {}); }), "Method 'Flag' not supported by automation object");
  EXPECT_EQ(textOf([&] { p->set("Child", Variant(1)); }),
            "Method 'Child' not supported by automation object");
  EXPECT_EQ(textOf([&] {
              getObject(p, {"Child", "Child", "Missing"});
            }),
            "Method 'Missing' not supported by automation object");
}

TEST(Automation, ServerDescriptionsLoseTrailingBlanksControlsAndFullStops) {
  EXPECT_EQ(trimServerDescription("Bad page list.\r\n"), "Bad page list");
  EXPECT_EQ(trimServerDescription("Done. . .\t "), "Done");
  EXPECT_EQ(trimServerDescription(std::string("x\0\x1f\x20.", 5)), "x");
  EXPECT_EQ(trimServerDescription("...."), "");
  EXPECT_EQ(trimServerDescription("Ends with !"), "Ends with !");
  EXPECT_EQ(OleServerError("Ошибка.\n").what(), std::string("Ошибка"));
}

// Every code the program raises, and what the user reads for it.
TEST(Automation, FailureCodesUseTheSystemTextOrTheCode) {
  struct Case {
    std::uint32_t code;
    const char *text;
  };
  const Case cases[] = {
      {0x80004001u, "Не реализовано"},
      {0x8007000Eu, "Недостаточно памяти для завершения операции"},
      {0x80020003u, "Элемент не найден"},
      {0x80020004u, "Параметр не найден"},
      {0x80020005u, "Несоответствие типа"},
      {0x8003001Eu, "Не удалось прочитать данные документа"},
      {0x80030109u, "Файл составного документа поврежден"},
      // None of its own: the code, in eight digits.
      {0x8badf00du, "OLE error 8badf00d"},
      {0x1u, "OLE error 00000001"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(std::string(OleSysError(c.code).what()), c.text);
  }

  // A file that could not be written: the code of what happened.
  struct FileCase {
    int error;
    std::uint32_t code;
    const char *text;
  };
  const char *full = "Недостаточно места на диске для завершения операции";
  const char *denied = "Отказано в доступе";
  const char *noPath = "Не удается найти указанный путь";
  const char *noHandles = "Недостаточно ресурсов для открытия еще одного файла";
  const char *writeFault = "Ошибка диска при выполнении операции записи";
  const FileCase fileCases[] = {
      {ENOSPC, 0x80030070u, full},
      {EDQUOT, 0x80030070u, full},
      {EACCES, 0x80030005u, denied},
      {EPERM, 0x80030005u, denied},
      {EROFS, 0x80030013u, "Диск защищен от записи"},
      {ENOENT, 0x80030003u, noPath},
      {ENOTDIR, 0x80030003u, noPath},
      {EMFILE, 0x80030004u, noHandles},
      {ENFILE, 0x80030004u, noHandles},
      {ENOMEM, 0x80030008u, "Недостаточно памяти для завершения операции"},
      {EIO, 0x8003001Du, writeFault},
      // Whatever else keeps the bytes from the disk.
      {EFBIG, 0x8003001Du, writeFault},
      {EINVAL, 0x8003001Du, writeFault},
  };
  for (const FileCase &c : fileCases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(fileErrorCode(c.error), c.code);
    EXPECT_EQ(std::string(OleSysError(fileErrorCode(c.error)).what()), c.text);
  }
}

TEST(Automation, MissingMarkerIsErrorTypeWithParamNotFound) {
  const Variant m = Variant::missing();
  EXPECT_TRUE(m.isMissing());
  EXPECT_FALSE(Variant(ErrorCode{0x80020005u}).isMissing());
  EXPECT_FALSE(Variant(std::int32_t{0}).isMissing());
  EXPECT_EQ(m, Variant(ErrorCode{0x80020004u}));
}

TEST(Automation, ConversionsFollowAutomationRules) {
  EXPECT_EQ(Variant(true).asInt(), -1);
  EXPECT_EQ(Variant(false).asInt(), 0);
  EXPECT_TRUE(Variant(std::int32_t{2}).asBool());
  EXPECT_EQ(textOf([] { (void)Variant("1").asInt(); }), "Несоответствие типа");
  EXPECT_EQ(textOf([] { (void)Variant::missing().asBool(); }), "Несоответствие типа");
}

namespace {

struct RecordingServer : DocumentServer {
  std::vector<std::string> calls;
  void setDisplayRulers(bool on) override { calls.push_back("rulers " + std::to_string(on)); }
  void setPageFit(std::int32_t f) override { calls.push_back("fit " + std::to_string(f)); }
  void setDisplayAlerts(bool on) override { calls.push_back("alerts " + std::to_string(on)); }
  void filePrintSetup(const std::string &p, bool def) override {
    calls.push_back("setup " + p + " " + std::to_string(def));
  }
  void printOut(const PrintOutRequest &r) override {
    calls.push_back("print " + r.pages.value_or("-") + " " + std::to_string(r.pageType) + " " +
                    std::to_string(r.manualDuplex));
  }
};

}  // namespace

TEST(WordModel, ViewChainsReachTheServer) {
  auto server = std::make_shared<RecordingServer>();
  DispatchPtr doc = makeDocumentObject(server);
  getObject(doc, {"ActiveWindow", "ActivePane"})->set("DisplayRulers", Variant(false));
  getObject(doc, {"ActiveWindow", "ActivePane", "View", "Zoom"})->set("PageFit", Variant(std::int32_t{2}));
  getObject(doc, {"Application"})->set("DisplayAlerts", Variant(false));
  getObject(doc, {"Application", "WordBasic"})
      ->call("FilePrintSetup",
             {{"Printer", Variant("Лазерный")}, {"DoNotSetAsSysDefault", Variant(std::int32_t{1})}});
  EXPECT_EQ(server->calls, (std::vector<std::string>{"rulers 0", "fit 2", "alerts 0", "setup Лазерный 0"}));
  EXPECT_EQ(textOf([&] { getObject(doc, {"ActivePane"}); }),
            "Method 'ActivePane' not supported by automation object");
}

TEST(WordModel, PrintOutArguments) {
  const Variant m = Variant::missing();
  PrintOutRequest r = parsePrintOutArgs({{"Copies", Variant(std::int32_t{1})},
                                         {"Pages", Variant("2-3")},
                                         {"Range", Variant(std::int32_t{4})},
                                         {"PageType", Variant(std::int32_t{1})},
                                         {"ManualDuplexPrint", Variant(true)},
                                         {"OutputFileName", m}});
  EXPECT_EQ(r.pages, "2-3");
  EXPECT_EQ(r.pageType, 1);
  EXPECT_TRUE(r.manualDuplex);

  // Pages counts only with the page-range value.
  r = parsePrintOutArgs({{"Pages", Variant("2")}, {"Range", m}});
  EXPECT_FALSE(r.pages);

  EXPECT_EQ(textOf([] {
              parsePrintOutArgs({{"Range", Variant(std::int32_t{4})}});
            }),
            "Не указан список страниц для печати");
  EXPECT_EQ(textOf([] {
              parsePrintOutArgs({{"OutputFileName", Variant("/tmp/x")}});
            }),
            "Параметр печати OutputFileName не поддерживается");
  EXPECT_EQ(textOf([] {
              parsePrintOutArgs({{"PageType", Variant(std::int32_t{3})}});
            }),
            "Неизвестный тип страниц для печати");
  EXPECT_EQ(textOf([] { parsePrintOutArgs({{"Colour", Variant(true)}}); }), "Параметр не найден");
}
