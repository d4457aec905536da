// The task thread: tasks run one at a time, off the owner's thread, in the
// order handed over, and what a task throws reaches the owner's wait().

#include "storage/task_thread.h"

#include <gtest/gtest.h>

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
