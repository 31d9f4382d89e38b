// Writing the demo payroll into a new Firebird database: the schema, the fixed tables, both months'
// register and payroll rows, the events and the mark that tells the database as the demo's.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "demonstracao/Servidores.h"
#include "util/Arquivos.h"

namespace kavlo::demo {

// The text of the mark, in the table KAVLO_DEMO: kavlo demo replaces only a database whose bytes
// hold it.
inline constexpr std::string_view kTextoDaMarca =
    "Folha de demonstracao criada por kavlo demo (KAVLO_DEMO)";

// Writes the month of `c` and the previous one into a new database, servant by servant, in one
// transaction after the schema's: nothing of the payroll is held beyond the servant at hand.
class GravacaoFolha {
  public:
    // Creates the database `arquivo` with its schema and fixed tables.
    GravacaoFolha(const Caminho& arquivo, const Competencia& c, uint32_t semente);
    ~GravacaoFolha();
    GravacaoFolha(const GravacaoFolha&) = delete;
    GravacaoFolha& operator=(const GravacaoFolha&) = delete;

    // Both months' register and payroll rows of `v`, and its events.
    void Gravar(const Servidor& v, const std::vector<Evento>& eventos);
    // Writes the mark, commits and detaches. Dropped before this, the database holds nothing of the
    // payroll (the caller removes the file).
    void Concluir(int servidores);

  private:
    struct Estado;
    std::unique_ptr<Estado> estado_;
};

}  // namespace kavlo::demo
