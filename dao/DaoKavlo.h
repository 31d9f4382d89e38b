// The payroll queries of a generation run: the month's servants, their margins, the servants
// whose unit changed since the previous month, and the employer's name. The month tables are
// named by suffix and the host's filter is pasted in; nothing else is.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "dao/firebird/Firebird.h"
#include "util/ConjuntoDeChaves.h"

namespace kavlo {

// Abbreviation that names a month's tables ("1" -> "JAN"). Throws ErroConversao for a text that is
// not an integer, or for a number outside 1 to 12 (such a month has no tables).
std::u16string SufixoMes(std::u16string_view mes);

// A month table that does not exist: the failure, with which month to check added to it.
ErroBanco ComMesParaConferir(const ErroBanco& erro, std::u16string_view mes);

// The statements, exactly as the payroll database expects them. With a filter, each restricts
// its servants to "in (select matricula from (filter))"; without one, to nobody: the caller then
// keeps only the rows of the servants it has the filter's answer for.
std::u16string SqlCliente();
std::u16string SqlPessoas(std::u16string_view sufixo, std::optional<std::u16string_view> filtro);
std::u16string SqlMargem(std::u16string_view sufixo, std::optional<std::u16string_view> filtro);
std::u16string SqlTransferidos(std::u16string_view sufixo, std::u16string_view sufixoAnt,
                               std::optional<std::u16string_view> filtro);

// A row of each of the three queries, as the generation reads it: each member from the column of
// its name (the people's query selects p.*, so positions say nothing), a NULL as the empty text, 0
// or the zero date.
struct LinhaPessoa {
    std::u16string CPF, IDENTIDADE, TITELEITOR, ZONA, SECAO, NOME, ESTCIVIL, SEXO;
    std::optional<fb::Data> DTNASC;
    std::u16string NOMEPAI, NOMEMAE;
    int32_t NUMDEPIR = 0;
    std::u16string EMAIL, FONE, FONE2, FONECEL, ENDERECO, BAIRRO, CEP, CIDADE, UF, NOMEBANCO, BANCO,
        AGENCIA, DVAGENCIA, CONTA, DVCONTA, GRINSTR;

    static constexpr std::tuple kColunas{
        fb::Campo{"CPF", &LinhaPessoa::CPF},
        fb::Campo{"IDENTIDADE", &LinhaPessoa::IDENTIDADE},
        fb::Campo{"TITELEITOR", &LinhaPessoa::TITELEITOR},
        fb::Campo{"ZONA", &LinhaPessoa::ZONA},
        fb::Campo{"SECAO", &LinhaPessoa::SECAO},
        fb::Campo{"NOME", &LinhaPessoa::NOME},
        fb::Campo{"ESTCIVIL", &LinhaPessoa::ESTCIVIL},
        fb::Campo{"SEXO", &LinhaPessoa::SEXO},
        fb::Campo{"DTNASC", &LinhaPessoa::DTNASC},
        fb::Campo{"NOMEPAI", &LinhaPessoa::NOMEPAI},
        fb::Campo{"NOMEMAE", &LinhaPessoa::NOMEMAE},
        fb::Campo{"NUMDEPIR", &LinhaPessoa::NUMDEPIR},
        fb::Campo{"EMAIL", &LinhaPessoa::EMAIL},
        fb::Campo{"FONE", &LinhaPessoa::FONE},
        fb::Campo{"FONE2", &LinhaPessoa::FONE2},
        fb::Campo{"FONECEL", &LinhaPessoa::FONECEL},
        fb::Campo{"ENDERECO", &LinhaPessoa::ENDERECO},
        fb::Campo{"BAIRRO", &LinhaPessoa::BAIRRO},
        fb::Campo{"CEP", &LinhaPessoa::CEP},
        fb::Campo{"CIDADE", &LinhaPessoa::CIDADE},
        fb::Campo{"UF", &LinhaPessoa::UF},
        fb::Campo{"NOMEBANCO", &LinhaPessoa::NOMEBANCO},
        fb::Campo{"BANCO", &LinhaPessoa::BANCO},
        fb::Campo{"AGENCIA", &LinhaPessoa::AGENCIA},
        fb::Campo{"DVAGENCIA", &LinhaPessoa::DVAGENCIA},
        fb::Campo{"CONTA", &LinhaPessoa::CONTA},
        fb::Campo{"DVCONTA", &LinhaPessoa::DVCONTA},
        fb::Campo{"GRINSTR", &LinhaPessoa::GRINSTR},
    };
};

struct LinhaMargem {
    std::u16string NOME, CPF, MATRICULA, FUNCAO, CARGO, CDSECRETA, CDSETOR, ORGAO, BANCO, AGENCIA,
        DVAGENCIA, CONTA, DVCONTA;
    double MCVALOR = 0, MCBASEINCIDE = 0;
    fb::Data DTADMISSAO;
    std::u16string CONFIG_KAVLO;
    double REMUNTOT = 0, LIQUIDO = 0, TOTDESC = 0, SALARIO = 0, VALEXTRAS = 0, VALEXTRA1 = 0,
           VALADNOT = 0, IRRF = 0, INSS = 0, VALFALTAS = 0, VALCS = 0;

    static constexpr std::tuple kColunas{
        fb::Campo{"NOME", &LinhaMargem::NOME},
        fb::Campo{"CPF", &LinhaMargem::CPF},
        fb::Campo{"MATRICULA", &LinhaMargem::MATRICULA},
        fb::Campo{"FUNCAO", &LinhaMargem::FUNCAO},
        fb::Campo{"CARGO", &LinhaMargem::CARGO},
        fb::Campo{"CDSECRETA", &LinhaMargem::CDSECRETA},
        fb::Campo{"CDSETOR", &LinhaMargem::CDSETOR},
        fb::Campo{"ORGAO", &LinhaMargem::ORGAO},
        fb::Campo{"BANCO", &LinhaMargem::BANCO},
        fb::Campo{"AGENCIA", &LinhaMargem::AGENCIA},
        fb::Campo{"DVAGENCIA", &LinhaMargem::DVAGENCIA},
        fb::Campo{"CONTA", &LinhaMargem::CONTA},
        fb::Campo{"DVCONTA", &LinhaMargem::DVCONTA},
        fb::Campo{"MCVALOR", &LinhaMargem::MCVALOR},
        fb::Campo{"MCBASEINCIDE", &LinhaMargem::MCBASEINCIDE},
        fb::Campo{"DTADMISSAO", &LinhaMargem::DTADMISSAO},
        fb::Campo{"CONFIG_KAVLO", &LinhaMargem::CONFIG_KAVLO},
        fb::Campo{"REMUNTOT", &LinhaMargem::REMUNTOT},
        fb::Campo{"LIQUIDO", &LinhaMargem::LIQUIDO},
        fb::Campo{"TOTDESC", &LinhaMargem::TOTDESC},
        fb::Campo{"SALARIO", &LinhaMargem::SALARIO},
        fb::Campo{"VALEXTRAS", &LinhaMargem::VALEXTRAS},
        fb::Campo{"VALEXTRA1", &LinhaMargem::VALEXTRA1},
        fb::Campo{"VALADNOT", &LinhaMargem::VALADNOT},
        fb::Campo{"IRRF", &LinhaMargem::IRRF},
        fb::Campo{"INSS", &LinhaMargem::INSS},
        fb::Campo{"VALFALTAS", &LinhaMargem::VALFALTAS},
        fb::Campo{"VALCS", &LinhaMargem::VALCS},
    };
};

struct LinhaTransferido {
    // CODORIG is this month's unit, where the servant went; CODDEST last month's, where it came
    // from.
    std::u16string NOME, CPF, MATRICULA, CODORIG, CODDEST;

    static constexpr std::tuple kColunas{
        fb::Campo{"NOME", &LinhaTransferido::NOME},
        fb::Campo{"CPF", &LinhaTransferido::CPF},
        fb::Campo{"MATRICULA", &LinhaTransferido::MATRICULA},
        fb::Campo{"CODORIG", &LinhaTransferido::CODORIG},
        fb::Campo{"CODDEST", &LinhaTransferido::CODDEST},
    };
};

// What the month's queries are about: the tables' suffixes, the host's filter and, once read,
// the registrations it selects. The generation pass reads them from the controller and hands them
// down.
struct ConsultaDoMes {
    std::u16string sufixo;          // the payroll month's ("FEV")
    std::u16string sufixoAnterior;  // the previous month's, for the transfers
    std::u16string filtro;
    // The filter's registrations (see LerFiltro); null while the database applies the filter.
    const ConjuntoDeChaves* servidores = nullptr;

    std::optional<std::u16string_view> Restricao() const {
        if (servidores) return std::nullopt;
        return filtro;
    }
};

// The registrations the host's filter selects, read once: pasted into each query as a sub-select,
// Firebird 3 runs the filter again for every row, and a real filter then costs more than the rest
// of the generation. They match a row exactly as the database's "in" would: NULLs never, trailing
// blanks not counted, characters compared one by one. That holds when neither side has a
// collation of its own (a case- or accent-insensitive one would match more); otherwise nothing is
// read here and the queries carry the filter as before.
//   The filter must yield a MATRICULA of its own: pasted as a sub-select, a filter without one
// would let the name resolve to the outer table's column and select every servant. Throws
// ErroBanco saying so, before anything is read.
std::optional<ConjuntoDeChaves> LerFiltro(fb::Transacao& transacao, const ConsultaDoMes& mes);

// Whether the row's registration (column `matricula`) is one of the host's servants.
bool Selecionado(const ConsultaDoMes& mes, const fb::Cursor& cursor, unsigned matricula);

// A statement with its open result. Running it again discards the previous result first.
class TConsulta {
  public:
    fb::Cursor& Abrir(fb::Transacao& transacao, const std::u16string& sql, std::string oQue);
    // Releases the result and the statement; required before their transaction ends.
    void Fechar();

  private:
    // The cursor points into the statement, so it is declared after it and freed first.
    std::unique_ptr<fb::Comando> FComando;
    std::optional<fb::Cursor> FCursor;
};

// The list operations return the open result, which stays owned by the DAO and is valid until
// the same operation runs again or the DAO is freed. All of them run in the caller's transaction,
// so one generation reads one snapshot.
class TDAOPessoas {
  public:
    fb::Cursor& listPessoas(fb::Transacao& transacao, const ConsultaDoMes& mes);
    fb::Cursor& listCliente(fb::Transacao& transacao);
    void Fechar() {
        FQryPessoas.Fechar();
        FQryCliente.Fechar();
    }

  private:
    TConsulta FQryPessoas;
    TConsulta FQryCliente;
};

class TDAOMargem {
  public:
    fb::Cursor& listMargem(fb::Transacao& transacao, const ConsultaDoMes& mes);
    fb::Cursor& listCliente(fb::Transacao& transacao);
    void Fechar() {
        FQryMargem.Fechar();
        FQryCliente.Fechar();
    }

  private:
    TConsulta FQryMargem;
    TConsulta FQryCliente;
};

class TDAOTransferidos {
  public:
    fb::Cursor& listTransferidos(fb::Transacao& transacao, const ConsultaDoMes& mes);
    fb::Cursor& listCliente(fb::Transacao& transacao);
    void Fechar() {
        FQryTransferidos.Fechar();
        FQryCliente.Fechar();
    }

  private:
    TConsulta FQryTransferidos;
    TConsulta FQryCliente;
};

// Rule objects of the generation pass: each owns the DAO of its subject and hands its results
// through unchanged.
class TRNPessoas {
  public:
    fb::Cursor& listarPessoas(fb::Transacao& t, const ConsultaDoMes& mes) {
        return FDaoPessoas.listPessoas(t, mes);
    }
    fb::Cursor& listarCliente(fb::Transacao& t) { return FDaoPessoas.listCliente(t); }
    void Fechar() { FDaoPessoas.Fechar(); }

  private:
    TDAOPessoas FDaoPessoas;
};

class TRNMargem {
  public:
    fb::Cursor& listarMargem(fb::Transacao& t, const ConsultaDoMes& mes) {
        return FDaoMargem.listMargem(t, mes);
    }
    fb::Cursor& listarCliente(fb::Transacao& t) { return FDaoMargem.listCliente(t); }
    void Fechar() { FDaoMargem.Fechar(); }

  private:
    TDAOMargem FDaoMargem;
};

class TRNTransferidos {
  public:
    fb::Cursor& listarTransferidos(fb::Transacao& t, const ConsultaDoMes& mes) {
        return FDaoTransferidos.listTransferidos(t, mes);
    }
    fb::Cursor& listarCliente(fb::Transacao& t) { return FDaoTransferidos.listCliente(t); }
    void Fechar() { FDaoTransferidos.Fechar(); }

  private:
    TDAOTransferidos FDaoTransferidos;
};

}  // namespace kavlo
