// Test fixture for anything built on the media filter framework: every
// framework object (filters, pins, allocators, enumerators, position
// objects) a test creates must be gone when the test ends. Derive test
// fixtures from LiveObjectsTest, or use TEST_F(LiveObjectsTest, ...).
#pragma once

#include <gtest/gtest.h>

#include "filterbase/unknown.h"

namespace pelora_test {

class LiveObjectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CUnknown::ObjectsActive(), 0) << "framework objects alive before the test";
    }
    void TearDown() override {
        EXPECT_EQ(CUnknown::ObjectsActive(), 0) << "framework objects leaked by the test";
    }
};

}  // namespace pelora_test
