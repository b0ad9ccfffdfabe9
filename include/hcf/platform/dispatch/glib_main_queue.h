// The main queue inside a GLib main loop (GTK, GIO applications): a GSource that watches the
// queue's descriptor and its next timer and runs what is due on the loop's thread, which then
// receives every callback of the kit.
//
//     GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
//     hcf::dispatch::GLibMainQueue attached;   // on the default context
//     g_main_loop_run(loop);
//
// Header-only: include it where GLib's headers are (pkg-config glib-2.0); the kit itself does not
// link GLib. Qt does the same with a QSocketNotifier on `wakeDescriptor()` and a single-shot
// QTimer for `nextDeadline()`; asio with a posix::stream_descriptor and a steady_timer.
#pragma once

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN
namespace dispatch {

/// Attaches the main queue to a GLib main context for as long as it lives: the context's loop
/// then drives the queue. Make, use and destroy it on the thread that runs the context.
class GLibMainQueue {
 public:
  /// Attaches to `context` (none: the default context) at `priority`.
  explicit GLibMainQueue(GMainContext* context = nullptr, int priority = G_PRIORITY_DEFAULT,
                         MainQueue& queue = mainQueue())
      : source_(g_source_new(&functions(), sizeof(Source))) {
    auto* s = reinterpret_cast<Source*>(source_);
    s->queue = &queue;
    s->tag = g_source_add_unix_fd(source_, queue.wakeDescriptor(), G_IO_IN);
    g_source_set_priority(source_, priority);
    g_source_set_name(source_, "hcf main queue");
    g_source_attach(source_, context);
  }
  /// Detaches: the loop no longer drives the queue.
  ~GLibMainQueue() {
    g_source_destroy(source_);
    g_source_unref(source_);
  }
  GLibMainQueue(const GLibMainQueue&) = delete;
  GLibMainQueue& operator=(const GLibMainQueue&) = delete;

  /// The source, for GLib's own calls (priority, name).
  GSource* source() const { return source_; }

 private:
  struct Source {
    GSource base;
    MainQueue* queue;
    gpointer tag;
  };

  // Milliseconds until the queue's next timer (rounded up), 0 when due, −1 when none.
  static gint timeLeft(const MainQueue& queue) {
    const auto due = queue.nextDeadline();
    if (!due) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - queue.now()).count();
    return static_cast<gint>(std::clamp<std::int64_t>(left, 0, G_MAXINT));
  }
  static gboolean prepare(GSource* source, gint* timeout) {
    *timeout = timeLeft(*reinterpret_cast<Source*>(source)->queue);
    return *timeout == 0;
  }
  static gboolean check(GSource* source) {
    auto* s = reinterpret_cast<Source*>(source);
    return (g_source_query_unix_fd(source, s->tag) & G_IO_IN) != 0 || timeLeft(*s->queue) == 0;
  }
  static gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
    reinterpret_cast<Source*>(source)->queue->runDue();
    return G_SOURCE_CONTINUE;
  }
  static GSourceFuncs& functions() {
    static GSourceFuncs f = {&prepare, &check, &dispatch, nullptr, nullptr, nullptr};
    return f;
  }

  GSource* source_;
};

}  // namespace dispatch
HCF_NAMESPACE_END
