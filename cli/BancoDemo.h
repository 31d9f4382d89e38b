// Builds a demo payroll database (two consecutive months) and a matching return file.
#pragma once

#include <cstdint>
#include <string>

namespace kavlo::demo {

struct OpcoesDemo {
    std::string banco;    // database file to create (replaced when it exists)
    std::string retorno;  // return file to write; empty for none
    int servidores = 300;
    int mes = 2;  // payroll month; the previous month is built too
    int ano = 2024;
    uint32_t semente = 20240201;
};

struct ResumoDemo {
    int servidores = 0;
    int ativos = 0;
    int transferidos = 0;
    int eventos = 0;
    int linhasRetorno = 0;
};

ResumoDemo CriarBancoDemo(const OpcoesDemo& opcoes);

}  // namespace kavlo::demo
