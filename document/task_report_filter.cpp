// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/task_report_filter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

namespace {

std::mutex g_viewsLock;
std::vector<const void *> g_views;  // NOLINT(cert-err58-cpp): cannot throw

void viewCreated(GtkWidget *view) {
  {
    const std::scoped_lock lock(g_viewsLock);
    g_views.push_back(view);
  }
  g_object_weak_ref(
      G_OBJECT(view),
      [](gpointer, GObject *gone) {
        const std::scoped_lock lock(g_viewsLock);
        std::erase(g_views, static_cast<const void *>(gone));
      },
      nullptr);
}

std::string_view logField(const GLogField &field) {
  const auto *text = static_cast<const char *>(field.value);
  if (!text) return {};
  return field.length < 0 ? std::string_view(text)
                          : std::string_view(text, static_cast<std::size_t>(field.length));
}

bool isViewTaskReport(std::string_view domain, std::string_view message) {
  constexpr std::string_view kSource = " (source object: ";
  if (domain != "GLib-GIO" || !message.starts_with("GTask ") ||
      message.find(") finalized without ever returning") == std::string_view::npos)
    return false;
  const std::size_t at = message.find(kSource);
  if (at == std::string_view::npos) return false;
  const std::string pointer(message.substr(at + kSource.size(), 32));
  char *end = nullptr;
  const auto value = static_cast<std::uintptr_t>(std::strtoull(pointer.c_str(), &end, 16));
  if (end == pointer.c_str() || *end != ',') return false;
  const std::scoped_lock lock(g_viewsLock);
  // Compared as numbers: the report's text is all there is of its source.
  return std::any_of(g_views.begin(), g_views.end(),
                     [value](const void *view) { return reinterpret_cast<std::uintptr_t>(view) == value; });
}

GLogWriterOutput writeLog(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer data) {
  if (level & G_LOG_LEVEL_CRITICAL) {
    std::string_view domain, message;
    for (gsize i = 0; i < count; ++i) {
      if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = logField(fields[i]);
      if (std::strcmp(fields[i].key, "MESSAGE") == 0) message = logField(fields[i]);
    }
    if (isViewTaskReport(domain, message)) return G_LOG_WRITER_HANDLED;
  }
  return g_log_writer_default(level, fields, count, data);
}

}  // namespace

void dropTaskReportsOf(GtkWidget *view) {
  // The process's log writer, set once, before the view's worker runs.
  static std::once_flag writer;
  std::call_once(writer, [] { g_log_set_writer_func(writeLog, nullptr, nullptr); });
  viewCreated(view);
}

}  // namespace quorvel
