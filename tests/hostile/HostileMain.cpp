// The tests read archive names with libarchive, which converts UTF-8 names to the current
// locale: run in a UTF-8 locale so that such names can be compared at all.

#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char **argv)
{
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr)
        std::setlocale(LC_ALL, "en_US.UTF-8");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
