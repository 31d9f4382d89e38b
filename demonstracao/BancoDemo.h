// Builds a demo payroll database (two consecutive months) and a matching return file.
#pragma once

#include <cstdint>
#include <string>

namespace kavlo::demo {

// The most servants a demo holds: the registrations' six digits are all taken then.
inline constexpr int kMaximoServidores = 1000000;

struct OpcoesDemo {
    std::string banco;    // database file to create
    std::string retorno;  // return file to write; empty for none
    // Replace an existing database or return file, but only one that kavlo demo made.
    bool substituir = false;
    int servidores = 300;
    int mes = 2;  // payroll month; the previous month is built too
    int ano = 2024;
    uint32_t semente = 20240201;
};

struct ResumoDemo {
    int servidores = 0;     // servants in the payroll month's register
    int ativos = 0;         // servants with an active row ('T') in the month's payroll results
    int transferidos = 0;   // active servants whose unit differs from the previous month's
    int novos = 0;          // servants only in the payroll month (not in the previous month)
    int eventos = 0;        // rows of SFP017
    int linhasRetorno = 0;  // detail lines of the return file (0 without one)
    int linhasDesconhecidas = 0;  // detail lines whose key is no servant's registration
    int linhasInativos = 0;       // detail lines of servants without an active row
};

// Deterministic for a given set of options: the same seed gives the same rows and the same bytes.
// Throws kavlo::Erro for options out of range, and for an existing database or return file unless
// `substituir` is set and the file is one kavlo demo made: a database holding the table KAVLO_DEMO,
// a return file whose header names the demo's employer. A replaced database gives way only once
// the new one is complete.
ResumoDemo CriarBancoDemo(const OpcoesDemo& opcoes);

}  // namespace kavlo::demo
