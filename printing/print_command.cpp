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
  Variant pages = useList ? Variant(strip.pageList) : Variant::missing();
  Variant range = useList ? Variant(kRangeOfPages) : Variant::missing();
  const std::int32_t pageType = strip.pageItem == 2   ? kPageTypeOdd
                                : strip.pageItem == 3 ? kPageTypeEven
                                                      : kPageTypeAll;
  // Every argument in its order, the missing-argument marker for those not
  // set; all but Copies by reference.
  auto value = [&](std::string_view name) {
    if (name == "Copies") return Variant(std::int32_t{1});
    if (name == "Pages") return pages;
    if (name == "ManualDuplexPrint") return Variant(strip.twoSided);
    if (name == "PageType") return Variant(pageType);
    if (name == "Range") return range;
    return Variant::missing();
  };
  NamedArgs args;
  for (std::string_view name : kPrintOutArgs) args.push_back({std::string(name), value(name), name != "Copies"});
  getObject(automationObject(), {"Application"})->call("PrintOut", args);
}

}  // namespace quorvel
