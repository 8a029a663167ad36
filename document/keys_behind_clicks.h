// SPDX-License-Identifier: GPL-3.0-or-later
// Keys held behind clicks (LibreOffice 7.4 and 26.8). The view hands clicks
// to the engine through its worker, which may be busy painting, while keys go
// at once; a key typed right after a click would overtake it. So the clicks
// are counted twice, as the view queues them and as its worker hands them to
// the engine, and keys wait for the clicks queued before them
// (document/key_order), at most 0.5 s. The views of 7.4 and 26.8 alike let
// clicks wait in the worker.
// Measured (bench/README.md, a click into the picture and then "QZX", 10
// runs): keys sent at once reached the word clicked 7 times in 10 on 7.4 and
// 2 in 10 on 26.8 (the others at the document's start, 2 lost on 26.8);
// behind the clicks, 10 in 10 on both, held 253 to 340 ms.
#pragma once

#include <LibreOfficeKit/LibreOfficeKit.h>
#include <gtk/gtk.h>

#include <functional>
#include <utility>
#include <vector>

#include "document/key_order.h"

namespace quorvel {

// The clicks `view` queues for its worker, counted before it sees them.
void countQueuedClicks(GtkWidget *view);
// The clicks the worker hands to the engine from now on, counted, for every
// document of the engine (their calls are one table).
void countPostedClicks(LibreOfficeKitDocument *doc);

// One view's keys: sent at once, or held while clicks queued before them
// wait in the worker.
class KeysBehindClicks {
public:
  using Send = std::function<void(const std::vector<QueuedKey> &)>;
  explicit KeysBehindClicks(Send send) : m_send(std::move(send)) {}
  ~KeysBehindClicks() { drop(); }
  KeysBehindClicks(const KeysBehindClicks &) = delete;
  KeysBehindClicks &operator=(const KeysBehindClicks &) = delete;

  void post(const QueuedKey &key);
  // Keys still held go nowhere; none waits for the next view.
  void drop();

private:
  Send m_send;
  unsigned m_source = 0;
};

}  // namespace quorvel
