#include "import/Diario.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "dao/BancoFolha.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"

namespace kavlo {

// Dialect 1 has no BIGINT: cents are kept in a DOUBLE PRECISION, exact for whole numbers far
// beyond any payroll. Values copied from the payroll's columns keep their stored form: texts as
// octets, numbers as doubles, so that undoing writes back exactly what was there.
const std::vector<ObjetoDiario> kDiario = {
    {"GENERATOR", "KAVLO_IMPORTACAO_ID", "CREATE GENERATOR KAVLO_IMPORTACAO_ID"},
    {"TABLE", "KAVLO_IMPORTACAO",
     "CREATE TABLE KAVLO_IMPORTACAO (\n"
     "  ID INTEGER NOT NULL PRIMARY KEY,\n"
     "  QUANDO TIMESTAMP NOT NULL,\n"
     "  USUARIO VARCHAR(100) CHARACTER SET UTF8,\n"
     "  MAQUINA VARCHAR(100) CHARACTER SET UTF8,\n"
     "  ARQUIVO VARCHAR(1000) CHARACTER SET UTF8,\n"
     "  HASH_SHA256 CHAR(64) CHARACTER SET ASCII NOT NULL,\n"
     "  HASH_CONTEUDO CHAR(64) CHARACTER SET ASCII,\n"
     "  MES SMALLINT NOT NULL,\n"
     "  ANO SMALLINT NOT NULL,\n"
     "  TABELA VARCHAR(31) CHARACTER SET ASCII NOT NULL,\n"
     "  FOLHAS VARCHAR(1000) CHARACTER SET UTF8,\n"
     "  VERIFICA_MARGEM VARCHAR(100) CHARACTER SET UTF8,\n"
     "  MARGEM_VERIFICADA CHAR(1) NOT NULL,\n"
     "  REIMPORTACAO CHAR(1) NOT NULL,\n"
     "  LINHAS INTEGER,\n"
     "  DESCONTADAS INTEGER,\n"
     "  NAO_DESCONTADAS INTEGER,\n"
     "  SEM_SLOT INTEGER,\n"
     "  NAO_ENCONTRADAS INTEGER,\n"
     "  INATIVAS INTEGER,\n"
     "  TOTAL_CENTAVOS DOUBLE PRECISION,\n"
     "  RESULTADO VARCHAR(1000) CHARACTER SET UTF8,\n"
     "  ESTORNO_QUANDO TIMESTAMP,\n"
     "  ESTORNO_USUARIO VARCHAR(100) CHARACTER SET UTF8,\n"
     "  ESTORNO_MAQUINA VARCHAR(100) CHARACTER SET UTF8\n"
     ")"},
    {"INDEX", "KAVLO_IMPORTACAO_ARQUIVO",
     "CREATE INDEX KAVLO_IMPORTACAO_ARQUIVO ON KAVLO_IMPORTACAO (HASH_SHA256, ANO, MES)"},
    // Journals made before the lines were hashed get the column; their rows keep guarding by the
    // hash of the bytes.
    {"COLUMN", "HASH_CONTEUDO",
     "ALTER TABLE KAVLO_IMPORTACAO ADD HASH_CONTEUDO CHAR(64) CHARACTER SET ASCII"},
    {"INDEX", "KAVLO_IMPORTACAO_CONTEUDO",
     "CREATE INDEX KAVLO_IMPORTACAO_CONTEUDO ON KAVLO_IMPORTACAO (HASH_CONTEUDO, TABELA)"},
    {"TABLE", "KAVLO_LANCAMENTO",
     "CREATE TABLE KAVLO_LANCAMENTO (\n"
     "  ID_IMPORTACAO INTEGER NOT NULL,\n"
     "  LINHA_RETORNO INTEGER NOT NULL,\n"
     "  MATRICULA VARCHAR(1000) CHARACTER SET UTF8,\n"
     "  CHAVE_LINHA CHAR(8) CHARACTER SET OCTETS NOT NULL,\n"
     "  SLOT SMALLINT NOT NULL,\n"
     "  COD_ANTES VARCHAR(1000) CHARACTER SET OCTETS,\n"
     "  COD_DEPOIS VARCHAR(1000) CHARACTER SET OCTETS,\n"
     "  VALOR_ANTES DOUBLE PRECISION,\n"
     "  VALOR_DEPOIS DOUBLE PRECISION,\n"
     "  QUANT_ANTES DOUBLE PRECISION,\n"
     "  QUANT_DEPOIS DOUBLE PRECISION,\n"
     "  PERC_ANTES DOUBLE PRECISION,\n"
     "  PERC_DEPOIS DOUBLE PRECISION,\n"
     "  TEMPO_ANTES DOUBLE PRECISION,\n"
     "  TEMPO_DEPOIS DOUBLE PRECISION,\n"
     "  MCVALOR_ANTES DOUBLE PRECISION,\n"
     "  MCVALOR_DEPOIS DOUBLE PRECISION,\n"
     "  RECALCULAR_ANTES VARCHAR(1000) CHARACTER SET OCTETS,\n"
     "  RECALCULAR_DEPOIS VARCHAR(1000) CHARACTER SET OCTETS,\n"
     "  CONSTRAINT KAVLO_LANCAMENTO_IMPORTACAO FOREIGN KEY (ID_IMPORTACAO)\n"
     "    REFERENCES KAVLO_IMPORTACAO (ID)\n"
     ")"},
};

namespace {

bool Existe(fb::Transacao& t, const ObjetoDiario& objeto) {
    const std::string sql =
        objeto.tipo == "GENERATOR" ? "select 1 from RDB$GENERATORS where RDB$GENERATOR_NAME = ?"
        : objeto.tipo == "INDEX"   ? "select 1 from RDB$INDICES where RDB$INDEX_NAME = ?"
        : objeto.tipo == "COLUMN"  ? "select 1 from RDB$RELATION_FIELDS where RDB$RELATION_NAME = "
                                     "'KAVLO_IMPORTACAO' and RDB$FIELD_NAME = ?"
                                   : "select 1 from RDB$RELATIONS where RDB$RELATION_NAME = ?";
    fb::Comando c(t, std::string_view(sql), "consultar o diário de importações");
    fb::Cursor r = c.Abrir({DeUtf8(objeto.nome)});
    return r.Proximo();
}

// Whether the journal has the hash of the lines: one made before it has not, until the next
// import adds it (listing, checking and undoing change no table).
bool TemHashConteudo(fb::Transacao& t) {
    return Existe(t, {"COLUMN", "HASH_CONTEUDO", {}});
}

// The columns Ler reads, in its order.
std::string Colunas(fb::Transacao& t) {
    return std::string(
               "ID, QUANDO, USUARIO, MAQUINA, ARQUIVO, HASH_SHA256, MES, ANO, TABELA, FOLHAS, "
               "VERIFICA_MARGEM, MARGEM_VERIFICADA, REIMPORTACAO, LINHAS, DESCONTADAS, "
               "NAO_DESCONTADAS, SEM_SLOT, NAO_ENCONTRADAS, INATIVAS, TOTAL_CENTAVOS, RESULTADO, "
               "ESTORNO_QUANDO, ESTORNO_USUARIO, ESTORNO_MAQUINA, ") +
           (TemHashConteudo(t) ? "HASH_CONTEUDO" : "cast(null as char(64)) as HASH_CONTEUDO");
}

ImportacaoRegistrada Ler(const fb::Cursor& c) {
    ImportacaoRegistrada i;
    i.id = c.Inteiro(0u);
    i.quando = c.Data(1u);
    i.usuario = c.Texto(2u);
    i.maquina = c.Texto(3u);
    i.arquivo = c.TextoComoGravado(4u);
    i.hash = c.Texto(5u);
    i.mes = c.Inteiro(6u);
    i.ano = c.Inteiro(7u);
    i.tabela = c.Texto(8u);
    i.folhas = c.Texto(9u);
    i.verificaMargem = c.Texto(10u);
    i.margemVerificada = c.Texto(11u) == u"S";
    i.reimportacao = c.Texto(12u) == u"S";
    i.linhas = c.Inteiro(13u);
    i.descontadas = c.Inteiro(14u);
    i.naoDescontadas = c.Inteiro(15u);
    i.semSlot = c.Inteiro(16u);
    i.naoEncontradas = c.Inteiro(17u);
    i.inativas = c.Inteiro(18u);
    i.totalCentavos = std::llround(c.Real(19u));
    i.resultado = c.TextoComoGravado(20u);
    if (!c.Nulo(21u)) i.estornoQuando = c.Data(21u);
    i.estornoUsuario = c.Texto(22u);
    i.estornoMaquina = c.Texto(23u);
    i.hashConteudo = c.Texto(24u);
    return i;
}

}  // namespace

void PrepararDiario(fb::Conexao& conexao) {
    for (const ObjetoDiario& objeto : kDiario) {
        try {
            {
                fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
                if (Existe(t, objeto)) continue;
            }
            fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
            fb::Comando(t, objeto.ddl, "criar o diário de importações").Executar();
            t.Commit();
        } catch (const ErroBanco& e) {
            // Another import may have created it a moment ago, and its commit may still be on
            // its way when ours fails on the same name: look again for a little while.
            bool criadoPorOutra = false;
            for (int tentativa = 0; tentativa < 20 && !criadoPorOutra; ++tentativa) {
                if (tentativa > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
                try {
                    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
                    criadoPorOutra = Existe(t, objeto);
                } catch (const ErroBanco&) {
                }
            }
            if (criadoPorOutra) continue;
            throw e.Com("Não foi possível criar o diário de importações (" +
                        std::string(objeto.nome) + ") no banco de dados: " + e.what() +
                        ". A importação não lança parcelas sem registrá-las no diário; verifique "
                        "se o banco responde, aceita gravação e se o usuário pode criar tabelas.");
        }
    }
}

bool DiarioExiste(fb::Transacao& transacao) {
    for (const ObjetoDiario& objeto : kDiario)
        if ((objeto.tipo == "TABLE" || objeto.tipo == "GENERATOR") && !Existe(transacao, objeto))
            return false;
    return true;
}

int32_t NovoIdImportacao(fb::Transacao& transacao, bool provisorio) {
    fb::Comando c(transacao,
                  std::string_view(provisorio ? "select gen_id(KAVLO_IMPORTACAO_ID, 0) + 1 from "
                                                "RDB$DATABASE"
                                              : "select gen_id(KAVLO_IMPORTACAO_ID, 1) from "
                                                "RDB$DATABASE"),
                  "numerar a importação no diário");
    fb::Cursor r = c.Abrir();
    r.Proximo();
    return r.Inteiro(0u);
}

std::optional<ImportacaoRegistrada> ImportacaoDoMesmoArquivo(fb::Transacao& transacao,
                                                             std::string_view hashConteudo,
                                                             std::string_view hash,
                                                             std::u16string_view tabela) {
    // A row written before the lines were hashed has only the hash of its bytes.
    const bool conteudo = TemHashConteudo(transacao);
    fb::Comando c(transacao,
                  "select first 1 " + Colunas(transacao) +
                      " from KAVLO_IMPORTACAO where TABELA = ? and ESTORNO_QUANDO is null and " +
                      (conteudo ? "(HASH_CONTEUDO = ? or (HASH_CONTEUDO is null and "
                                  "HASH_SHA256 = ?))"
                                : "HASH_SHA256 = ?") +
                      " order by ID desc",
                  "consultar o diário de importações");
    std::vector<fb::Parametro> p = {std::u16string(tabela)};
    if (conteudo) p.emplace_back(DeUtf8(hashConteudo));
    p.emplace_back(DeUtf8(hash));
    fb::Cursor r = c.Abrir(p);
    if (!r.Proximo()) return std::nullopt;
    return Ler(r);
}

void RegistrarImportacao(fb::Transacao& transacao, const ImportacaoRegistrada& i) {
    fb::Comando c(transacao,
                  std::string_view(
                      "insert into KAVLO_IMPORTACAO (ID, QUANDO, USUARIO, MAQUINA, ARQUIVO, "
                      "HASH_SHA256, HASH_CONTEUDO, MES, ANO, TABELA, FOLHAS, VERIFICA_MARGEM, "
                      "MARGEM_VERIFICADA, REIMPORTACAO, RESULTADO) values (?, current_timestamp, "
                      "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                  "registrar a importação no diário");
    c.Executar({int64_t{i.id}, i.usuario, i.maquina, i.arquivo, i.hash, i.hashConteudo,
                int64_t{i.mes}, int64_t{i.ano}, i.tabela, i.folhas, i.verificaMargem,
                std::u16string(i.margemVerificada ? u"S" : u"N"),
                std::u16string(i.reimportacao ? u"S" : u"N"), i.resultado});
}

void RegistrarContagens(fb::Transacao& transacao, const ImportacaoRegistrada& i) {
    fb::Comando c(transacao,
                  std::string_view("update KAVLO_IMPORTACAO set LINHAS = ?, DESCONTADAS = ?, "
                                   "NAO_DESCONTADAS = ?, SEM_SLOT = ?, NAO_ENCONTRADAS = ?, "
                                   "INATIVAS = ?, TOTAL_CENTAVOS = ? where ID = ?"),
                  "registrar a importação no diário");
    if (c.Executar({i.linhas, i.descontadas, i.naoDescontadas, i.semSlot, i.naoEncontradas,
                    i.inativas, static_cast<double>(i.totalCentavos), int64_t{i.id}}) != 1)
        throw ErroBanco("A importação " + std::to_string(i.id) +
                        " não foi encontrada no diário ao registrar suas contagens.");
}

std::optional<ImportacaoRegistrada> BuscarImportacao(fb::Transacao& transacao, int32_t id) {
    fb::Comando c(transacao, "select " + Colunas(transacao) + " from KAVLO_IMPORTACAO where ID = ?",
                  "consultar o diário de importações");
    fb::Cursor r = c.Abrir({int64_t{id}});
    if (!r.Proximo()) return std::nullopt;
    return Ler(r);
}

std::vector<ImportacaoRegistrada> ListarImportacoes(fb::Transacao& transacao) {
    fb::Comando c(transacao,
                  "select " + Colunas(transacao) + " from KAVLO_IMPORTACAO order by ID desc",
                  "consultar o diário de importações");
    fb::Cursor r = c.Abrir();
    std::vector<ImportacaoRegistrada> lista;
    while (r.Proximo()) lista.push_back(Ler(r));
    return lista;
}

std::string DescreverImportacao(const ImportacaoRegistrada& i) {
    char referencia[32];
    std::snprintf(referencia, sizeof referencia, "%02d/%04d", i.mes, i.ano);
    return "importação " + std::to_string(i.id) + " de " +
           ParaUtf8(FormatarData(i.quando, u"dd/mm/yyyy hh:nn")) + " por " +
           ParaMensagem(i.usuario) + " em " + ParaMensagem(i.maquina) + ", para " + referencia +
           ", do arquivo " + Aspas(i.arquivo) + " (" + std::to_string(i.descontadas) +
           (i.descontadas == 1 ? " parcela descontada" : " parcelas descontadas") + ", total R$ " +
           ReaisLegiveis(i.totalCentavos) + ")";
}

std::string JaImportado(const ImportacaoRegistrada& anterior, std::u16string_view arquivo) {
    const std::string id = std::to_string(anterior.id);
    return "O arquivo de retorno " + Aspas(arquivo) + " já foi importado na tabela " +
           ParaMensagem(anterior.tabela) +
           " deste banco de dados, com as mesmas linhas: " + DescreverImportacao(anterior) +
           ". O mesmo arquivo é reconhecido pelas linhas que traz, qualquer que seja seu nome, "
           "sua codificação, suas quebras de linha ou o ano informado. Nada foi lançado agora. "
           "Para importar o mesmo arquivo de novo, estorne antes a importação " +
           id + " (kavlo estornar --importacao " + id +
           ") ou, se a intenção é mesmo lançar as parcelas outra vez, use kavlo importar "
           "--reimportar.";
}

EstadoGravacao VerificarGravacao(std::u16string_view caminhoBanco, int32_t id, int64_t transacao,
                                 double segundos, std::string& motivo) {
    using Relogio = std::chrono::steady_clock;
    const auto limite = Relogio::now() + std::chrono::duration<double>(segundos);
    for (;;) {
        try {
            fb::Conexao conexao;
            AbrirBancoDaFolha(conexao, caminhoBanco);
            // First whether the import's transaction still lives (the server may still be
            // committing it); only once it is gone does an absent row mean "not committed".
            bool viva;
            {
                fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
                fb::Comando c(t,
                              std::string_view("select 1 from MON$TRANSACTIONS where "
                                               "MON$TRANSACTION_ID = ?"),
                              "verificar se a importação foi gravada");
                fb::Cursor r = c.Abrir({transacao});
                viva = r.Proximo();
            }
            fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
            fb::Comando c(t, std::string_view("select 1 from KAVLO_IMPORTACAO where ID = ?"),
                          "verificar se a importação foi gravada");
            fb::Cursor r = c.Abrir({int64_t{id}});
            if (r.Proximo()) return EstadoGravacao::Gravada;
            if (!viva) return EstadoGravacao::NaoGravada;
            motivo = "a transação da importação ainda está aberta no servidor";
        } catch (const Erro& e) {
            motivo = e.what();
        }
        if (Relogio::now() >= limite) return EstadoGravacao::Desconhecida;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

}  // namespace kavlo
