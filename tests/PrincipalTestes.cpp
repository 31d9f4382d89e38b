// The tests' main: gtest's, with one guard. ctest runs each test alone and takes any output that
// shows gtest's "[  SKIPPED ]" for a skip, whatever the exit code (gtest_discover_tests sets it
// so): a test that skipped while something of the run failed (a suite's or the environment's set-up
// or tear-down) would pass as skipped. Such a run ends in abort(), which ctest always counts as a
// failure.
//
// Each run keeps the records of file sets being placed (util/RegistroDeColocacao.h,
// PastaDasColocacoes) in a folder of its own, shared with the kavlo processes it starts: tests that
// leave such records on purpose are not settled by another test running beside them, nor the user's
// by a test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    namespace fs = std::filesystem;
    fs::path estado;
    for (std::random_device rd; estado.empty() || fs::exists(estado);)
        estado = fs::temp_directory_path() / ("kavlo-estado-" + std::to_string(rd()));
    fs::create_directories(estado);
#ifdef _WIN32
    _putenv_s("LOCALAPPDATA", estado.string().c_str());
#else
    setenv("XDG_STATE_HOME", estado.c_str(), 1);
#endif
    const int resultado = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(estado, ec);
    if (resultado != 0 && testing::UnitTest::GetInstance()->skipped_test_count() > 0) {
        std::fprintf(stderr, "Falha numa execução com teste pulado: encerrada como falha.\n");
        std::fflush(nullptr);
        std::abort();
    }
    // The Firebird client's own exit handler shuts the embedded engine down. In a run where a
    // test had just killed the local server, that shutdown was seen to wait forever on a lock, the
    // tests long over: the run then ends with their result after a minute rather than at ctest's
    // timeout as a failure.
    std::thread([resultado] {
        std::this_thread::sleep_for(std::chrono::minutes(1));
        std::fflush(nullptr);
        std::_Exit(resultado);
    }).detach();
    return resultado;
}
