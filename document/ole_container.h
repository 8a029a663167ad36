// SPDX-License-Identifier: GPL-3.0-or-later
// The document area of the window: holds the engine's view of the embedded
// document and answers for it through the automation object. Until the
// engine runs it draws the document's presentation (a picture of the page
// made at build time) in its place and keeps what the user does to it.
#pragma once

#include <gtkmm.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "automation/automation.h"
#include "automation/print_service.h"
#include "document/alive.h"
#include "document/early_input.h"
#include "document/lok_view.h"
#include "document/private_dir.h"

namespace quorvel {

// What the container needs from the program around it.
struct ContainerEnv {
  PrivateDir *privateDir = nullptr;
  PrintService *printing = nullptr;
  std::function<void(std::exception_ptr)> reportError;  // the default error handler
  // The chart's title: the print jobs', and the document area's name.
  std::string jobTitle;
  std::string engineDir = lokProgramDir();  // where LibreOffice is installed
};

class OleContainer : public Gtk::Frame {
public:
  OleContainer(BaseObjectType *obj, const Glib::RefPtr<Gtk::Builder> &builder);
  ~OleContainer() override;
  OleContainer(const OleContainer &) = delete;
  OleContainer &operator=(const OleContainer &) = delete;

  void setEnv(ContainerEnv env) { m_env = std::move(env); }
  void setPrivateDir(PrivateDir *dir) { m_env.privateDir = dir; }
  // Pictures of the document's page (see document/presentation.h); drawn
  // from the next load until the engine shows it, if they show exactly the
  // loaded document. The bytes must outlive the container.
  void setPresentation(std::span<const std::uint8_t> bytes) { m_presentation = bytes; }

  // Drops any held document, checks the stream's header (synchronously) and
  // starts loading; `done` runs when the engine has opened it or failed.
  // A failure leaves the container empty.
  void loadFromStream(std::span<const std::uint8_t> stream, std::function<void(std::exception_ptr)> done);
  bool isEmpty() const;
  // The picture stands in for the document (loading, engine not live yet).
  bool showsPicture() const { return m_pictureArea != nullptr; }

  // -1 shows the document in place.
  void doVerb(int verb);
  DispatchPtr oleObject();
  // Closes the document without saving; the engine stays for another load.
  void release();
  // Stops the engine (after release()); for the end of the run.
  void stopEngine();

  // Takes the keyboard focus; coming from outside, this shows the document
  // first, and a failure goes to the default error handler.
  void setFocus();
  // The keyboard focus is in the document (or in its picture).
  bool holdsFocus() const;

  LokView *view() { return m_view.get(); }
  // The document area the page is fitted to (the scrolled window).
  Gtk::Widget &area() { return m_scroll; }

private:
  class EngineServer;
  class PagePicture;
  class PictureArea;
  void fitToWidth();
  void onViewAllocate(Gtk::Allocation &a);
  void onAreaAllocate(Gtk::Allocation &a);
  bool onViewFocusIn(GdkEventFocus *event);
  bool onViewKey(GdkEventKey *event);
  void afterNextFrame(std::function<void()> then);
  void startEngine(const std::filesystem::path &file, const std::function<void(std::exception_ptr)> &done);
  void startView(const std::filesystem::path &file, const std::function<void(std::exception_ptr)> &done);
  // The engine's copy of the document goes; a failed load leaves the container empty.
  void finishLoad(const std::filesystem::path &file, const std::function<void(std::exception_ptr)> &done,
                  std::exception_ptr error);
  void showPicture(std::span<const std::uint8_t> document);
  void dropPicture();
  void handOver();
  void replayEarlyInput(int attemptsLeft);

  ContainerEnv m_env;
  std::unique_ptr<LokEngine> m_engine;
  std::unique_ptr<LokView> m_view;
  std::shared_ptr<EngineServer> m_server;
  Gtk::ScrolledWindow m_scroll;
  Gtk::Viewport m_viewport;
  std::span<const std::uint8_t> m_presentation;
  std::shared_ptr<PagePicture> m_picture;  // drawn under the live view's first tiles
  std::unique_ptr<PictureArea> m_pictureArea;
  EarlyInput m_earlyInput;
  sigc::connection m_underlayWatch;
  int m_pageFit = 0;
  int m_lastFitWidth = -1;
  bool m_viewShown = false;
  bool m_inVerb = false;
  bool m_openFailed = false;
  Alive m_alive;
};

}  // namespace quorvel
