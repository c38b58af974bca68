// The status text between two real threads: the worker replaces it while the painter copies
// it. Built only under ThreadSanitizer, which reports a missing lock whatever the interleaving;
// a torn copy would also show as a text that was never written.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "update/status_text.h"

namespace {

TEST(StatusTextHandOver, PainterSeesOnlyWholeTextsWhileTheWorkerReplacesThem) {
  // Long enough to live on the heap, so that a torn or freed copy would show.
  const std::string texts[] = {std::string(200, 'a'), std::string(57, 'b'), std::string(300, 'c'), ""};
  const std::set<std::string> written(std::begin(texts), std::end(texts));
  update::StatusText status;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 20000; ++i) status.Set(texts[i % 4]);
    done = true;
  });
  int torn = 0;
  int copies = 0;
  while (!done) {
    if (written.count(status.Get()) == 0) ++torn;
    ++copies;
  }
  worker.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(copies, 0);
}

}  // namespace
