// The task thread: tasks run one at a time, off the owner's thread, in the
// order handed over, and what a task throws reaches the owner's wait(); a
// task taken back runs not at all, one not taken back runs once.

#include "storage/task_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TaskCase {
  const char* name;
  std::vector<const char*> failures;  // per task: what it throws, or nullptr
};

class TaskThreadTest : public ::testing::TestWithParam<TaskCase> {};

TEST_P(TaskThreadTest, RunsEachTaskOffTheOwnersThreadAndHandsBackItsFailure) {
  const TaskCase& c = GetParam();
  std::vector<int> ran;
  std::vector<std::thread::id> threads;
  {
    TaskThread worker;
    for (size_t task = 0; task < c.failures.size(); ++task) {
      const char* const failure = c.failures[task];
      worker.run([&, task, failure] {
        ran.push_back(static_cast<int>(task));
        threads.push_back(std::this_thread::get_id());
        if (failure != nullptr) throw std::runtime_error(failure);
      });
      std::string caught = "none";
      try {
        worker.wait();
      } catch (const std::runtime_error& e) {
        caught = e.what();
      }
      EXPECT_EQ(caught, failure == nullptr ? "none" : failure) << "task " << task;
      // A failure is handed back once.
      EXPECT_NO_THROW(worker.wait());
    }
  }
  ASSERT_EQ(ran.size(), c.failures.size());
  for (size_t task = 0; task < ran.size(); ++task) {
    EXPECT_EQ(ran[task], static_cast<int>(task));
    EXPECT_NE(threads[task], std::this_thread::get_id());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, TaskThreadTest,
    ::testing::Values(TaskCase{"none", {}}, TaskCase{"all_succeed", {nullptr, nullptr, nullptr}},
                      TaskCase{"first_fails", {"broke", nullptr}},
                      TaskCase{"middle_fails", {nullptr, "out of memory", nullptr}},
                      TaskCase{"last_fails", {nullptr, nullptr, "late"}}),
    [](const ::testing::TestParamInfo<TaskCase>& info) { return std::string(info.param.name); });

TEST(TaskThreadTest, AWithdrawnTaskNeverRunsAndAnyOtherRunsOnce) {
  TaskThread worker;
  EXPECT_FALSE(worker.withdraw()) << "no task in hand";
  int withdrawn = 0;
  // Whether the thread begins a task before the owner takes it back is a
  // race; over many tasks both sides come up.
  for (int task = 0; task < 2000; ++task) {
    int runs = 0;
    worker.run([&runs] { ++runs; });
    if (task % 2 == 1) std::this_thread::yield();
    const bool taken = worker.withdraw();
    worker.wait();
    ASSERT_EQ(runs, taken ? 0 : 1) << "task " << task;
    EXPECT_FALSE(worker.withdraw()) << "task " << task << " was waited for";
    withdrawn += taken ? 1 : 0;
  }
  EXPECT_GT(withdrawn, 0);
  // A task the thread has begun stays with it.
  std::atomic<bool> begun = false;
  bool finished = false;
  worker.run([&] {
    begun = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    finished = true;
  });
  while (!begun) std::this_thread::yield();
  EXPECT_FALSE(worker.withdraw());
  worker.wait();
  EXPECT_TRUE(finished);
}

TEST(TaskThreadTest, DestructorWaitsForTheTaskInHand) {
  bool finished = false;
  {
    TaskThread worker;
    worker.run([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      finished = true;
    });
  }
  EXPECT_TRUE(finished);
}

}  // namespace
