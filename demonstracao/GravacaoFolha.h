// Writing the demo payroll into a new Firebird database: the schema, the fixed tables, both months'
// register and payroll rows, the events and the mark that tells the database as the demo's.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "demonstracao/Servidores.h"
#include "util/Arquivos.h"

namespace kavlo::demo {

// The text of the mark, in the table KAVLO_DEMO: kavlo demo replaces only a database whose bytes
// hold it.
inline constexpr std::string_view kTextoDaMarca =
    "Folha de demonstracao criada por kavlo demo (KAVLO_DEMO)";

// Creates the database `arquivo` and writes the month of `c` and the previous one, in one
// transaction after the schema's.
void GravarFolha(const Caminho& arquivo, const Competencia& c,
                 const std::vector<Servidor>& servidores, const std::vector<Evento>& eventos,
                 uint32_t semente);

}  // namespace kavlo::demo
