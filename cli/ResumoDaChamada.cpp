#include "cli/ResumoDaChamada.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kavlo::cli {

VariavelDaChamada::VariavelDaChamada(const char* nome, const std::string& valor) : nome_(nome) {
    if (const char* antes = std::getenv(nome)) antes_ = antes;
    ::setenv(nome, valor.c_str(), 1);
}

VariavelDaChamada::~VariavelDaChamada() {
    if (antes_)
        ::setenv(nome_, antes_->c_str(), 1);
    else
        ::unsetenv(nome_);
}

ResumoDaChamada::ResumoDaChamada() {
    std::string modelo = (std::filesystem::temp_directory_path() / "kavlo-resumo-XXXXXX").string();
    if (const int fd = ::mkstemp(modelo.data()); fd >= 0) {
        ::close(fd);
        caminho_ = modelo;
        resumo_.emplace("KAVLO_RESUMO", caminho_);
    }
    // Progress only where somebody watches it.
    progresso_.emplace("KAVLO_PROGRESSO", ::isatty(STDERR_FILENO) ? "1" : "0");
}

ResumoDaChamada::~ResumoDaChamada() {
    std::error_code ec;
    if (!caminho_.empty()) std::filesystem::remove(caminho_, ec);
}

std::vector<std::pair<std::string, std::string>> ResumoDaChamada::Ler() const {
    std::vector<std::pair<std::string, std::string>> r;
    std::ifstream f(caminho_);
    for (std::string linha; std::getline(f, linha);)
        if (const auto igual = linha.find('='); igual != std::string::npos)
            r.emplace_back(linha.substr(0, igual), linha.substr(igual + 1));
    return r;
}

}  // namespace kavlo::cli
