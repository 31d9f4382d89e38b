// Writing the demo payroll into a new Firebird database: the schema, the fixed tables, both months'
// register and payroll rows, the events and the mark that tells the database as the demo's.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "demonstracao/Servidores.h"
#include "util/Caminhos.h"

namespace kavlo::demo {

// The text of the mark, in the table KAVLO_DEMO: kavlo demo replaces only a database whose bytes
// hold it.
inline constexpr std::string_view kTextoDaMarca =
    "Folha de demonstracao criada por kavlo demo (KAVLO_DEMO)";

// Creates the database `arquivo` with the schema of the month of `c` and the previous one, and
// the tables of banks, leave types, functions, units and links, committed.
void CriarBancoDaFolha(const Caminho& arquivo, const Competencia& c);

// The payroll rows in two halves of about the same weight, each written by a connection of its own
// so that two threads can write them side by side: the payroll month's register and payroll, and
// the previous month's with the events.
enum class Metade { MesDaFolha, MesAnteriorEEventos };

// Writes one half of the servants' rows, servant by servant, in one transaction: nothing of the
// payroll is held beyond the servant at hand.
class GravacaoFolha {
  public:
    GravacaoFolha(const Caminho& arquivo, const Competencia& c, uint32_t semente, Metade metade);
    ~GravacaoFolha();
    GravacaoFolha(const GravacaoFolha&) = delete;
    GravacaoFolha& operator=(const GravacaoFolha&) = delete;

    // The half's rows of servant `v`: its register and payroll rows of that month, and in the
    // previous month's half also its events.
    void Gravar(const Servidor& v, const std::vector<Evento>& eventos);
    // Commits and detaches. Dropped before this, the half is rolled back.
    void Concluir();

  private:
    struct Estado;
    std::unique_ptr<Estado> estado_;
};

// Writes the mark, once both halves are committed, and switches forced writes back on: the
// database is then a payroll like any other.
void MarcarBanco(const Caminho& arquivo, uint32_t semente, int servidores);

}  // namespace kavlo::demo
