#include "imageio/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "records/imager_error.h"

namespace {

TEST(Worker, RunsTasksOnItsOwnThreadAndHandsBackTheirErrors) {
  ImageIO::Worker worker;
  std::thread::id ranOn;
  worker.start([&] { ranOn = std::this_thread::get_id(); });
  worker.wait();
  EXPECT_NE(ranOn, std::this_thread::get_id());

  worker.start([] { throw ImagerError::message("Writing failed. Check the connection and free space."); });
  try {
    worker.wait();
    ADD_FAILURE() << "the task's error was lost";
  } catch (const ImagerError& error) {
    EXPECT_STREQ(error.what(), "Writing failed. Check the connection and free space.");
  }
  // The error is handed back once; the worker goes on.
  EXPECT_NO_THROW(worker.wait());
  int runs = 0;
  worker.start([&] { ++runs; });
  worker.wait();
  EXPECT_EQ(runs, 1);
}

TEST(Worker, RefusesATaskBeforeTheOneBeforeWasWaitedFor) {
  ImageIO::Worker worker;
  worker.start([] {});
  EXPECT_THROW(worker.start([] {}), std::logic_error);
  worker.wait();
  // Running or ended, with its error not yet handed back: refused either way.
  worker.start([] { throw std::runtime_error("not handed back yet"); });
  EXPECT_THROW(worker.start([] {}), std::logic_error);
  EXPECT_THROW(worker.wait(), std::runtime_error);
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

}  // namespace
