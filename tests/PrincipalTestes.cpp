// The tests' main: gtest's, with one guard. ctest runs each test alone and takes any output that
// shows gtest's "[  SKIPPED ]" for a skip, whatever the exit code (gtest_discover_tests sets it
// so): a test that skipped while something of the run failed (a suite's or the environment's set-up
// or tear-down) would pass as skipped. Such a run ends in abort(), which ctest always counts as a
// failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int resultado = RUN_ALL_TESTS();
    if (resultado != 0 && testing::UnitTest::GetInstance()->skipped_test_count() > 0) {
        std::fprintf(stderr, "Falha numa execução com teste pulado: encerrada como falha.\n");
        std::fflush(nullptr);
        std::abort();
    }
    return resultado;
}
