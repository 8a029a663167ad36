// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/print_command.h"

#include "automation/word_model.h"

namespace quorvel {

void runPrintCommand(const PrintStrip &strip, const std::function<DispatchPtr()> &automationObject,
                     const std::function<void(const std::string &)> &showMessage,
                     const std::function<void()> &started) {
  if (!strip.printer) return showMessage(kChoosePrinter);
  if (strip.pageItem < 0) return showMessage(kChoosePages);
  if (started) started();

  getObject(automationObject(), {"Application", "WordBasic"})
      ->call("FilePrintSetup",
             {{"Printer", Variant(*strip.printer)}, {"DoNotSetAsSysDefault", Variant(std::int32_t{1})}});

  const bool useList = strip.pageItem == 1 && !strip.pageList.empty();
  const Variant pages = useList ? Variant(strip.pageList) : Variant::missing();
  const Variant range = useList ? Variant(kRangeOfPages) : Variant::missing();
  const std::int32_t pageType = strip.pageItem == 2   ? kPageTypeOdd
                                : strip.pageItem == 3 ? kPageTypeEven
                                                      : kPageTypeAll;
  const Variant m = Variant::missing();
  NamedArgs args{{"Copies", Variant(std::int32_t{1}), false},
                 {"Pages", pages, true},
                 {"ManualDuplexPrint", Variant(strip.twoSided), true},
                 {"PageType", Variant(pageType), true},
                 {"Background", m, true},
                 {"Append", m, true},
                 {"Range", range, true}};
  for (const char *name :
       {"OutputFileName", "From", "To", "Item", "PrintToFile", "Collate", "ActivePrinterMacGX",
        "PrintZoomColumn", "PrintZoomRow", "PrintZoomPaperWidth", "PrintZoomPaperHeight"})
    args.push_back({name, m, true});
  getObject(automationObject(), {"Application"})->call("PrintOut", args);
}

}  // namespace quorvel
