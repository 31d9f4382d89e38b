// The role a site gives the user the library logs in as, so that it never needs SYSDBA or the
// database's owner: exactly the rights that generation, the import, and the tool's verificar,
// importacoes and estornar use in a payroll database, for every month whose tables are there.
// `kavlo preparar` creates the import journal and the role, grants it what is missing and gives
// it to a user; run again, it changes nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dao/firebird/Firebird.h"

namespace kavlo {

inline constexpr std::string_view kPapelOperador = "KAVLO_OPERADOR";

// One right of the role, as GRANT names it.
struct Concessao {
    std::string privilegio;  // SELECT, INSERT, UPDATE, DELETE, USAGE
    std::string tipo;        // TABLE or GENERATOR
    std::string objeto;
    std::string coluna;  // UPDATE of this column only; empty: the whole object
    bool operator==(const Concessao&) const = default;
};

// What the library would use and the database does not have.
struct Ausencias {
    std::vector<std::string> meses;    // "MAR": none of the month's tables is there
    std::vector<std::string> objetos;  // "SFP005MAR", "SFPDXX02FEV.TEMPO17"
};

// Every right the library's statements use in this database: each table of the list that exists,
// month tables for every month present, UPDATE only of the columns the import writes (those
// present). What is not there goes into `ausentes`, for the report.
std::vector<Concessao> ConcessoesDoPapel(fb::Transacao& transacao, Ausencias* ausentes = nullptr);

struct Preparo {
    bool diarioCriado = false;
    bool papelCriado = false;
    std::vector<Concessao> concedidas;  // the rights the role lacked and now holds
    bool usuarioIncluido = false;       // the role given to the user now
    std::string usuario;                // as the server keeps the name
    Ausencias ausentes;
    bool NadaMudou() const {
        return !diarioCriado && !papelCriado && concedidas.empty() && !usuarioIncluido;
    }
};

// Creates what is missing of the journal and of the role, grants the role the rights it lacks and
// gives it to `usuario` (when not empty; a plain identifier, as the server's users are named).
// Run by the database's owner or SYSDBA. Throws Erro when the database refuses; what was
// committed before stays, and a new run completes it.
Preparo PrepararBanco(fb::Conexao& conexao, std::string_view usuario);

}  // namespace kavlo
