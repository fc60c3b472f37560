#include "MemMgr.h"
#include <gtest/gtest.h>
TEST(MemMgr, Smoke) { void *p = GetMem(10); ASSERT_NE(p, nullptr); PutMem(p); EXPECT_EQ(pMemB, nullptr); }
