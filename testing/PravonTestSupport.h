// GoogleTest helpers for error chains: a test states the result it expects and sees the whole chain
// when it gets another.
#pragma once

#include "platform/pravon/IPravonError.h"

#include <gtest/gtest.h>

namespace kvtest {

::testing::AssertionResult Succeeded(IPravonError* error);
::testing::AssertionResult FailedWithKind(IPravonError* error, LONG kind);

} // namespace kvtest

// Each takes over the chain the expression returns.
#define EXPECT_PV_OK(expr) EXPECT_TRUE(::kvtest::Succeeded(expr))
#define ASSERT_PV_OK(expr) ASSERT_TRUE(::kvtest::Succeeded(expr))
#define EXPECT_PV_KIND(expr, kind) EXPECT_TRUE(::kvtest::FailedWithKind((expr), (kind)))
#define ASSERT_PV_KIND(expr, kind) ASSERT_TRUE(::kvtest::FailedWithKind((expr), (kind)))
