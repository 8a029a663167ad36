// The document area of the window: holds the engine's view of the embedded
// document and answers for it through the automation object.
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

class EngineServer;

class OleContainer : public Gtk::Frame {
public:
  OleContainer(BaseObjectType *obj, const Glib::RefPtr<Gtk::Builder> &builder);
  ~OleContainer() override;
  OleContainer(const OleContainer &) = delete;
  OleContainer &operator=(const OleContainer &) = delete;

  void setEnv(ContainerEnv env) { m_env = std::move(env); }
  void setPrivateDir(PrivateDir *dir) { m_env.privateDir = dir; }

  // Drops any held document, checks the stream's header (synchronously) and
  // starts loading; `done` runs when the engine has opened it or failed.
  // A failure leaves the container empty.
  void loadFromStream(std::span<const std::uint8_t> stream, std::function<void(std::exception_ptr)> done);
  bool isEmpty() const;

  // -1 shows the document in place.
  void doVerb(int verb);
  DispatchPtr oleObject();
  // Closes the document without saving and stops the engine.
  void release();

  // Takes the keyboard focus; coming from outside, this shows the document
  // first, and a failure goes to the default error handler.
  void setFocus();
  bool holdsFocus() const;

  LokView *view() { return m_view.get(); }

private:
  friend class EngineServer;
  void fitToWidth();
  void onViewAllocate(Gtk::Allocation &a);
  bool onViewFocusIn(GdkEventFocus *event);
  bool onViewKey(GdkEventKey *event);
  void startEngine(const std::filesystem::path &file, std::function<void(std::exception_ptr)> done);

  ContainerEnv m_env;
  std::unique_ptr<LokView> m_view;
  std::shared_ptr<EngineServer> m_server;
  Gtk::ScrolledWindow m_scroll;
  int m_pageFit = 0;
  int m_lastFitWidth = -1;
  bool m_inVerb = false;
  bool m_openFailed = false;
};

}  // namespace quorvel
