// The store worker's one stop rule and its answers: what was posted before a
// stop runs, in order, before the stop returns; nothing runs after it; an
// answer reaches its asker on the asker's thread, and never an asker gone.
#include "records/replies.h"
#include "records/store_worker.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

TEST(StoreWorker, DrainsWhatIsQueuedThenJoinsAndAnswersOnlyAnAskerStillThere) {
  records::StoreWorker worker(QStringLiteral("test"));
  records::Replies live;
  auto gone = std::make_unique<records::Replies>();
  std::vector<int> ran; // the worker's until it is joined
  int liveAnswers = 0, goneAnswers = 0;
  bool answeredHere = true;
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(worker.Post([&, i, l = live.Port(), g = gone->Port()] {
      QThread::msleep(5); // slow tasks: a stop that did not wait would find them unrun
      ran.push_back(i);
      l.Send([&] {
        ++liveAnswers;
        answeredHere = answeredHere && QThread::currentThread() == QCoreApplication::instance()->thread();
      });
      g.Send([&] { ++goneAnswers; });
    }));
  worker.Stop();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(worker.Post([&] { ran.push_back(9); }));
  EXPECT_EQ(liveAnswers, 0) << "answers are queued to the asker, never called on the worker";
  const records::ReplyPort port = gone->Port();
  gone.reset(); // its three answers wait in the queue
  EXPECT_FALSE(port.Send([&] { ++goneAnswers; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(liveAnswers, 3);
  EXPECT_TRUE(answeredHere);
  EXPECT_EQ(goneAnswers, 0);
  EXPECT_EQ(ran.size(), 3u);
}
