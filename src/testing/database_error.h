// The message of the database error that a call raises, for tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/error.h"

namespace ostrevane::testing {

// Runs `f`, expects it to raise an EDatabaseError and returns its message;
// records a failure (and returns "") when it raises nothing.
template <typename F>
std::string DatabaseErrorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEDatabaseError);
    return e.message();
  }
  ADD_FAILURE() << "no error";
  return "";
}

}  // namespace ostrevane::testing
