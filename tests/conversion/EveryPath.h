// A fixture for tests that run once through each way of writing code units
// as text built into the program (unit_text::Paths), not only the one this
// processor selects. The path is in use (unit_text::Use) for the test's
// length; a path this processor cannot run is reported as skipped.
#pragma once

#include "UnitText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace unit_text {
// Failure messages name the path rather than dump its bytes.
inline void PrintTo(const Path& path, std::ostream* out) {
    *out << path.name;
}
} // namespace unit_text

class EveryPath : public testing::TestWithParam<unit_text::Path> {
  protected:
    void SetUp() override {
        if (!GetParam().usable) {
            GTEST_SKIP() << "this processor cannot run the " << GetParam().name << " path";
        }
        ASSERT_TRUE(unit_text::Use(GetParam().name));
    }
    void TearDown() override { unit_text::Use(before_); }

  private:
    const char* before_ = unit_text::Current().name;
};

// For INSTANTIATE_TEST_SUITE_P: every path, and the test names after them.
inline auto AllPaths() {
    return testing::ValuesIn(unit_text::Paths().begin(), unit_text::Paths().end());
}
inline std::string PathName(const testing::TestParamInfo<unit_text::Path>& path) {
    return path.param.name;
}
