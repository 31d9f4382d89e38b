// The benchmarks' scratch folder: made at first use, removed with everything in it at exit.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace kavlo::bench {

inline std::filesystem::path PastaDoBench() {
    namespace fs = std::filesystem;
    static const fs::path pasta = [] {
        fs::path p =
            fs::temp_directory_path() / ("kavlo-bench-" + std::to_string(std::random_device{}()));
        fs::create_directories(p);
        return p;
    }();
    // Declared after the folder, so it runs while the folder's path still exists.
    static const struct Limpeza {
        fs::path p;
        ~Limpeza() {
            std::error_code ec;
            fs::remove_all(p, ec);
        }
    } limpeza{pasta};
    return pasta;
}

}  // namespace kavlo::bench
