// The entry point run in-process against the fake SDK, for the entry-point tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/entry_point.h"
#include "core/shared_state.h"
#include "tests/app/fake_sdk.h"

namespace entry_point_test {

inline int run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return app::run_app(static_cast<int>(args.size()), argv.data());
}

class EntryPoint : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_sdk::reset();
    app::running.store(true);
    app::debug_mode.store(false);
  }
  void TearDown() override {
    EXPECT_FALSE(app::processing_active.load()) << "the worker must be stopped on every exit";
    EXPECT_FALSE(app::supervisor_active.load());
  }
};

}  // namespace entry_point_test
