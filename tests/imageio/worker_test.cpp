#include "imageio/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "records/imager_error.h"

// A task runs on the worker's own thread; its error comes back once, at the
// wait, and the worker goes on. A task before the last was waited for is
// refused, running or ended.
TEST(Worker, RunsOneTaskAtATimeAndHandsBackItsError) {
  ImageIO::Worker worker;
  std::thread::id ranOn;
  worker.start([&] { ranOn = std::this_thread::get_id(); });
  EXPECT_THROW(worker.start([] {}), std::logic_error);
  worker.wait();
  EXPECT_NE(ranOn, std::this_thread::get_id());
  worker.start([] { throw ImagerError::message("Writing failed."); });
  EXPECT_THROW(worker.start([] {}), std::logic_error);
  EXPECT_THROW(worker.wait(), ImagerError);
  EXPECT_NO_THROW(worker.wait());
  int runs = 0;
  worker.start([&] { ++runs; });
  worker.wait();
  EXPECT_EQ(runs, 1);
}

// The buffers a task uses may be released right after the worker: it never
// outlives a task it runs.
TEST(Worker, DestructionWaitsForTheRunningTask) {
  std::atomic<bool> release{false}, finished{false};
  std::thread releaser;
  {
    ImageIO::Worker worker;
    worker.start([&] {
      while (!release) std::this_thread::yield();
      finished = true;
    });
    releaser = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      release = true;
    });
  }
  EXPECT_TRUE(finished);
  releaser.join();
}
