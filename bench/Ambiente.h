// Where kavlo_desempenho's runs happen, and the demo payroll of each size they run on.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/apoio/ServidorTeste.h"

namespace kavlo::bench {

// The scratch folder and, when a server answers, a folder it can open.
struct Ambiente {
    std::filesystem::path pasta;
    std::unique_ptr<teste::PastaDoServidor> servidor;
};

Ambiente PrepararAmbiente();

// A demo payroll of `n` servants, its return file and the host's filter for it.
struct Folha {
    int n;
    std::filesystem::path modelo, retorno;
    std::u16string filtro;
    std::vector<std::u16string> linhas;  // of the return file
};

Folha CriarFolha(const Ambiente& ambiente, int n);

}  // namespace kavlo::bench
