// The outcome of a call, for tests: "ClassName: message" of the error it
// raises, or "no failure".
#pragma once

#include <string>

#include "common/error.h"

namespace ostrevane::testing {

template <typename F>
std::string FailureOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.class_name() + ": " + e.message();
  }
  return "no failure";
}

}  // namespace ostrevane::testing
