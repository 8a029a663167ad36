// SPDX-License-Identifier: GPL-3.0-or-later
// Build step: has LibreOffice render the chart's page as the program's view
// will draw it, for each given width of the document area, and writes the
// pictures with the document's fingerprint (see document/presentation.h).
//
//   render_presentation PROGRAM_DIR DOCUMENT OUTPUT AREA_WIDTH...
//
// The engine runs headless, with a profile and temporary folder of its own
// next to OUTPUT, removed again at the end.
#define LOK_USE_UNSTABLE_API
#include <LibreOfficeKit/LibreOfficeKit.h>
#include <LibreOfficeKit/LibreOfficeKitInit.h>
#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "document/engine_profile.h"
#include "document/lok_view.h"
#include "document/presentation.h"
#include "document/view_geometry.h"

namespace fs = std::filesystem;
using namespace quorvel;

namespace {

std::vector<std::uint8_t> readAll(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + p.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Surface {
  cairo_surface_t *s;
  explicit Surface(cairo_surface_t *surface) : s(surface) {
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cairo surface");
  }
  ~Surface() { cairo_surface_destroy(s); }
  Surface(const Surface &) = delete;
  Surface &operator=(const Surface &) = delete;
};

// The page at `zoom`, composed from tiles exactly as the view composes it.
std::vector<std::uint8_t> renderPng(LibreOfficeKitDocument *doc, long docW, long docH, float zoom,
                                    PixelSize size) {
  Surface page(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(size.width),
                                          static_cast<int>(size.height)));
  cairo_t *cr = cairo_create(page.s);
  const std::vector<TilePlace> tiles = viewTiles(docW, docH, zoom);
  if (doc->pClass->setClientZoom && !tiles.empty())
    doc->pClass->setClientZoom(doc, kTileSize, kTileSize, tiles[0].twipSize, tiles[0].twipSize);
  for (const TilePlace &t : tiles) {
    Surface tile(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kTileSize, kTileSize));
    cairo_surface_flush(tile.s);
    doc->pClass->paintTile(doc, cairo_image_surface_get_data(tile.s), kTileSize, kTileSize, t.twipX, t.twipY,
                           t.twipSize, t.twipSize);
    cairo_surface_mark_dirty(tile.s);
    cairo_set_source_surface(cr, tile.s, t.pixelX, t.pixelY);
    cairo_paint(cr);
  }
  cairo_destroy(cr);
  std::vector<std::uint8_t> png;
  auto write = [](void *out, const unsigned char *data, unsigned int n) {
    auto *v = static_cast<std::vector<std::uint8_t> *>(out);
    v->insert(v->end(), data, data + n);
    return CAIRO_STATUS_SUCCESS;
  };
  if (cairo_surface_write_to_png_stream(page.s, write, &png) != CAIRO_STATUS_SUCCESS)
    throw std::runtime_error("cannot encode the picture");
  return png;
}

std::string fileUrl(const fs::path &p) { return "file://" + fs::absolute(p).lexically_normal().string(); }

// Runs `f` when the scope ends, however it ends.
template <typename F>
class AtEnd {
public:
  explicit AtEnd(F f) : m_f(std::move(f)) {}
  ~AtEnd() { m_f(); }
  AtEnd(const AtEnd &) = delete;
  AtEnd &operator=(const AtEnd &) = delete;
  AtEnd(AtEnd &&) = delete;
  AtEnd &operator=(AtEnd &&) = delete;

private:
  F m_f;
};

int run(int argc, char **argv) {
  if (argc < 5) {
    std::cerr << "usage: " << argv[0] << " PROGRAM_DIR DOCUMENT OUTPUT AREA_WIDTH...\n";
    return 2;
  }
  const std::string programDir = argv[1];
  const fs::path docPath = argv[2], output = argv[3];
  std::vector<int> widths;
  for (int i = 4; i < argc; ++i) {
    char *end = nullptr;
    const long w = std::strtol(argv[i], &end, 10);
    if (end == argv[i] || *end != '\0' || w < 32 || w > 8192)
      throw std::runtime_error(std::string("bad area width ") + argv[i]);
    widths.push_back(static_cast<int>(w));
  }
  const std::vector<std::uint8_t> docBytes = readAll(docPath);

  std::string work = (output.parent_path() / (output.filename().string() + ".work.XXXXXX")).string();
  if (!mkdtemp(work.data())) throw std::runtime_error("cannot create a work folder next to the output");
  const AtEnd removeAtEnd([&work] {
    std::error_code ec;
    fs::remove_all(work, ec);
  });
  seedEngineProfile(fs::path(work) / "profile");
  fs::create_directories(fs::path(work) / "tmp");
  setenv("TMPDIR", (fs::path(work) / "tmp").c_str(), 1);

  LibreOfficeKit *office = lok_init_2(programDir.c_str(), fileUrl(fs::path(work) / "profile").c_str());
  if (!office) throw std::runtime_error("LibreOfficeKit did not start from " + programDir);
  const AtEnd stopAtEnd([office] { office->pClass->destroy(office); });
  LibreOfficeKitDocument *doc = office->pClass->documentLoad(office, fileUrl(docPath).c_str());
  if (!doc) {
    const char *error = office->pClass->getError(office);
    throw std::runtime_error("LibreOffice could not open " + docPath.string() + ": " + (error ? error : ""));
  }
  const AtEnd closeAtEnd([doc] { doc->pClass->destroy(doc); });
  doc->pClass->initializeForRendering(doc, "{}");

  Presentation p;
  p.documentHash = documentHash(docBytes);
  doc->pClass->getDocumentSize(doc, &p.docWidthTwips, &p.docHeightTwips);
  if (p.docWidthTwips <= 0 || p.docHeightTwips <= 0) throw std::runtime_error("the document has no size");
  std::vector<std::vector<std::uint8_t>> pngs;
  for (int width : widths) {
    PresentationPicture pic;
    pic.areaWidth = width;
    pic.zoom = fitZoom(width, p.docWidthTwips);
    const PixelSize size = viewPixelSize(p.docWidthTwips, p.docHeightTwips, pic.zoom);
    pic.width = static_cast<int>(size.width);
    pic.height = static_cast<int>(size.height);
    pngs.push_back(renderPng(doc, p.docWidthTwips, p.docHeightTwips, pic.zoom, size));
    p.pictures.push_back(pic);
  }
  for (std::size_t i = 0; i < pngs.size(); ++i) p.pictures[i].png = pngs[i];
  const std::vector<std::uint8_t> bytes = writePresentation(p);
  const fs::path partial = output.string() + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + partial.string());
  }
  fs::rename(partial, output);
  for (const PresentationPicture &pic : p.pictures)
    std::printf("picture for a %d px area: %dx%d px, zoom %.6f, %zu bytes of PNG\n", pic.areaWidth, pic.width,
                pic.height, static_cast<double>(pic.zoom), pic.png.size());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  int status = 1;
  try {
    status = run(argc, argv);
  } catch (const std::exception &e) {
    std::cerr << "render_presentation: " << e.what() << '\n';
  }
  // The work folder is gone by now.
  exitAfterEngine(status);
}
