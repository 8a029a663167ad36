// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/form_style.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "app/builder_widget.h"
#include "app/font_config.h"
#include "app/font_metrics.h"
#include "document/png_bytes.h"

namespace quorvel {

namespace {

void scaleFixedChildren(Gtk::Fixed &fixed, int num, int den) {
  for (Gtk::Widget *w : fixed.get_children()) {
    int x = fixed.child_property_x(*w);
    int y = fixed.child_property_y(*w);
    int width = 0, height = 0;
    w->get_size_request(width, height);
    const Rect r = scaleRect({x, y, width, height}, num, den);
    fixed.move(*w, r.x, r.y);
    w->set_size_request(width < 0 ? -1 : r.width, height < 0 ? -1 : r.height);
  }
}

void scaleSizeRequest(Gtk::Widget &w, int num, int den) {
  int width = 0, height = 0;
  w.get_size_request(width, height);
  w.set_size_request(width < 0 ? -1 : mulDiv(width, num, den), height < 0 ? -1 : mulDiv(height, num, den));
}

// The theme's bitmaps for the check and radio marks where they are drawn no
// larger than those bitmaps (14 pixels): its vector marks would map an SVG
// renderer, about 6 MB, the first time a mark is shown. Larger marks (high
// resolution screens) keep the vector ones, so that they stay sharp.
std::string markImages(int markPx, int scaleFactor) {
  if (markPx * std::max(1, scaleFactor) > 14) return {};
  auto source = [](const char *name) {
    return std::string(
               "-gtk-icon-source: -gtk-recolor(url(\"resource:///org/gtk/libgtk/theme/Adwaita/assets/") +
           name + ".symbolic.png\")); ";
  };
  return "check:checked { " + source("check-symbolic") + "}\n" +
         "check:indeterminate, radio:indeterminate { " + source("dash-symbolic") + "}\n" +
         "radio:checked { " + source("bullet-symbolic") + "}\n";
}

// Nothing when the file is damaged or lacks the figures.
std::optional<int> fileTextHeight(const MatchedFont &font, int fontPx) {
  try {
    return windowsTextHeight(readWinMetricsFromFile(font.file, font.face), fontPx);
  } catch (const FontFileError &) {
    return std::nullopt;
  }
}

// The text height as the layout means it: the Windows ascent and descent of
// the font fontconfig gives for Tahoma. Pango's own ascent and descent come
// from other tables and differ by a pixel either way, so they are only the
// fallback for a font file without those figures.
FormScale measureTextHeight(Gtk::Window &window, int fontPx) {
  if (const auto font = matchFont("Tahoma", fontPx)) {
    if (const auto height = fileTextHeight(*font, fontPx)) return {*height, font->file};
  }
  Pango::FontDescription font("Tahoma");
  font.set_absolute_size(fontPx * PANGO_SCALE);
  auto metrics = window.create_pango_context()->get_metrics(font);
  return {PANGO_PIXELS(metrics.get_ascent() + metrics.get_descent()), {}};
}

}  // namespace

FormScale styleAndScale(Gtk::Window &window, const Glib::RefPtr<Gtk::Builder> &builder) {
  auto css = Gtk::CssProvider::create();
  css->load_from_resource("/org/quorvel/TForm1.css");
  Gtk::StyleContext::add_provider_for_screen(window.get_screen(), css,
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  const double resolution = window.get_screen()->get_resolution();
  const int dpi = resolution > 0 ? static_cast<int>(std::lround(resolution)) : 96;
  const int fontPx = scaledFontHeight(kFontHeight, dpi);
  FormScale scale = measureTextHeight(window, fontPx);
  const int num = scale.textHeight > 0 ? scale.textHeight : kStoredTextHeight, den = kStoredTextHeight;

  // The font, and the pieces of the controls that are drawn at a fixed size
  // (radio and check marks with their outline, the gaps beside them): they
  // scale with the rest. A mark is 13 pixels outline included at 96 dpi.
  auto px = [&](int v) { return std::to_string(mulDiv(v, num, den)) + "px"; };
  const int outline = std::max(1, mulDiv(1, num, den));
  const std::string inner = std::to_string(mulDiv(13, num, den) - 2 * outline) + "px";
  auto fontCss = Gtk::CssProvider::create();
  fontCss->load_from_data("* { font-family: Tahoma; font-size: " + std::to_string(fontPx) +
                          "px; font-weight: normal; }\n"
                          "radio, check { min-height: " +
                          inner + "; min-width: " + inner + "; border-width: " + std::to_string(outline) +
                          "px; margin: 0 " + px(4) +
                          " 0 0; }\n"
                          "button, combobox button, entry { padding-left: " +
                          px(4) + "; padding-right: " + px(4) + "; }\n" +
                          markImages(mulDiv(13, num, den) - 2 * outline, window.get_scale_factor()));
  Gtk::StyleContext::add_provider_for_screen(window.get_screen(), fontCss,
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);

  // A substitute font may be wider than Tahoma: its text is cut short with an
  // ellipsis instead of pushing the control past its place onto the next one.
  builderWidget<Gtk::Label>(builder, "Label1")->set_ellipsize(Pango::ELLIPSIZE_END);
  for (const char *name : {"RadioGroup1Item0", "RadioGroup1Item1", "RadioGroup1Item2", "RadioGroup1Item3",
                           "CheckBox1", "Button1"})
    if (auto *label = dynamic_cast<Gtk::Label *>(builderWidget<Gtk::Bin>(builder, name)->get_child()))
      label->set_ellipsize(Pango::ELLIPSIZE_END);

  if (num != den) {
    scaleFixedChildren(*builderWidget<Gtk::Fixed>(builder, "Panel2Body"), num, den);
    scaleFixedChildren(*builderWidget<Gtk::Fixed>(builder, "RadioGroup1Body"), num, den);
    scaleSizeRequest(*builderWidget<Gtk::Widget>(builder, "Panel2Area"), num, den);
  }
  const ClientSize client = scaledClientSize(scale.textHeight);
  window.set_default_size(client.width, client.height);
  return scale;
}

void setWindowIcon(Gtk::Window &window) {
  // PNGs drawn from the SVG icon at build time: read by cairo, so that no
  // image loader (librsvg among them) is mapped into the process for it.
  std::vector<Glib::RefPtr<Gdk::Pixbuf>> icons;
  for (const char *size : {"32", "64", "128"}) {
    GBytes *bytes = g_resources_lookup_data((std::string("/org/quorvel/quorvel-") + size + ".png").c_str(),
                                            G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    if (!bytes) continue;
    const CairoSurface surface = surfaceFromPng(
        {static_cast<const std::uint8_t *>(g_bytes_get_data(bytes, nullptr)), g_bytes_get_size(bytes)});
    if (surface)
      if (GdkPixbuf *pb =
              gdk_pixbuf_get_from_surface(surface.get(), 0, 0, cairo_image_surface_get_width(surface.get()),
                                          cairo_image_surface_get_height(surface.get())))
        icons.push_back(Glib::wrap(pb));
    g_bytes_unref(bytes);
  }
  if (!icons.empty()) window.set_icon_list(icons);
}

}  // namespace quorvel
