#include "gltest.h"
TEST_F(GlTest, Placeholder) { EXPECT_NE(window, 0); }
