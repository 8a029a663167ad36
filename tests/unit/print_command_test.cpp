// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/print_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// Records every automation call that reaches it, with names and values.
struct Recorder {
  std::vector<std::string> log;
  int objectRequests = 0;

  std::string describe(const Variant &v) const {
    if (v.isMissing()) return "missing";
    if (v.isString()) return "\"" + v.asString() + "\"";
    if (v.isBool()) return v.asBool() ? "true" : "false";
    if (v.isInt()) return std::to_string(v.asInt());
    return "?";
  }

  class Obj : public Dispatch {
  public:
    Obj(Recorder &r, std::string path) : m_r(r), m_path(std::move(path)) {}
    Variant get(std::string_view m) override {
      m_r.log.push_back("get " + m_path + std::string(m));
      return Variant(DispatchPtr(std::make_shared<Obj>(m_r, m_path + std::string(m) + ".")));
    }
    Variant call(std::string_view m, const NamedArgs &args) override {
      std::string line = "call " + m_path + std::string(m) + "(";
      for (const auto &a : args) line += a.name + (a.byRef ? "&" : "") + "=" + m_r.describe(a.value) + ",";
      m_r.log.push_back(line + ")");
      return Variant();
    }

  private:
    Recorder &m_r;
    std::string m_path;
  };

  DispatchPtr object() {
    ++objectRequests;
    return std::make_shared<Obj>(*this, "");
  }
};

struct Outcome {
  std::vector<std::string> log;
  std::vector<std::string> messages;
  int objectRequests;
};

Outcome click(const PrintStrip &strip, int times = 1) {
  Recorder rec;
  std::vector<std::string> messages;
  for (int i = 0; i < times; ++i)
    runPrintCommand(
        strip, [&] { return rec.object(); }, [&](const std::string &t) { messages.push_back(t); });
  return {rec.log, messages, rec.objectRequests};
}

std::string printOut(const std::string &pages, const std::string &duplex, const std::string &type,
                     const std::string &range) {
  return "call Application.PrintOut(Copies=1,Pages&=" + pages + ",ManualDuplexPrint&=" + duplex +
         ",PageType&=" + type + ",Background&=missing,Append&=missing,Range&=" + range +
         ",OutputFileName&=missing,From&=missing,To&=missing,Item&=missing,PrintToFile&=missing,"
         "Collate&=missing,ActivePrinterMacGX&=missing,PrintZoomColumn&=missing,PrintZoomRow&="
         "missing,PrintZoomPaperWidth&=missing,PrintZoomPaperHeight&=missing,)";
}

const std::string kSetup =
    "call Application.WordBasic.FilePrintSetup(Printer=\"Офис 2\",DoNotSetAsSysDefault=1,)";

}  // namespace

TEST(PrintCommand, MissingChoicesShowMessagesAndSendNothing) {
  Outcome o = click({std::nullopt, -1, "", false});
  EXPECT_EQ(o.messages, std::vector<std::string>{"Выберите принтер!"});  // printer first
  EXPECT_TRUE(o.log.empty());
  EXPECT_EQ(o.objectRequests, 0);

  o = click({std::nullopt, 2, "1", true});
  EXPECT_EQ(o.messages, std::vector<std::string>{"Выберите принтер!"});

  o = click({"Офис 2", -1, "1-2", true});
  EXPECT_EQ(o.messages, std::vector<std::string>{"Выберите страницы для печати!"});
  EXPECT_TRUE(o.log.empty());
}

TEST(PrintCommand, EachPageItemSendsItsValues) {
  struct Case {
    int item;
    std::string text;
    bool duplex;
    std::string pages, type, range;
  };
  const std::vector<Case> cases{
      {0, "", false, "missing", "0", "missing"},
      {0, "2-3", false, "missing", "0", "missing"},  // a list typed under "все" is not sent
      {1, "2-3", false, "\"2-3\"", "0", "4"},
      {1, "", false, "missing", "0", "missing"},  // empty list prints everything
      {1, "   ", true, "\"   \"", "0", "4"},      // blanks are sent unchanged
      {1, " x,1 ", false, "\" x,1 \"", "0", "4"},
      {2, "5", false, "missing", "1", "missing"},
      {3, "", true, "missing", "2", "missing"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("item " + std::to_string(c.item) + " text '" + c.text + "'");
    Outcome o = click({"Офис 2", c.item, c.text, c.duplex});
    EXPECT_TRUE(o.messages.empty());
    EXPECT_EQ(o.log, (std::vector<std::string>{
                         "get Application", "get Application.WordBasic", kSetup, "get Application",
                         printOut(c.pages, c.duplex ? "true" : "false", c.type, c.range)}));
    EXPECT_EQ(o.objectRequests, 2);  // each chain starts from a fresh object
  }
}

TEST(PrintCommand, TwoClicksSendEverythingTwice) {
  Outcome o = click({"Офис 2", 0, "", false}, 2);
  ASSERT_EQ(o.log.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(o.log.begin(), o.log.begin() + 5),
            std::vector<std::string>(o.log.begin() + 5, o.log.end()));
  EXPECT_EQ(o.log[2], kSetup);
}

namespace {
// Fails every call the way a server does.
struct Failing : Dispatch {
  explicit Failing(std::vector<std::string> &calls) : m_calls(calls) {}
  Variant get(std::string_view) override { return Variant(DispatchPtr(std::make_shared<Failing>(m_calls))); }
  Variant call(std::string_view m, const NamedArgs &) override {
    m_calls.push_back(std::string(m));
    throw OleServerError("Принтер «x» не найден");
  }
  std::vector<std::string> &m_calls;
};
}  // namespace

TEST(PrintCommand, SetupFailureStopsBeforePrintOut) {
  std::vector<std::string> calls;
  EXPECT_THROW(
      runPrintCommand(
          {"x", 0, "", false}, [&] { return std::make_shared<Failing>(calls); }, [](const std::string &) {}),
      OleServerError);
  EXPECT_EQ(calls, std::vector<std::string>{"FilePrintSetup"});
}

TEST(PrintCommand, StartedComesOnlyWithCompleteChoicesAndBeforeTheServer) {
  Recorder rec;
  std::vector<std::string> events;
  auto run = [&](const PrintStrip &strip) {
    runPrintCommand(
        strip,
        [&] {
          events.push_back("object");
          return rec.object();
        },
        [&](const std::string &t) { events.push_back(t); }, [&] { events.push_back("started"); });
  };
  run({std::nullopt, 0, "", false});
  run({"Офис 2", -1, "", false});
  EXPECT_EQ(events, (std::vector<std::string>{"Выберите принтер!", "Выберите страницы для печати!"}));
  events.clear();
  run({"Офис 2", 0, "", false});
  EXPECT_EQ(events, (std::vector<std::string>{"started", "object", "object"}));
}

TEST(PrintBusy, OnePrintOutAtATimeAndAlwaysReleased) {
  std::vector<bool> shown;
  PrintBusy busy([&](bool on) { shown.push_back(on); });
  EXPECT_FALSE(busy.busy());
  {
    PrintBusy::Guard first = busy.enter();
    ASSERT_TRUE(first);
    EXPECT_TRUE(busy.busy());
    PrintBusy::Guard second = busy.enter();  // a second click meanwhile
    EXPECT_FALSE(second);
    PrintBusy::Guard moved = std::move(first);  // still one print-out
    EXPECT_TRUE(busy.busy());
  }
  EXPECT_FALSE(busy.busy());
  EXPECT_EQ(shown, (std::vector<bool>{true, false}));

  // An error leaving the print-out still ends the busy state.
  try {
    PrintBusy::Guard g = busy.enter();
    throw OleServerError("Принтер «x» не отвечает");
  } catch (const OleServerError &) {
  }
  EXPECT_FALSE(busy.busy());
  EXPECT_EQ(shown, (std::vector<bool>{true, false, true, false}));
  EXPECT_TRUE(busy.enter());  // and the next click is taken
}
