// SPDX-License-Identifier: GPL-3.0-or-later
// The real window with the real engine under a virtual X server. The engine
// can be started once per process, so every test runs in its own process
// (ctest does that); run the binary with --gtest_filter for one test.
#include <gtest/gtest.h>

#include "harness.h"

namespace quorvel::test {
namespace {

const std::vector<std::string> kPrinters{"Кабинет химии", "HP_LaserJet"};

FormServices services(ResourceTable resources) { return listedPrinters(resources, kPrinters); }

// The width the page is drawn at, against the width of the view it must fill.
void expectFitsWidth(TForm1 &form) {
  LokView *view = form.oleContainer().view();
  ASSERT_NE(view, nullptr);
  const bool fitted = pumpUntil(
      [&] {
        const double pageWidth = view->zoom() * static_cast<double>(view->documentWidthTwips()) / 15.0;
        const int area = form.oleContainer().get_allocated_width();
        return pageWidth > area - 40 && pageWidth <= area;
      },
      5000);
  EXPECT_TRUE(fitted) << "page " << view->zoom() * static_cast<double>(view->documentWidthTwips()) / 15.0
                      << " px in a view " << form.oleContainer().get_allocated_width() << " px wide";
}

TEST(Form, StartsWithTheChartShownAndTheStripAtRest) {
  FormRun run(services(builtInResources()));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();

  EXPECT_EQ(form.get_title(), "Quorvel - автор Vostrel");
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;
  ASSERT_FALSE(form.oleContainer().isEmpty());
  EXPECT_EQ(form.oleContainer().view()->pageCount(), 1);

  // The printer list is filled in the scheduler's order, with nothing chosen.
  Gtk::ComboBoxText &printers = form.ComboBox1();
  EXPECT_EQ(printers.get_active_row_number(), -1);
  ASSERT_EQ(printers.get_model()->children().size(), kPrinters.size());
  for (int i = 0; i < static_cast<int>(kPrinters.size()); ++i) {
    printers.set_active(i);
    EXPECT_EQ(printers.get_active_text(), kPrinters[static_cast<std::size_t>(i)]);
  }
  printers.set_active(-1);

  EXPECT_EQ(form.radioGroupIndex(), -1);
  EXPECT_EQ(form.Edit1().get_text(), "");
  EXPECT_FALSE(form.CheckBox1().get_active());
  // The view sets itself up on an idle of its own, which takes the focus;
  // the keyboard is in the printer list once that has run.
  ASSERT_TRUE(form.oleContainer().view()->initialized());
  EXPECT_TRUE(pumpUntil([&] { return focusIn(form, form.ComboBox1()); }, 5000));

  // The view is there without rulers, fitted to the width.
  EXPECT_TRUE(gtk_widget_get_mapped(form.oleContainer().view()->widget()));
  expectFitsWidth(form);
  EXPECT_TRUE(run.close());
}

TEST(Form, ResizingRefitsTheChartAndKeepsTheStrip) {
  FormRun run(services(builtInResources()));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();
  expectFitsWidth(form);
  Gtk::Widget &strip = *form.ComboBox1().get_parent();
  const int stripHeight = strip.get_allocated_height();
  const int buttonX = form.Button1().get_allocation().get_x();
  const double zoomBefore = form.oleContainer().view()->zoom();

  // The user clicked into the chart, then maximises the window.
  form.oleContainer().setFocus();
  EXPECT_TRUE(form.oleContainer().holdsFocus());
  form.maximize();
  ASSERT_TRUE(pumpUntil([&] { return form.get_width() > 1000; }, 5000)) << form.get_width();
  EXPECT_TRUE(pumpUntil([&] { return focusIn(form, form.ComboBox1()); }, 5000));
  expectFitsWidth(form);
  EXPECT_GT(form.oleContainer().view()->zoom(), zoomBefore);
  EXPECT_EQ(strip.get_allocated_height(), stripHeight);
  EXPECT_EQ(form.Button1().get_allocation().get_x(), buttonX);

  form.unmaximize();
  ASSERT_TRUE(pumpUntil([&] { return form.get_width() < 1000; }, 5000));
  expectFitsWidth(form);
  EXPECT_NEAR(form.oleContainer().view()->zoom(), zoomBefore, 0.01);
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

// Dragging a window edge: sizes follow each other while the view is still
// painting tiles for the one before. Zoom changes then wait for the painting
// to stop; the page must still end up fitted to the last size.
TEST(Form, QuickSuccessiveResizesEndFittedToTheLastSize) {
  FormRun run(services(builtInResources()));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();
  expectFitsWidth(form);
  LokView *view = form.oleContainer().view();
  const double zoomBefore = view->zoom();

  for (int width = 820; width <= 1180; width += 40) {
    form.resize(width, 700);
    pumpUntil([&] { return form.get_width() == width; }, 2000);
    pumpUntil([] { return false; }, 15);
  }
  ASSERT_TRUE(pumpUntil([&] { return form.get_width() == 1180; }, 5000)) << form.get_width();
  expectFitsWidth(form);
  EXPECT_GT(view->zoom(), zoomBefore);
  EXPECT_TRUE(pumpUntil([&] { return !view->zoomPending(); }, 2000));

  // And straight back, with no pause at all.
  form.resize(800, 600);
  form.resize(1000, 650);
  form.resize(860, 600);
  ASSERT_TRUE(pumpUntil([&] { return form.get_width() == 860; }, 5000)) << form.get_width();
  expectFitsWidth(form);
  EXPECT_TRUE(pumpUntil([&] { return !view->zoomPending(); }, 2000));
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;

  // Closed at once after one more, while the view's worker paints the new
  // tiles: the close waits for them (closing the view under its worker could
  // hang for ever), and the test's hang watch would say so.
  form.resize(1100, 700);
  ASSERT_TRUE(pumpUntil([&] { return view->workerBusy(); }, 5000)) << "the view's worker is not counted";
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

// Started minimised (a launcher can ask for that): the window draws no frame
// until it is restored, and the engine, which starts after the window's next
// frame, must start all the same. Shown as the program shows it, placed
// first; restored, it is seen (not left see-through while it waited).
TEST(Form, StartsMinimisedWithTheChartLive) {
  FormRun run(services(builtInResources()));
  TForm1 &form = run.form();
  form.iconify();
  form.showCentred();
  ASSERT_TRUE(pumpUntil([&] { return form.started(); }, 60000));
  form.deiconify();
  EXPECT_TRUE(pumpUntil([&] { return viewableOnServer(form) && !seeThrough(form); }, 5000))
      << "not shown once restored";
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;
  ASSERT_FALSE(form.oleContainer().isEmpty());
  EXPECT_EQ(form.oleContainer().view()->pageCount(), 1);
  EXPECT_TRUE(form.Button1().get_sensitive());
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

TEST(Form, WithoutTheChartEveryResizeReportsTheEmptyContainer) {
  FormRun run(services({}));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();
  // The printer list is still filled; the first appearance is already a resize.
  EXPECT_EQ(form.ComboBox1().get_model()->children().size(), kPrinters.size());
  ASSERT_TRUE(pumpUntil([&] { return !run.boxes().empty(); }, 5000));
  EXPECT_EQ(run.boxes().front().text, "Operation not allowed on an empty OLE container.");
  EXPECT_TRUE(run.boxes().front().error);
  EXPECT_TRUE(pumpUntil([&] { return focusIn(form, form.ComboBox1()); }, 2000));
  EXPECT_TRUE(form.oleContainer().isEmpty());

  run.clearBoxes();
  form.resize(900, 700);
  ASSERT_TRUE(pumpUntil([&] { return !run.boxes().empty(); }, 5000));
  EXPECT_EQ(run.boxes().front().text, "Operation not allowed on an empty OLE container.");
  EXPECT_TRUE(pumpUntil([&] { return focusIn(form, form.ComboBox1()); }, 2000));
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

TEST(Form, CorruptChartBytesGiveTheLoadErrorAndAnEmptyContainer) {
  std::vector<std::uint8_t> junk = readFile(dataFile("markers5.doc"));
  ASSERT_GT(junk.size(), 4096u);
  // Keep the compound-file signature, wreck what follows it.
  for (std::size_t i = 512; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>(i * 7);
  FormRun run(services(chartTable(junk)));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();
  ASSERT_FALSE(run.boxes().empty());
  // Found by the container itself: LibreOffice 26.8 would open it as text.
  EXPECT_EQ(run.boxes().front().text, "Файл составного документа поврежден.");
  EXPECT_TRUE(run.boxes().front().error);
  EXPECT_TRUE(form.oleContainer().isEmpty());
  // Start-up stopped at the error: the printer list stays empty.
  EXPECT_EQ(form.ComboBox1().get_model()->children().size(), 0u);

  // The window goes on working: a resize reports the empty container.
  run.clearBoxes();
  form.resize(900, 700);
  ASSERT_TRUE(pumpUntil([&] { return !run.boxes().empty(); }, 5000));
  EXPECT_EQ(run.boxes().front().text, "Operation not allowed on an empty OLE container.");
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

// What the user sees: the page drawn in the document area, the controls in the strip.
TEST(Form, ScreenShowsThePageAndTheControls) {
  FormRun run(services(builtInResources()));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();
  expectFitsWidth(form);

  auto grab = [&](Gtk::Widget &w) {
    const Gtk::Allocation a = w.get_allocation();
    int x = 0, y = 0;
    w.translate_coordinates(form, 0, 0, x, y);
    return Gdk::Pixbuf::create(form.get_window(), x, y, a.get_width(), a.get_height());
  };
  // Share of pixels that are coloured (the chart's cells) or dark (text, frames).
  auto shares = [](const Glib::RefPtr<Gdk::Pixbuf> &pb) {
    const int n = pb->get_n_channels();
    const guint8 *px = pb->get_pixels();
    long coloured = 0, dark = 0, total = 0;
    for (int y = 0; y < pb->get_height(); ++y)
      for (int x = 0; x < pb->get_width(); ++x) {
        const guint8 *p = px + y * pb->get_rowstride() + x * n;
        const int hi = std::max({p[0], p[1], p[2]}), lo = std::min({p[0], p[1], p[2]});
        coloured += hi - lo > 40;
        dark += hi < 100;
        ++total;
      }
    return std::pair<double, double>(double(coloured) / double(total), double(dark) / double(total));
  };

  // Tiles are drawn in the background: wait for the cells to appear.
  double chartColoured = 0, chartDark = 0;
  pumpUntil(
      [&] {
        std::tie(chartColoured, chartDark) = shares(grab(form.oleContainer()));
        return chartColoured > 0.2;
      },
      20000);
  EXPECT_GT(chartColoured, 0.2) << "the chart area shows no page";
  EXPECT_GT(chartDark, 0.01) << "no text in the chart area";

  const auto [stripColoured, stripDark] = shares(grab(*form.ComboBox1().get_parent()));
  EXPECT_GT(stripDark, 0.005) << "no labels in the control strip";
  EXPECT_LT(stripColoured, 0.05);
  if (const char *out = std::getenv("QUORVEL_SCREENSHOT"))
    Gdk::Pixbuf::create(form.get_window(), 0, 0, form.get_width(), form.get_height())->save(out, "png");
}

}  // namespace
}  // namespace quorvel::test
