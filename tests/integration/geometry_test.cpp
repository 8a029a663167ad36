// SPDX-License-Identifier: GPL-3.0-or-later
// The window as its layout table declares it: client area and every control's
// rectangle, read from GTK's allocations, at the display's resolution.
// tools/test.sh's display is 96 dpi; own-display.sh runs the same tests on a
// display of its own at 144 or 192 dpi, or with GDK_SCALE=2.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string_view>

#include "app/font_metrics.h"
#include "app/shell_rules.h"
#include "harness.h"

namespace quorvel::test {
namespace {

FormServices noPrinters(ResourceTable resources) { return listedPrinters(resources, {"Кабинет химии"}); }

// The resolution the display was set up with (own-display.sh says), 96 otherwise.
int expectedDpi() {
  const char *dpi = std::getenv("QUORVEL_TEST_DPI");
  return dpi ? std::atoi(dpi) : 96;
}

// Text height and client area at each resolution with Wine's Tahoma
// (2049 + 423 of 2048 units to the em): 11, 17 and 22 pixels.
struct Expected {
  int dpi, textHeight, width, height;
};
constexpr Expected kTahoma[] = {{96, 13, 726, 520}, {144, 21, 1173, 840}, {192, 27, 1508, 1080}};

Gdk::Rectangle rectIn(Gtk::Window &form, Gtk::Widget &w) {
  int x = 0, y = 0;
  w.translate_coordinates(form, 0, 0, x, y);
  return {x, y, w.get_allocated_width(), w.get_allocated_height()};
}

std::string show(const Gdk::Rectangle &r) {
  return std::to_string(r.get_x()) + "," + std::to_string(r.get_y()) + " " + std::to_string(r.get_width()) +
         "x" + std::to_string(r.get_height());
}

Gtk::Widget &widget(TForm1 &form, const char *name) {
  Gtk::Widget *w = form.control(name);
  if (!w) throw std::runtime_error(std::string("no control ") + name);
  return *w;
}

// Every control against the table, scaled by textHeight / 13. Controls of
// the strip count from Panel2, which sits inside Panel1's one-pixel bevel;
// the radio items count from the group.
// `labelSlack`: how much taller than 13 one line of a substitute font may be.
void expectTablePositions(TForm1 &form, int th, int labelSlack = 0) {
  auto s = [&](int v) { return mulDiv(v, th, kStoredTextHeight); };
  const ClientSize client = scaledClientSize(th);
  const int strip = s(144);
  struct Row {
    const char *name;
    Gdk::Rectangle rect;
  };
  auto inStrip = [&](int x, int y, int w, int h) { return Gdk::Rectangle(1 + s(x), 1 + s(y), s(w), s(h)); };
  auto inGroup = [&](int x, int y, int w, int h) {
    return Gdk::Rectangle(1 + s(8) + s(x), 1 + s(32) + s(y), s(w), s(h));
  };
  const Row rows[] = {
      {"Panel1", {0, 0, client.width, client.height}},
      {"Panel2", {1, 1, client.width - 2, strip}},
      {"Label1", inStrip(8, 8, 102, 13)},
      {"ComboBox1", inStrip(116, 5, 221, 21)},
      {"RadioGroup1", inStrip(8, 32, 169, 105)},
      {"RadioGroup1Item0", inGroup(8, 15, 155, 21)},
      {"RadioGroup1Item1", inGroup(8, 36, 60, 21)},
      {"RadioGroup1Item2", inGroup(8, 57, 155, 21)},
      {"RadioGroup1Item3", inGroup(8, 78, 155, 21)},
      {"Edit1", inStrip(76, 70, 85, 21)},
      {"CheckBox1", inStrip(200, 40, 145, 17)},
      {"Button1", inStrip(200, 113, 497, 25)},
      {"Panel3", {1, 1 + strip, client.width - 2, client.height - 2 - strip}},
      {"OleContainer", {2, 2 + strip, client.width - 4, client.height - 4 - strip}},
  };
  for (const Row &row : rows) {
    const Gdk::Rectangle got = rectIn(form, widget(form, row.name));
    const int slack = std::string_view(row.name) == "Label1" ? labelSlack : 0;
    EXPECT_TRUE(got.get_x() == row.rect.get_x() && got.get_y() == row.rect.get_y() &&
                got.get_width() == row.rect.get_width() && got.get_height() >= row.rect.get_height() &&
                got.get_height() <= row.rect.get_height() + slack)
        << row.name << ": " << show(got) << ", table says " << show(row.rect) << " (text height " << th
        << ")";
  }
}

// For a person to look at: QUORVEL_SCREENSHOT=file.png.
void saveScreenshot(TForm1 &form) {
  if (const char *out = std::getenv("QUORVEL_SCREENSHOT"))
    Gdk::Pixbuf::create(form.get_window(), 0, 0, form.get_width(), form.get_height())->save(out, "png");
}

// The parts of a control GTK draws inside it (mark, whole text, entry frame)
// must fit in the control: no text cut short, nothing spilling onto a
// neighbour. Texts are cut with an ellipsis rather than overflow, so the
// whole text's width is the control's natural width.
void expectInsides(TForm1 &form, const char *name) {
  Gtk::Widget &w = widget(form, name);
  int width = 0, height = 0;
  w.get_size_request(width, height);
  w.set_size_request(-1, -1);
  int minW = 0, natW = 0, minH = 0, natH = 0;
  w.get_preferred_width(minW, natW);
  w.get_preferred_height(minH, natH);
  EXPECT_LE(natW, w.get_allocated_width()) << name << " needs more width than it has";
  EXPECT_LE(natH, w.get_allocated_height()) << name << " needs more height than it has";
  w.set_size_request(width, height);
}

TEST(Geometry, ClientAndEveryControlAsTheTableSays) {
  FormRun run(noPrinters(builtInResources()));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();
  const int dpi = expectedDpi();
  ASSERT_EQ(static_cast<int>(form.get_screen()->get_resolution() + 0.5), dpi);

  // Wine's Tahoma is there (the setup installs it) and is the font measured.
  EXPECT_EQ(form.fontFile(), "/usr/share/wine/fonts/tahoma.ttf");
  const Expected *e = nullptr;
  for (const Expected &x : kTahoma)
    if (x.dpi == dpi) e = &x;
  ASSERT_NE(e, nullptr) << "no figures for " << dpi << " dpi";
  EXPECT_EQ(form.textHeight(), e->textHeight);

  // The client area, as the X server has it.
  ASSERT_TRUE(pumpUntil([&] { return form.get_window() && form.get_window()->is_viewable(); }, 5000));
  pumpFor(200);
  EXPECT_EQ(form.get_window()->get_width(), e->width);
  EXPECT_EQ(form.get_window()->get_height(), e->height);
  expectTablePositions(form, e->textHeight);
  for (const char *name : {"Label1", "ComboBox1", "RadioGroup1Item0", "RadioGroup1Item1", "RadioGroup1Item2",
                           "RadioGroup1Item3", "Edit1", "CheckBox1", "Button1"})
    expectInsides(form, name);
  // Let the chart settle before the window goes: the engine is still drawing.
  LokView *view = form.oleContainer().view();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(pumpUntil([&] { return !view->zoomPending(); }, 10000));
  pumpFor(1000);
  saveScreenshot(form);
}

// Without Tahoma the font fontconfig gives instead is measured by the same
// rule: on Debian that is DejaVu Sans, whose text height at 11 px is also 13.
// Its letters are wider: texts that do not fit are cut short, the controls
// keep their places. Only the label's line may be a pixel taller (Pango
// gives DejaVu a 14-pixel line).
TEST(Geometry, WithoutTahomaTheSubstituteIsMeasured) {
  if (expectedDpi() != 96) GTEST_SKIP() << "figures for 96 dpi";
  FormServices s = noPrinters({});
  s.fontFiles.clear();
  FormRun run(std::move(s));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();
  EXPECT_EQ(form.fontFile(), "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
  EXPECT_EQ(form.textHeight(), 13);
  ASSERT_TRUE(pumpUntil([&] { return form.get_window() && form.get_window()->is_viewable(); }, 5000));
  pumpFor(200);
  EXPECT_EQ(form.get_window()->get_width(), 726);
  EXPECT_EQ(form.get_window()->get_height(), 520);
  expectTablePositions(form, 13, 1);
  // DejaVu's "Выберите принтер: " needs more than the label's 102 pixels: it
  // is the one cut short (and the check above would see it).
  EXPECT_NONFATAL_FAILURE(expectInsides(form, "Label1"), "Label1 needs more width");
  saveScreenshot(form);
}

// The marks of radio and check buttons, and the gap after them, grow with
// the text: at 96 dpi 13 + 4 pixels, at 144 dpi 21 + 6.
TEST(Geometry, MarksScaleWithTheText) {
  FormRun run(noPrinters({}));
  ASSERT_TRUE(run.showAndStart());
  TForm1 &form = run.form();
  const int th = form.textHeight();
  for (const char *name : {"RadioGroup1Item0", "CheckBox1"}) {
    auto *button = dynamic_cast<Gtk::ToggleButton *>(&widget(form, name));
    ASSERT_NE(button, nullptr);
    // Without its label and the table's size the button needs just the mark and the gap.
    button->remove();
    button->set_size_request(-1, -1);
    int minW = 0, natW = 0, minH = 0, natH = 0;
    button->get_preferred_width(minW, natW);
    button->get_preferred_height(minH, natH);
    EXPECT_EQ(minH, mulDiv(13, th, kStoredTextHeight)) << name;
    EXPECT_EQ(minW, mulDiv(13, th, kStoredTextHeight) + mulDiv(4, th, kStoredTextHeight)) << name;
  }
}

// Placed by the rule before the window is first seen: the position asked for
// is the one the frame has from its mapping on, with no move after. Openbox
// tells its frame before mapping; with no frames it says so with zeros, and
// the window is then shown as it is mapped all the same.
TEST(Geometry, PlacedBeforeTheFirstFrame) {
  FormRun run(noPrinters({}));
  TForm1 &form = run.form();
  // Once the program has handled its mapping, it is to be seen.
  std::optional<bool> seeThroughWhenMapped;
  form.signal_map_event().connect(
      [&](GdkEventAny *) {
        if (!seeThroughWhenMapped) seeThroughWhenMapped = seeThrough(form);
        return false;
      },
      false);
  form.showCentred();
  std::vector<Point> seen;
  auto look = [&] {
    auto window = form.get_window();
    if (!window || !viewableOnServer(form) || seeThrough(form)) return false;
    Gdk::Rectangle frame;
    window->get_frame_extents(frame);
    const Point p{frame.get_x(), frame.get_y()};
    if (seen.empty() || !(seen.back() == p)) seen.push_back(p);
    return false;
  };
  ASSERT_TRUE(pumpUntil([&] { return look() || form.started(); }, 30000));
  ASSERT_TRUE(pumpUntil([&] { return look() || viewableOnServer(form); }, 5000));
  pumpUntil(look, 300);
  ASSERT_TRUE(form.requestedPosition().has_value()) << "not placed before mapping";
  ASSERT_TRUE(seeThroughWhenMapped.has_value());
  EXPECT_FALSE(*seeThroughWhenMapped) << "kept see-through, though the window manager told its frame";
  std::string positions;
  for (const Point &p : seen) positions += " " + std::to_string(p.x) + "," + std::to_string(p.y);
  ASSERT_EQ(seen.size(), 1u) << "moved after it was first seen:" << positions;

  Gdk::Rectangle frame;
  form.get_window()->get_frame_extents(frame);
  Gdk::Rectangle work;
  form.get_display()->get_primary_monitor()->get_workarea(work);
  const Point rule =
      centredPosition(work.get_width(), work.get_height(), frame.get_width(), frame.get_height());
  EXPECT_EQ(*form.requestedPosition(), rule) << "frame " << frame.get_width() << "x" << frame.get_height();
  EXPECT_EQ(frame.get_x(), rule.x);
  EXPECT_EQ(frame.get_y(), rule.y);
  EXPECT_EQ(seen.front(), rule);
}

}  // namespace
}  // namespace quorvel::test
