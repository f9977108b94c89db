// The main of the Wine suites that need no log server: Google Test's, ended by EndTestProgram.
#include "TestProgramEnd.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    EndTestProgram(RUN_ALL_TESTS());
}
