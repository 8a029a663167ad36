// SPDX-License-Identifier: GPL-3.0-or-later
// The chart's picture, shown from the first frame until the engine is live,
// and the hand-over to the live view. Real window, real engine, real input
// through the X server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "document/view_geometry.h"
#include "harness.h"
#include "xinput.h"

namespace quorvel::test {
namespace {

FormServices services(ResourceTable resources) { return listedPrinters(resources, {"A"}); }

Glib::RefPtr<Gdk::Pixbuf> grabArea(TForm1 &form) {
  Gtk::Widget &area = form.oleContainer().area();
  int x = 0, y = 0;
  area.translate_coordinates(form, 0, 0, x, y);
  return Gdk::Pixbuf::create(form.get_window(), x, y, area.get_allocated_width(),
                             area.get_allocated_height());
}

struct Difference {
  long pixels = 0;
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};

struct Rect {
  int left = 0, top = 0, right = 1 << 30, bottom = 1 << 30;
};

Difference compare(const Glib::RefPtr<Gdk::Pixbuf> &a, const Glib::RefPtr<Gdk::Pixbuf> &b, Rect within = {}) {
  Difference d;
  EXPECT_EQ(a->get_width(), b->get_width());
  EXPECT_EQ(a->get_height(), b->get_height());
  const int w = std::min({a->get_width(), b->get_width(), within.right + 1}),
            h = std::min({a->get_height(), b->get_height(), within.bottom + 1});
  for (int y = within.top; y < h; ++y)
    for (int x = within.left; x < w; ++x) {
      const guint8 *p = a->get_pixels() + y * a->get_rowstride() + x * a->get_n_channels();
      const guint8 *q = b->get_pixels() + y * b->get_rowstride() + x * b->get_n_channels();
      if (std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]) > 6) {
        ++d.pixels;
        d.left = std::min(d.left, x), d.right = std::max(d.right, x);
        d.top = std::min(d.top, y), d.bottom = std::max(d.bottom, y);
      }
    }
  return d;
}

// The live view shows a text cursor where the picture has none while the
// chart has the keyboard: a small patch, nothing else.
void expectSameButTheCursor(const Glib::RefPtr<Gdk::Pixbuf> &picture, const Glib::RefPtr<Gdk::Pixbuf> &live,
                            const char *when) {
  const Difference d = compare(picture, live);
  EXPECT_LE(d.pixels, 600) << when << ": " << d.pixels << " pixels differ in x " << d.left << "-" << d.right
                           << ", y " << d.top << "-" << d.bottom;
  if (d.pixels > 0) {
    EXPECT_LE(d.right - d.left, 40) << when;
    EXPECT_LE(d.bottom - d.top, 60) << when;
  }
}

// The paper of the page, less its outermost pixels: the white pixels' box
// shrunk by 2. While the view's first tiles are drawn over the picture, the
// page's outline and shadow (half transparent in a tile) are drawn over the
// picture's own and come out a shade darker until the picture goes.
Rect pageInterior(const Glib::RefPtr<Gdk::Pixbuf> &shot) {
  Rect r{1 << 30, 1 << 30, -1, -1};
  for (int y = 0; y < shot->get_height(); ++y)
    for (int x = 0; x < shot->get_width(); ++x) {
      const guint8 *p = shot->get_pixels() + y * shot->get_rowstride() + x * shot->get_n_channels();
      if (p[0] == 255 && p[1] == 255 && p[2] == 255) {
        r.left = std::min(r.left, x), r.right = std::max(r.right, x);
        r.top = std::min(r.top, y), r.bottom = std::max(r.bottom, y);
      }
    }
  return Rect{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
}

// Shows the window and waits for the picture's first frame.
void showPicture(FormRun &run) {
  run->show();
  ASSERT_TRUE(pumpUntil(
      [&] { return run->get_mapped() && run->oleContainer().area().get_allocated_width() > 1; }, 10000));
  pumpFor(100);
}

TEST(Picture, ShownAtOnceAndReplacedAtTheSameZoomAndPlace) {
  FormRun run(services(builtInResources()));
  showPicture(run);
  TForm1 &form = run.form();
  OleContainer &box = form.oleContainer();
  ASSERT_TRUE(box.showsPicture()) << "the engine was live before the picture was seen";
  EXPECT_TRUE(box.isEmpty());
  const auto picture = grabArea(form);
  auto *scroll = dynamic_cast<Gtk::ScrolledWindow *>(&box.area());
  ASSERT_NE(scroll, nullptr);
  const double scrollBefore = scroll->get_vadjustment()->get_value();

  // The chart's cells are on screen before the engine runs.
  long coloured = 0;
  for (int y = 0; y < picture->get_height(); ++y)
    for (int x = 0; x < picture->get_width(); ++x) {
      const guint8 *p = picture->get_pixels() + y * picture->get_rowstride() + x * picture->get_n_channels();
      coloured += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 40;
    }
  EXPECT_GT(coloured, picture->get_width() * picture->get_height() / 5);

  // Live: the view at the zoom that fits the area, where the picture was,
  // first over the picture (its tiles are still being painted), then alone.
  ASSERT_TRUE(pumpUntil([&] { return form.started(); }, 60000));
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;
  EXPECT_FALSE(box.showsPicture());
  LokView *view = box.view();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(static_cast<float>(view->zoom()),
            fitZoom(box.area().get_allocated_width(), view->documentWidthTwips()));
  pumpFor(30);
  const Rect paper = pageInterior(picture);
  ASSERT_GT(paper.right - paper.left, picture->get_width() / 2);
  {
    // The cursor, and a few pixels where a tile's edge cuts through a
    // letter (drawn over the picture's own, as the outline is). A page out
    // of place by one pixel differs in thousands, along every line of text.
    const Difference d = compare(picture, grabArea(form), paper);
    EXPECT_LE(d.pixels, 600) << "right after the hand-over: " << d.pixels << " pixels differ in x " << d.left
                             << "-" << d.right << ", y " << d.top << "-" << d.bottom;
  }
  ASSERT_TRUE(
      pumpUntil([&] { return LokView::tilesPainted() > 0 && LokView::paintingQuietFor(300000); }, 20000));
  pumpFor(300);
  expectSameButTheCursor(picture, grabArea(form), "with the view's own tiles");
  EXPECT_EQ(scroll->get_vadjustment()->get_value(), scrollBefore);
  EXPECT_FALSE(view->zoomPending()) << "the page was refitted after the hand-over";
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

TEST(Picture, ResizedBeforeTheEngineRunsTheViewTakesThePicturesFit) {
  FormRun run(services(builtInResources()));
  showPicture(run);
  TForm1 &form = run.form();
  ASSERT_TRUE(form.oleContainer().showsPicture());
  form.resize(1100, 760);
  ASSERT_TRUE(pumpUntil([&] { return form.get_width() == 1100; }, 5000));
  ASSERT_TRUE(form.oleContainer().showsPicture()) << "the engine was live before the resize";
  ASSERT_TRUE(pumpUntil([&] { return form.started(); }, 60000));
  LokView *view = form.oleContainer().view();
  ASSERT_NE(view, nullptr);
  const float fitted = fitZoom(form.oleContainer().area().get_allocated_width(), view->documentWidthTwips());
  EXPECT_EQ(static_cast<float>(view->zoom()), fitted);
  pumpFor(200);
  EXPECT_FALSE(view->zoomPending());
  EXPECT_TRUE(run.close());
}

TEST(Picture, OnlyForTheDocumentItWasMadeOf) {
  const std::vector<std::uint8_t> other = readFile(dataFile("markers5.doc"));
  // The built-in picture beside another document.
  std::vector<Resource> table{
      {"p1", other}, {kPresentationResource, *findResource(builtInResources(), kPresentationResource)}};
  FormRun run(services(table));
  showPicture(run);
  EXPECT_FALSE(run->oleContainer().showsPicture());
  ASSERT_TRUE(pumpUntil([&] { return run->started(); }, 60000));
  EXPECT_FALSE(run->oleContainer().isEmpty());
  EXPECT_TRUE(run.close());
}

// Words of a PDF's text layer.
std::vector<std::string> pdfWords(const std::filesystem::path &pdf) {
  gchar *out = nullptr;
  std::string cmd = "pdftotext -layout " + pdf.string() + " -";
  std::vector<std::string> words;
  if (g_spawn_command_line_sync(cmd.c_str(), &out, nullptr, nullptr, nullptr) && out) {
    std::istringstream in(out);
    for (std::string w; in >> w;) words.push_back(w);
  }
  g_free(out);
  return words;
}

// The hydrogen cell: the first run of its colour (#b8d4f3) in the picture,
// in window coordinates.
bool findHydrogen(TForm1 &form, int &x, int &y) {
  const auto shot = grabArea(form);
  for (int py = 0; py < shot->get_height(); ++py)
    for (int px = 0; px < shot->get_width(); ++px) {
      const guint8 *p = shot->get_pixels() + py * shot->get_rowstride() + px * shot->get_n_channels();
      if (std::abs(p[0] - 0xb8) <= 3 && std::abs(p[1] - 0xd4) <= 3 && std::abs(p[2] - 0xf3) <= 3) {
        int ax = 0, ay = 0;
        form.oleContainer().area().translate_coordinates(form, 0, 0, ax, ay);
        // The cell's top left corner: its middle is a little further on.
        x = ax + px + 15;
        y = ay + py + 18;
        return true;
      }
    }
  return false;
}

TEST(Picture, AClickAndKeysIntoThePictureReachTheDocumentOnceLive) {
  FormRun run(services(builtInResources()));
  showPicture(run);
  TForm1 &form = run.form();
  int x = 0, y = 0;
  ASSERT_TRUE(findHydrogen(form, x, y));
  ASSERT_TRUE(form.oleContainer().showsPicture());

  // Real input through the X server (as a mouse and keyboard would send it):
  // a click into the hydrogen cell, then a word.
  int rootX = 0, rootY = 0;
  form.get_window()->get_origin(rootX, rootY);
  xClick(rootX + x, rootY + y);
  // The window manager passes the click on after it has looked at it, while
  // keys go straight to the window: type once the click has arrived, as a
  // person does.
  ASSERT_TRUE(pumpUntil([&] { return form.oleContainer().holdsFocus(); }, 5000))
      << "the click did not put the focus into the document";
  ASSERT_TRUE(form.oleContainer().showsPicture()) << "the engine was live before the click";
  xTypeCapitals("QZX");
  pumpFor(100);
  ASSERT_TRUE(form.oleContainer().showsPicture()) << "the engine was live before the input";

  ASSERT_TRUE(pumpUntil([&] { return form.started(); }, 60000));
  // The user is typing into the chart: start-up leaves the keyboard there.
  EXPECT_TRUE(
      pumpUntil([&] { return focusIn(form, *Glib::wrap(form.oleContainer().view()->widget())); }, 5000));

  // The word went into the cell that was clicked, not to the start of the document.
  const std::filesystem::path scratch = run.root() / "pdf";
  std::filesystem::create_directories(scratch);
  std::vector<std::string> words;
  ASSERT_TRUE(pumpUntil(
      [&] {
        const auto bytes = form.oleContainer().view()->exportPdf("1", scratch);
        std::ofstream(scratch / "out.pdf", std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        words = pdfWords(scratch / "out.pdf");
        return std::any_of(words.begin(), words.end(),
                           [](auto &w) { return w.find("QZX") != std::string::npos; });
      },
      10000))
      << "the typed word never reached the document";
  const auto word =
      *std::find_if(words.begin(), words.end(), [](auto &w) { return w.find("QZX") != std::string::npos; });
  EXPECT_TRUE(word == "HQZX" || word == "QZXH" || word.find("Водород") != std::string::npos ||
              word.find("1,008") != std::string::npos)
      << "typed into \"" << word << "\"";
  EXPECT_EQ(
      std::count_if(words.begin(), words.end(), [](auto &w) { return w.find("QZX") != std::string::npos; }),
      1);
  std::filesystem::remove_all(scratch);
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

// Where the text cursor is, in the document area's pixels, and the place of
// the view's touch handle: as high as the cursor, right under it, centred.
struct CaretPlaces {
  Rect caret, handle;
};
CaretPlaces caretPlaces(TForm1 &form) {
  LokView *view = form.oleContainer().view();
  const PixelBox b = view->caret();
  int x = 0, y = 0;
  Glib::wrap(view->widget())->translate_coordinates(form.oleContainer().area(), 0, 0, x, y);
  const int left = x + static_cast<int>(b.x), top = y + static_cast<int>(b.y);
  const int right = left + static_cast<int>(b.width) + 1, bottom = top + static_cast<int>(b.height) + 1;
  const int h = static_cast<int>(b.height);
  return {Rect{left - 1, top - 1, right + 1, bottom}, Rect{left - h, bottom + 1, right + h, bottom + h + 2}};
}

// Pixels that differ from the picture in `where`, in each of the screens of
// the next 1.5 s (the cursor blinks at 0.6 s), at most.
long mostDiffering(TForm1 &form, const Glib::RefPtr<Gdk::Pixbuf> &picture, Rect where,
                   long *fewest = nullptr) {
  long most = 0, least = 1L << 30;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (std::chrono::steady_clock::now() < until) {
    const long n = compare(picture, grabArea(form), where).pixels;
    most = std::max(most, n), least = std::min(least, n);
    pumpFor(60);
  }
  if (fewest) *fewest = least;
  return most;
}

// Writer shows its text cursor only while the document has the keyboard, and
// never a touch handle; the engine's own view draws both (the cursor also
// while the printer list has the keyboard).
TEST(Picture, TheTextCursorOnlyWithTheKeyboardAndNeverAHandle) {
  FormRun run(services(builtInResources()));
  showPicture(run);
  TForm1 &form = run.form();
  ASSERT_TRUE(form.oleContainer().showsPicture());
  const auto picture = grabArea(form);
  ASSERT_TRUE(pumpUntil([&] { return form.started(); }, 60000));
  ASSERT_TRUE(
      pumpUntil([&] { return LokView::tilesPainted() > 0 && LokView::paintingQuietFor(300000); }, 20000));
  ASSERT_TRUE(pumpUntil([&] { return focusIn(form, form.ComboBox1()); }, 5000));
  LokView *view = form.oleContainer().view();
  // The engine has its cursor before the title.
  ASSERT_TRUE(pumpUntil([&] { return !view->caret().empty(); }, 5000)) << "the engine reports no cursor";
  CaretPlaces at = caretPlaces(form);
  EXPECT_EQ(mostDiffering(form, picture, at.caret), 0) << "a cursor while the printer list has the keyboard";
  EXPECT_EQ(mostDiffering(form, picture, at.handle), 0) << "a handle under the cursor";

  // A click into the hydrogen cell: the cursor is there, blinking, and no handle.
  int x = 0, y = 0, rootX = 0, rootY = 0;
  ASSERT_TRUE(findHydrogen(form, x, y));
  form.get_window()->get_origin(rootX, rootY);
  const PixelBox before = view->caret();
  xClick(rootX + x, rootY + y);
  ASSERT_TRUE(
      pumpUntil([&] { return form.oleContainer().holdsFocus() && view->caret().y != before.y; }, 5000))
      << "the click did not move the cursor";
  at = caretPlaces(form);
  long fewest = 0;
  const long most = mostDiffering(form, picture, at.caret, &fewest);
  EXPECT_GE(most, 10) << "no cursor after a click into the chart";
  EXPECT_EQ(fewest, 0) << "the cursor does not blink";
  EXPECT_EQ(mostDiffering(form, picture, at.handle), 0) << "a handle under the cursor";

  // The keyboard back in the printer list, then Tab into the chart from the print button.
  form.ComboBox1().grab_focus();
  EXPECT_EQ(mostDiffering(form, picture, at.caret), 0) << "a cursor while the printer list has the keyboard";
  form.Button1().grab_focus();
  xPressKey("Tab");
  ASSERT_TRUE(pumpUntil([&] { return form.oleContainer().holdsFocus(); }, 5000))
      << "Tab did not reach the chart";
  EXPECT_GE(mostDiffering(form, picture, at.caret), 10) << "no cursor after Tab into the chart";
  EXPECT_EQ(mostDiffering(form, picture, at.handle), 0) << "a handle under the cursor";
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

TEST(Picture, PrintingWaitsForTheLiveDocument) {
  FormRun run(services(builtInResources()));
  showPicture(run);
  TForm1 &form = run.form();
  ASSERT_TRUE(form.oleContainer().showsPicture());
  EXPECT_FALSE(form.Button1().get_sensitive());
  // Even a click that reaches the handler does nothing: no message, no job.
  form.Button1().clicked();
  pumpFor(50);
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;

  ASSERT_TRUE(pumpUntil([&] { return form.started(); }, 60000));
  EXPECT_TRUE(form.Button1().get_sensitive());
  form.Button1().clicked();
  ASSERT_EQ(run.boxes().size(), 1u);
  EXPECT_EQ(run.boxes()[0].text, "Выберите принтер!");
  EXPECT_TRUE(run.close());
}

}  // namespace
}  // namespace quorvel::test
