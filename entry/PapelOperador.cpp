#include "entry/PapelOperador.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "import/ColunasDaDeducao.h"
#include "import/Diario.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

// What the library does in a payroll database, table by table: each statement of generation
// (dao/), of the import, its check and its undo (import/), and of the tool's interruption reaches
// only these. The least-privilege test runs every operation as a user holding this role alone, so
// a statement that reaches anything else fails there.
struct Acesso {
    std::string tabela;  // a month table's stem, the month's abbreviation appended
    bool doMes;
    std::string privilegio;
    std::vector<std::string> colunas;  // UPDATE of these alone; empty: the whole table
};

std::vector<Acesso> Acessos() {
    // The columns a posting writes and an undo restores: the five of each slot the import uses,
    // the margin, and the mark that has the payroll recompute the row.
    std::vector<std::string> lancamento;
    for (int slot : SlotsUsaveis)
        for (const ColunaDaDeducao& coluna : kColunasDoSlot)
            lancamento.push_back(ParaUtf8(coluna.nome) + std::to_string(slot));
    for (const ColunaDaDeducao& coluna : kColunasDaLinha)
        lancamento.push_back(ParaUtf8(coluna.nome));

    std::vector<Acesso> acessos = {
        // The employer, banks, events and leave types; the month's register, units, functions,
        // employment types and pay, which generation, the import and its check read.
        {"SFP003", false, "SELECT", {}},
        {"SFPD9911", false, "SELECT", {}},
        {"SFP017", false, "SELECT", {}},
        {"AFASTFOLHA", false, "SELECT", {}},
        {"SFP001", true, "SELECT", {}},
        {"SFP005", true, "SELECT", {}},
        {"SFP006", true, "SELECT", {}},
        {"CFG_VINC", true, "SELECT", {}},
        {"SFPDXX02", true, "SELECT", {}},
        // The postings, and their undo.
        {"SFPDXX02", true, "UPDATE", lancamento},
        // The journal's counts, written at the end of an import, and the mark of an undo.
        {"KAVLO_IMPORTACAO", false, "UPDATE", ColunasAlteradasDaImportacao()},
    };
    // Whatever the journal holds: its tables are read and written a row at a time, its generator
    // numbers the imports.
    for (const ObjetoDiario& objeto : kDiario) {
        if (objeto.tipo == "TABLE") {
            acessos.push_back({std::string(objeto.nome), false, "SELECT", {}});
            acessos.push_back({std::string(objeto.nome), false, "INSERT", {}});
        } else if (objeto.tipo == "GENERATOR") {
            acessos.push_back({std::string(objeto.nome), false, "USAGE", {}});
        }
    }
    return acessos;
}

// The letter RDB$USER_PRIVILEGES keeps a privilege as.
char Letra(std::string_view privilegio) {
    if (privilegio == "SELECT") return 'S';
    if (privilegio == "INSERT") return 'I';
    if (privilegio == "UPDATE") return 'U';
    if (privilegio == "DELETE") return 'D';
    return 'G';  // USAGE
}

std::string Aparado(const std::u16string& texto) {
    return ParaUtf8(SemBrancosFinais(texto));
}

std::set<std::string> Nomes(fb::Transacao& t, std::string_view sql,
                            const std::vector<fb::Parametro>& parametros = {}) {
    fb::Comando c(t, sql, "ler o catálogo do banco de dados");
    fb::Cursor r = c.Abrir(parametros);
    std::set<std::string> nomes;
    while (r.Proximo()) nomes.insert(Aparado(r.Texto(0u)));
    return nomes;
}

void Executar(fb::Conexao& conexao, const std::string& sql, const std::string& oQue) {
    try {
        fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
        fb::Comando(t, std::string_view(sql), oQue).Executar();
        t.Commit();
    } catch (const ErroBanco& e) {
        throw e.Com("Não foi possível " + oQue + ": " + e.what() +
                    ". kavlo preparar é executado pelo dono do banco de dados ou pelo SYSDBA.");
    }
}

// A user's name goes into GRANT as an identifier (no statement takes one as a parameter): only a
// plain one, which the server keeps in upper case.
std::string NomeDeUsuario(std::string_view usuario) {
    bool valido =
        !usuario.empty() && usuario.size() <= 31 &&
        ((usuario[0] >= 'A' && usuario[0] <= 'Z') || (usuario[0] >= 'a' && usuario[0] <= 'z'));
    std::string r;
    for (char c : usuario) {
        valido &= (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '$';
        r += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    if (!valido)
        throw Erro("O usuário '" + ParaMensagem(usuario) +
                   "' não é um nome simples de usuário do Firebird (letras, algarismos, _ e $, "
                   "começando por uma letra, até 31 caracteres); nada foi alterado.");
    return r;
}

}  // namespace

std::vector<Concessao> ConcessoesDoPapel(fb::Transacao& t, Ausencias* ausentes) {
    const std::set<std::string> tabelas = Nomes(t, "select RDB$RELATION_NAME from RDB$RELATIONS");
    const std::set<std::string> geradores =
        Nomes(t, "select RDB$GENERATOR_NAME from RDB$GENERATORS");
    const std::vector<Acesso> acessos = Acessos();
    std::vector<Concessao> r;
    std::set<std::string> faltam;
    for (const Acesso& a : acessos) {
        std::vector<std::string> objetos;
        if (a.doMes) {
            for (std::u16string_view mes : MesesAbreviados)
                objetos.push_back(a.tabela + ParaUtf8(mes));
        } else {
            objetos.push_back(a.tabela);
        }
        const bool gerador = a.privilegio == "USAGE";
        for (const std::string& objeto : objetos) {
            if (!(gerador ? geradores : tabelas).contains(objeto)) {
                faltam.insert(objeto);
                continue;
            }
            const std::string tipo = gerador ? "GENERATOR" : "TABLE";
            if (a.colunas.empty()) {
                r.push_back({a.privilegio, tipo, objeto, {}});
                continue;
            }
            const std::set<std::string> colunas = Nomes(
                t, "select RDB$FIELD_NAME from RDB$RELATION_FIELDS where RDB$RELATION_NAME = ?",
                {DeUtf8(objeto)});
            for (const std::string& coluna : a.colunas)
                if (colunas.contains(coluna))
                    r.push_back({a.privilegio, tipo, objeto, coluna});
                else
                    faltam.insert(objeto + "." + coluna);
        }
    }
    if (!ausentes) return r;
    // A month none of whose tables is there is said once, as a month.
    *ausentes = {};
    std::set<std::string> radicais;
    for (const Acesso& a : acessos)
        if (a.doMes) radicais.insert(a.tabela);
    for (std::u16string_view abreviacao : MesesAbreviados) {
        const std::string mes = ParaUtf8(abreviacao);
        if (!std::all_of(radicais.begin(), radicais.end(), [&](const std::string& radical) {
                return faltam.contains(radical + mes);
            }))
            continue;
        ausentes->meses.push_back(mes);
        for (const std::string& radical : radicais) faltam.erase(radical + mes);
    }
    ausentes->objetos.assign(faltam.begin(), faltam.end());
    return r;
}

Preparo PrepararBanco(fb::Conexao& conexao, std::string_view usuario) {
    const std::string nomeUsuario = usuario.empty() ? std::string() : NomeDeUsuario(usuario);
    const std::string papel(kPapelOperador);
    Preparo preparo;
    preparo.usuario = nomeUsuario;
    {
        fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
        preparo.diarioCriado = !DiarioExiste(t);
    }
    PrepararDiario(conexao);

    bool existe;
    {
        fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
        existe = !Nomes(t, "select RDB$ROLE_NAME from RDB$ROLES where RDB$ROLE_NAME = ?",
                        {DeUtf8(papel)})
                      .empty();
    }
    if (!existe) {
        Executar(conexao, "CREATE ROLE " + papel, "criar o papel " + papel);
        preparo.papelCriado = true;
    }

    // What the role holds already, as (privilege letter, object, column).
    std::set<std::tuple<char, std::string, std::string>> tem;
    std::vector<Concessao> faltam;
    bool membro = nomeUsuario.empty();
    {
        fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
        fb::Comando c(t,
                      std::string_view("select RDB$PRIVILEGE, RDB$RELATION_NAME, RDB$FIELD_NAME "
                                       "from RDB$USER_PRIVILEGES where RDB$USER = ?"),
                      "ler os direitos do papel " + papel);
        fb::Cursor r = c.Abrir({DeUtf8(papel)});
        while (r.Proximo()) {
            const std::string letra = Aparado(r.Texto(0u));
            tem.insert(
                {letra.empty() ? ' ' : letra[0], Aparado(r.Texto(1u)), Aparado(r.Texto(2u))});
        }
        for (const Concessao& k : ConcessoesDoPapel(t, &preparo.ausentes)) {
            // A right on the whole table covers each of its columns.
            if (!tem.contains({Letra(k.privilegio), k.objeto, k.coluna}) &&
                !tem.contains({Letra(k.privilegio), k.objeto, std::string()}))
                faltam.push_back(k);
        }
        if (!membro)
            membro = !Nomes(t,
                            "select RDB$RELATION_NAME from RDB$USER_PRIVILEGES where RDB$USER = ? "
                            "and RDB$RELATION_NAME = ? and RDB$PRIVILEGE = 'M'",
                            {DeUtf8(nomeUsuario), DeUtf8(papel)})
                          .empty();
    }

    // One GRANT per object and privilege, the columns of an UPDATE together, all committed at once.
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<std::string>> grants;
    for (const Concessao& c : faltam) {
        auto& colunas = grants[{c.privilegio, c.tipo, c.objeto}];
        if (!c.coluna.empty()) colunas.push_back(c.coluna);
    }
    if (!grants.empty()) {
        try {
            fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
            for (const auto& [chave, colunas] : grants) {
                const auto& [privilegio, tipo, objeto] = chave;
                std::string lista;
                for (const std::string& coluna : colunas)
                    lista += (lista.empty() ? "" : ", ") + coluna;
                const std::string sql = "GRANT " + privilegio +
                                        (lista.empty() ? "" : " (" + lista + ")") + " ON " + tipo +
                                        " " + objeto + " TO ROLE " + papel;
                fb::Comando(t, std::string_view(sql), "conceder direitos ao papel " + papel)
                    .Executar();
            }
            t.Commit();
        } catch (const ErroBanco& e) {
            throw e.Com("Não foi possível conceder ao papel " + papel +
                        " os direitos de que a DllKavlo precisa: " + e.what() +
                        ". Nenhum direito foi concedido; kavlo preparar é executado pelo dono do "
                        "banco de dados ou pelo SYSDBA.");
        }
        preparo.concedidas = std::move(faltam);
    }
    if (!membro) {
        Executar(conexao, "GRANT " + papel + " TO USER " + nomeUsuario,
                 "conceder o papel " + papel + " ao usuário " + nomeUsuario);
        preparo.usuarioIncluido = true;
    }
    return preparo;
}

}  // namespace kavlo
