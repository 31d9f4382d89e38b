// kavlo importar: the import as a host calls it, through the exported function. A simulation and
// a deliberate second import of the same file are things a host cannot ask for; for those the tool
// runs the same import inside its own process with the option set.
#include <fmt/core.h>

#include <memory>

#include "DllKavlo.h"
#include "cli/Comandos.h"
#include "cli/Progresso.h"
#include "dao/BancoFolha.h"
#include "entry/Chamadas.h"
#include "import/Diario.h"
#include "import/RelatorioSemMargem.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Sha256.h"

namespace kavlo::cli {
namespace {

void ListarLinhas(const std::vector<LinhaIgnorada>& linhas) {
    for (const auto& l : linhas) fmt::print("      linha {}: {}\n", l.linha, ParaMensagem(l.chave));
}

void MostrarResumo(const ResumoImportacao& r, bool comLinhas) {
    const bool s = r.simulacao;
    if (s)
        fmt::print("Simulação concluída: nenhuma parcela foi gravada no banco de dados.\n");
    else
        fmt::print("Importação {} concluída.\n", r.id);
    if (!r.aviso.empty()) fmt::print("  Aviso: {}\n", r.aviso);
    fmt::print("  Linhas lidas do arquivo de retorno: {} ({} de parcelas)\n", r.linhas, r.detalhes);
    fmt::print("  Margem verificada: {}\n", r.margemVerificada ? "sim" : "não");
    fmt::print("  Parcelas {}descontadas integralmente: {}\n", s ? "que seriam " : "", r.integral);
    fmt::print("  Parcelas {} descontadas por falta de margem: {}\n", s ? "que não seriam" : "não",
               r.naoDescontadas);
    fmt::print("  Parcelas sem slot de desconto livre: {}\n", r.semSlot);
    fmt::print("  Linhas com servidor não encontrado no mês: {}\n", r.naoEncontradas.size());
    if (comLinhas) ListarLinhas(r.naoEncontradas);
    fmt::print("  Linhas com servidor inativo no mês: {}\n", r.inativas.size());
    if (comLinhas) ListarLinhas(r.inativas);
    fmt::print("  Total {}: R$ {}\n", s ? "que seria descontado" : "descontado",
               ReaisLegiveis(r.totalCentavos));
    fmt::print("  Arquivo de resultado: {}\n", ParaUtf8(r.resultado));
    fmt::print("  Relatório de servidores sem margem: {}\n", ParaUtf8(r.relatorio));
}

// After the exported call: what it did, from the journal row it left for this file and month.
ResumoImportacao ResumoDoDiario(const std::string& banco, const std::string& retorno, int mes,
                                int ano) {
    const std::string hash = Sha256(LerBytes(CaminhoDe(DeUtf8(retorno))));
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, DeUtf8(banco));
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    const auto imp = ImportacaoDoMesmoArquivo(t, hash, mes, ano);
    if (!imp) throw Erro("a importação terminou, mas não foi encontrada no diário do banco.");
    ResumoImportacao r;
    r.id = imp->id;
    r.linhas = imp->linhas;
    r.detalhes =
        imp->descontadas + imp->naoDescontadas + imp->semSlot + imp->naoEncontradas + imp->inativas;
    r.integral = imp->descontadas;
    r.naoDescontadas = imp->naoDescontadas;
    r.semSlot = imp->semSlot;
    r.naoEncontradas.resize(static_cast<size_t>(imp->naoEncontradas));
    r.inativas.resize(static_cast<size_t>(imp->inativas));
    r.totalCentavos = imp->totalCentavos;
    r.margemVerificada = imp->margemVerificada;
    r.resultado = imp->resultado;
    r.relatorio = CaminhoRelatorio(SemLocalhost(DeUtf8(banco)), imp->resultado);
    return r;
}

}  // namespace

Subcomando RegistrarImportar(CLI::App& app) {
    struct Opcoes {
        std::string mes, ano, banco, resultado, retorno, folhas, verificaMargem = "S";
        bool simular = false, reimportar = false;
    };
    auto o = std::make_shared<Opcoes>();
    CLI::App* sub =
        NovoSubcomando(app, "importar", "Importa o arquivo de retorno da consignatária");
    sub->add_option("--mes", o->mes, "Mês da folha (1 a 12)")->required();
    sub->add_option("--ano", o->ano, "Ano da folha")->required();
    sub->add_option("--banco", o->banco, "Banco de dados da folha (arquivo, ou localhost:arquivo)")
        ->required();
    sub->add_option("--resultado", o->resultado, "Arquivo de resultado a gravar")->required();
    sub->add_option("--retorno", o->retorno, "Arquivo de retorno recebido da consignatária")
        ->required();
    sub->add_option("--folhas", o->folhas, "Folhas de pagamento envolvidas (ex.: MENSAL, ABONO)");
    sub->add_option(
           "--verifica-margem", o->verificaMargem,
           "\"S\" só desconta quando a margem cobre a parcela; outro valor desconta sempre")
        ->capture_default_str();
    sub->add_flag("--simular", o->simular,
                  "Faz tudo e grava o resultado e o relatório, mas desfaz os lançamentos no banco");
    sub->add_flag("--reimportar", o->reimportar,
                  "Lança de novo um arquivo que o diário mostra já importado para o mês");
    return {sub, [o] {
                ProgressoNoTerminal progresso;
                if (o->simular || o->reimportar) {
                    OpcoesImportacao opcoes;
                    opcoes.simular = o->simular;
                    opcoes.reimportar = o->reimportar;
                    const ResumoImportacao r = ImportarRetorno(
                        {DeUtf8(o->mes), DeUtf8(o->ano), DeUtf8(o->banco), DeUtf8(o->resultado),
                         DeUtf8(o->retorno), DeUtf8(o->folhas), DeUtf8(o->verificaMargem)},
                        opcoes);
                    MostrarResumo(r, true);
                    return 0;
                }
                ImportarArquivo(Host(o->mes), Host(o->ano), Host(o->banco), Host(o->resultado),
                                Host(o->retorno), Host(o->folhas), Host(o->verificaMargem));
                MostrarResumo(ResumoDoDiario(o->banco, o->retorno, StrToInt(DeUtf8(o->mes)),
                                             StrToInt(DeUtf8(o->ano))),
                              false);
                return 0;
            }};
}

}  // namespace kavlo::cli
