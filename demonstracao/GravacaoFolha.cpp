#include "demonstracao/GravacaoFolha.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/EsquemaFolha.h"
#include "demonstracao/Referencias.h"
#include "util/Codificacao.h"
#include "util/Utils.h"

namespace kavlo::demo {
namespace {

fb::Parametro Texto(std::u16string_view t) {
    return std::u16string(t);
}
fb::Parametro TextoOuNulo(std::u16string_view t) {
    if (t.empty()) return fb::Nulo{};
    return std::u16string(t);
}
fb::Parametro Inteiro(int64_t v) {
    return v;
}
fb::Parametro Reais(int64_t centavos) {
    return static_cast<double>(centavos) / 100.0;
}
fb::Parametro InteiroOuNulo(const std::optional<int>& v) {
    if (!v) return fb::Nulo{};
    return int64_t{*v};
}
fb::Parametro ReaisOuNulo(const std::optional<int64_t>& centavos) {
    if (!centavos) return fb::Nulo{};
    return static_cast<double>(*centavos) / 100.0;
}
fb::Parametro DataOuNula(const std::optional<TDateTime>& d) {
    if (!d) return fb::Nulo{};
    return fb::Data{*d};
}

std::string SqlInsercao(std::string_view tabela, const std::vector<std::string>& colunas) {
    std::string sql = "insert into " + std::string(tabela) + " (";
    std::string marcas;
    for (size_t k = 0; k < colunas.size(); ++k) {
        sql += (k ? ", " : "") + colunas[k];
        marcas += k ? ", ?" : "?";
    }
    return sql + ") values (" + marcas + ")";
}

void ExecutarScript(fb::Transacao& t, const std::string& script) {
    size_t inicio = 0;
    for (size_t fim; (fim = script.find(';', inicio)) != std::string::npos; inicio = fim + 1)
        fb::Comando(t, std::string_view(script).substr(inicio, fim - inicio),
                    "criar as tabelas da folha")
            .Executar();
}

void GravarTabelasFixas(fb::Transacao& t) {
    fb::Comando(t, "insert into SFP003 (DESCRICAO) values (?)", "gravar o empregador")
        .Executar({Texto(kEmpregador)});
    fb::Comando bancos(t, "insert into SFPD9911 (NUMBANCO, NOMEBANCO) values (?, ?)",
                       "gravar os bancos");
    for (const auto& b : kBancos) bancos.Executar({Inteiro(b.numero), Texto(b.nome)});
    fb::Comando tipos(t, "insert into AFASTFOLHA (CODIGO, DESCRICAO) values (?, ?)",
                      "gravar os tipos de afastamento");
    for (const auto& a : kAfastamentos) tipos.Executar({Inteiro(a.codigo), Texto(a.descricao)});
}

void GravarTabelasDoMes(fb::Transacao& t, const std::string& m) {
    fb::Comando funcoes(t, "insert into SFP005" + m + " (CODIGO, CARGO) values (?, ?)",
                        "gravar as funções");
    for (const auto& f : kFuncoes) funcoes.Executar({Inteiro(f.codigo), Texto(f.cargo)});
    fb::Comando unidades(
        t,
        "insert into SFP006" + m + " (CDSECRETA, CDSETOR, CODORGAO, DESCRICAO) values (?, ?, ?, ?)",
        "gravar as unidades");
    for (const auto& u : kUnidades)
        unidades.Executar({Texto(u.secretaria), Texto(u.setor),
                           Texto(std::u16string(u.secretaria) + u"." + std::u16string(u.setor)),
                           Texto(u.descricao)});
    fb::Comando vinculos(t,
                         "insert into CFG_VINC" + m + " (ID_VINCULO, CONFIG_KAVLO) values (?, ?)",
                         "gravar os vínculos");
    std::vector<fb::Parametro> p;
    for (const auto& v : kVinculos) {
        p.assign(1, Inteiro(v.id));
        p.push_back(InteiroOuNulo(v.config));
        vinculos.Executar(p);
    }
}

class GravadorServidores {
  public:
    GravadorServidores(fb::Transacao& t, const std::string& m)
        : cadastro_(t,
                    SqlInsercao("SFP001" + m,
                                {"MATRICULA",  "NOME",      "CPF",      "IDENTIDADE", "TITELEITOR",
                                 "ZONA",       "SECAO",     "ESTCIVIL", "SEXO",       "DTNASC",
                                 "NOMEPAI",    "NOMEMAE",   "NUMDEPIR", "EMAIL",      "FONE",
                                 "FONE2",      "FONECEL",   "ENDERECO", "BAIRRO",     "CEP",
                                 "CIDADE",     "UF",        "BANCO",    "AGENCIA",    "DVAGENCIA",
                                 "CONTA",      "DVCONTA",   "GRINSTR",  "SISTEMA",    "FUNCAO",
                                 "DTADMISSAO", "CDSECRETA", "CDSETOR"}),
                    "gravar o cadastro de servidores de " + m),
          folha_(t, SqlInsercao("SFPDXX02" + m, ColunasFolha()), "gravar a folha de " + m) {}

    void Cadastro(const Servidor& v, bool mesAtual) {
        const Unidade& u = kUnidades[mesAtual ? v.unidade : v.unidadeAnterior];
        cadastro_.Executar({Texto(v.matricula),     Texto(v.nome),
                            Texto(v.cpf),           Texto(v.identidade),
                            Texto(v.titulo),        Texto(v.zona),
                            Texto(v.secao),         Texto(v.estCivil),
                            Texto(v.sexo),          DataOuNula(v.nascimento),
                            TextoOuNulo(v.pai),     TextoOuNulo(v.mae),
                            Inteiro(v.dependentes), TextoOuNulo(v.email),
                            TextoOuNulo(v.fone),    TextoOuNulo(v.fone2),
                            TextoOuNulo(v.celular), Texto(v.endereco),
                            Texto(v.bairro),        Texto(v.cep),
                            Texto(v.cidade),        Texto(v.uf),
                            Inteiro(v.banco),       Texto(v.agencia),
                            Texto(v.dvAgencia),     Texto(v.conta),
                            Texto(v.dvConta),       Texto(v.instrucao),
                            Inteiro(v.vinculo),     Inteiro(v.funcao),
                            DataOuNula(v.admissao), Texto(u.secretaria),
                            Texto(u.setor)});
    }

    // One payroll row; `variacao` shifts the variable pay so that the two months differ.
    void Folha(const Servidor& v, bool ativo, int64_t variacao) {
        const int64_t extras = std::max<int64_t>(0, v.extras + variacao);
        const int64_t bruto = v.salario + extras + v.extra1.value_or(0) + v.adNoturno;
        int64_t descontos = v.inss + v.irrf + v.faltas + v.sindical;
        for (const auto& d : v.slots)
            if (d) descontos += d->centavos;
        std::vector<fb::Parametro> p;
        p.reserve(101);
        p.insert(
            p.end(),
            {Texto(v.matricula), Texto(ativo ? u"T" : u"F"),
             ReaisOuNulo(v.tipoMargem == Margem::Nula ? std::nullopt : std::optional(v.margem)),
             Reais(v.baseIncide), Reais(bruto), Reais(bruto - descontos), Reais(descontos),
             Reais(v.salario), Reais(extras), ReaisOuNulo(v.extra1), Reais(v.adNoturno),
             Reais(v.irrf), Reais(v.inss), Reais(v.faltas), Reais(v.sindical)});
        for (size_t n = 1; n <= 17; ++n) {
            const auto& d = v.slots[n];
            if (!d) {
                p.insert(p.end(), 5, fb::Nulo{});
                continue;
            }
            p.push_back(Texto(d->codigo));
            p.push_back(Reais(d->centavos));
            if (d->quant) {
                p.insert(p.end(),
                         {Inteiro(d->quant), Inteiro(d->perc), Inteiro(d->quant - d->perc + 1)});
            } else {
                p.insert(p.end(), 3, fb::Nulo{});
            }
        }
        p.push_back(Texto(u"N"));
        folha_.Executar(p);
    }

  private:
    static std::vector<std::string> ColunasFolha() {
        std::vector<std::string> c = {"MATRICULA", "ATIVO",     "MCVALOR",  "MCBASEINCIDE",
                                      "REMUNTOT",  "LIQUIDO",   "TOTDESC",  "SALARIO",
                                      "VALEXTRAS", "VALEXTRA1", "VALADNOT", "IRRF",
                                      "INSS",      "VALFALTAS", "VALCS"};
        for (int n = 1; n <= 17; ++n)
            for (const char* stem : {"COD", "VALOR", "QUANT", "PERC", "TEMPO"})
                c.push_back(stem + std::to_string(n));
        c.push_back("RECALCULAR");
        return c;
    }
    fb::Comando cadastro_;
    fb::Comando folha_;
};

// The mark's table; its row holds kTextoDaMarca.
constexpr std::string_view kMarcaDemo =
    "CREATE TABLE KAVLO_DEMO (MARCA VARCHAR(60), SEMENTE DOUBLE PRECISION, SERVIDORES INTEGER)";

}  // namespace

void CriarBancoDaFolha(const Caminho& arquivo, const Competencia& c) {
    const std::string mes = ParaUtf8(MesAbreviado(c.mes));
    const std::string mesAnt = ParaUtf8(MesAbreviado(c.mesAnt));
    fb::Conexao conexao;
    // Nobody else uses the database while it is built, and a failed build removes it: the engine
    // need not wait for the disk after every page (MarcarBanco switches that back on).
    conexao.Criar(DeUtf8(arquivo.string()), kUsuarioBanco, kSenhaBanco,
                  fb::EscritaForcada::Desligar);
    {
        fb::Transacao ddl(conexao, fb::ModoTransacao::Escrita);
        ExecutarScript(ddl, EsquemaFixo() + EsquemaDoMes(mes) + EsquemaDoMes(mesAnt) +
                                std::string(kMarcaDemo) + ";\n");
        ddl.Commit();
    }
    fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
    GravarTabelasFixas(t);
    GravarTabelasDoMes(t, mes);
    GravarTabelasDoMes(t, mesAnt);
    t.Commit();
    conexao.Fechar();
}

// The connection, the transaction and the statements, declared in the order they depend on each
// other, so that they are freed in the reverse one.
struct GravacaoFolha::Estado {
    Estado(const Caminho& arquivo, const Competencia& c, uint32_t sementeDemo, Metade quais)
        : semente(sementeDemo), metade(quais) {
        // The login that created the database, not the site's: the demo is its owner.
        conexao.Abrir(DeUtf8(arquivo.string()), kUsuarioBanco, kSenhaBanco);
        t.emplace(conexao, fb::ModoTransacao::Escrita);
        if (metade == Metade::MesDaFolha) {
            gravador.emplace(*t, ParaUtf8(MesAbreviado(c.mes)));
            return;
        }
        gravador.emplace(*t, ParaUtf8(MesAbreviado(c.mesAnt)));
        evento.emplace(*t,
                       SqlInsercao("SFP017", {"MATRICULA", "CODFOL", "TIPO", "MESREF", "ANOREF",
                                              "DTINICIO", "DTFIM", "DTAVISO"}),
                       "gravar os eventos dos servidores");
    }

    uint32_t semente;
    Metade metade;
    fb::Conexao conexao;
    std::optional<fb::Transacao> t;
    std::optional<GravadorServidores> gravador;
    std::optional<fb::Comando> evento;
};

GravacaoFolha::GravacaoFolha(const Caminho& arquivo, const Competencia& c, uint32_t semente,
                             Metade metade)
    : estado_(std::make_unique<Estado>(arquivo, c, semente, metade)) {}

GravacaoFolha::~GravacaoFolha() = default;

void GravacaoFolha::Gravar(const Servidor& v, const std::vector<Evento>& eventos) {
    Estado& e = *estado_;
    if (e.metade == Metade::MesDaFolha) {
        e.gravador->Cadastro(v, true);
        e.gravador->Folha(v, v.ativo, 0);
        if (v.linhaInativaExtra) e.gravador->Folha(v, false, 0);
        return;
    }
    if (!v.novo) {
        Sorteio s(e.semente, kFluxoAnterior, static_cast<uint64_t>(v.indice));
        e.gravador->Cadastro(v, false);
        const int64_t variacao = s.Chance(0.3) ? s.Entre64(-5000, 20000) : 0;
        e.gravador->Folha(v, v.ativo || s.Chance(0.7), variacao);
    }
    for (const auto& ev : eventos)
        e.evento->Executar({Texto(ev.matricula), InteiroOuNulo(ev.codfol),
                            Texto(std::u16string(1, ev.tipo)), Inteiro(ev.mesRef),
                            Inteiro(ev.anoRef), fb::Data{ev.inicio}, DataOuNula(ev.fim),
                            DataOuNula(ev.aviso)});
}

void GravacaoFolha::Concluir() {
    Estado& e = *estado_;
    e.evento.reset();
    e.gravador.reset();
    e.t->Commit();
    e.t.reset();
    e.conexao.Fechar();
}

void MarcarBanco(const Caminho& arquivo, uint32_t semente, int servidores) {
    fb::Conexao conexao;
    conexao.Abrir(DeUtf8(arquivo.string()), kUsuarioBanco, kSenhaBanco, fb::EscritaForcada::Ligar);
    fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
    fb::Comando(t, std::string_view("INSERT INTO KAVLO_DEMO VALUES (?, ?, ?)"),
                "marcar o banco de demonstração")
        .Executar({DeUtf8(kTextoDaMarca), static_cast<double>(semente), Inteiro(servidores)});
    t.Commit();
    conexao.Fechar();
}

}  // namespace kavlo::demo
