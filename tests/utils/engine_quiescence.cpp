// Linked into the executables built on the counting engine: after the last
// case, every engine object must be gone. A request that ended short is
// closed on a thread-pool thread after its end has gone up (under Wine that
// close reads the rest of the body); a program that ended while one still ran
// inside WinINet crashed at exit under Wine after its cases had passed. The
// wait also proves that nothing leaked.
#include <windows.h>

#include <gtest/gtest.h>

#include "downloader/object_count.h"

namespace {

constexpr DWORD kQuiescenceMs = 30000;

class EngineQuiescence : public ::testing::Environment {
 public:
  void TearDown() override {
    const DWORD begun = ::GetTickCount();
    while (stubframework::downloader::details::LiveObjects() != 0 && ::GetTickCount() - begun < kQuiescenceMs) {
      ::Sleep(10);
    }
    EXPECT_EQ(stubframework::downloader::details::LiveObjects(), 0)
        << "engine objects still alive " << kQuiescenceMs << " ms after the last case";
  }
};

::testing::Environment* const kEngineQuiescence = ::testing::AddGlobalTestEnvironment(new EngineQuiescence);

}  // namespace
