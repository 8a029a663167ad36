// SPDX-License-Identifier: GPL-3.0-or-later
#include "automation/word_model.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quorvel {

namespace {

using ServerPtr = std::shared_ptr<DocumentServer>;

class ZoomObject : public TableDispatch {
public:
  explicit ZoomObject(const ServerPtr &s) {
    onSet("PageFit", [s](const Variant &v) { s->setPageFit(v.asInt()); });
  }
};

class ViewObject : public TableDispatch {
public:
  explicit ViewObject(const ServerPtr &s) {
    onGet("Zoom", [s] { return Variant(DispatchPtr(std::make_shared<ZoomObject>(s))); });
  }
};

class PaneObject : public TableDispatch {
public:
  explicit PaneObject(const ServerPtr &s) {
    onSet("DisplayRulers", [s](const Variant &v) { s->setDisplayRulers(v.asBool()); });
    onGet("View", [s] { return Variant(DispatchPtr(std::make_shared<ViewObject>(s))); });
  }
};

class WindowObject : public TableDispatch {
public:
  explicit WindowObject(const ServerPtr &s) {
    onGet("ActivePane", [s] { return Variant(DispatchPtr(std::make_shared<PaneObject>(s))); });
  }
};

class WordBasicObject : public TableDispatch {
public:
  explicit WordBasicObject(const ServerPtr &s) {
    onCall("FilePrintSetup", [s](const NamedArgs &args) {
      const Variant *printer = findArg(args, "Printer");
      if (!printer || printer->isMissing()) throw OleServerError("Не указано имя принтера");
      const Variant *noDefault = findArg(args, "DoNotSetAsSysDefault");
      const bool setDefault = !noDefault || noDefault->isMissing() || !noDefault->asBool();
      s->filePrintSetup(printer->asString(), setDefault);
      return Variant();
    });
  }
};

class ApplicationObject : public TableDispatch {
public:
  explicit ApplicationObject(const ServerPtr &s) {
    onSet("DisplayAlerts", [s](const Variant &v) { s->setDisplayAlerts(v.asBool()); });
    onGet("WordBasic", [s] { return Variant(DispatchPtr(std::make_shared<WordBasicObject>(s))); });
    onCall("PrintOut", [s](const NamedArgs &args) {
      s->printOut(parsePrintOutArgs(args));
      return Variant();
    });
  }
};

class DocumentObject : public TableDispatch {
public:
  explicit DocumentObject(const ServerPtr &s) {
    onGet("ActiveWindow", [s] { return Variant(DispatchPtr(std::make_shared<WindowObject>(s))); });
    onGet("Application", [s] { return Variant(DispatchPtr(std::make_shared<ApplicationObject>(s))); });
  }
};

bool given(const Variant *v) { return v && !v->isMissing() && !v->isEmpty(); }

}  // namespace

DispatchPtr makeDocumentObject(const std::shared_ptr<DocumentServer> &server) {
  return std::make_shared<DocumentObject>(server);
}

PrintOutRequest parsePrintOutArgs(const NamedArgs &args) {

  // Arguments the caller actually supplies beyond these four and the
  // harmless Background/Collate are not something this server can do.
  static constexpr std::array<std::string_view, 9> unsupported{
      "Append",       "OutputFileName",    "From", "To", "Item", "PrintToFile", "PrintZoomColumn",
      "PrintZoomRow", "ActivePrinterMacGX"};
  for (const auto &a : args) {
    auto same = [&](std::string_view k) {
      return std::equal(a.name.begin(), a.name.end(), k.begin(), k.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
      });
    };
    if (std::none_of(kPrintOutArgs.begin(), kPrintOutArgs.end(), same)) throw OleSysError(kParamNotFound);
    if (!a.value.isMissing() && std::any_of(unsupported.begin(), unsupported.end(), same))
      throw OleServerError("Параметр печати " + a.name + " не поддерживается");
  }

  PrintOutRequest r;
  if (const Variant *v = findArg(args, "Copies"); given(v)) r.copies = v->asInt();
  if (r.copies < 1) throw OleServerError("Число копий должно быть не меньше 1");

  std::int32_t range = kRangeAllDocument;
  if (const Variant *v = findArg(args, "Range"); given(v)) range = v->asInt();
  if (range == kRangeOfPages) {
    const Variant *pages = findArg(args, "Pages");
    if (!given(pages)) throw OleServerError("Не указан список страниц для печати");
    r.pages = pages->asString();
  } else if (range != kRangeAllDocument) {
    throw OleServerError("Такой диапазон печати не поддерживается");
  }

  if (const Variant *v = findArg(args, "PageType"); given(v)) r.pageType = v->asInt();
  if (r.pageType < kPageTypeAll || r.pageType > kPageTypeEven)
    throw OleServerError("Неизвестный тип страниц для печати");

  if (const Variant *v = findArg(args, "ManualDuplexPrint"); given(v)) r.manualDuplex = v->asBool();
  return r;
}

}  // namespace quorvel
