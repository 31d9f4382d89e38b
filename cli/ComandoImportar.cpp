// kavlo importar: the import a host calls, after the same check kavlo verificar makes, run inside
// the tool's process so that it posts from the check's read of the return file: one pass over the
// file checks it, hashes it and gathers its keys, and the import's pass posts, failing if the
// bytes are no longer those the check read. A simulation and a deliberate second import of the
// same file, which a host cannot ask for, are the same call with the option set.
#include <fmt/core.h>

#include <memory>

#include "DllKavlo.h"
#include "cli/Comandos.h"
#include "cli/Interrupcao.h"
#include "cli/Json.h"
#include "cli/Progresso.h"
#include "cli/Validacao.h"
#include "dao/BancoFolha.h"
#include "entry/Chamadas.h"
#include "import/ArquivosDaImportacao.h"
#include "util/ArquivoTemporario.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo::cli {
namespace {

// Lines of one kind shown on the screen; the rest go to the file beside the result.
constexpr size_t kLimiteNaTela = 20;

struct Opcoes {
    std::string mes, ano, banco, resultado, retorno, folhas, verificaMargem = "S";
    bool simular = false, reimportar = false, forcar = false, json = false;
};

void ListarLinhas(const LinhasIgnoradas& linhas) {
    size_t mostradas = 0;
    for (; mostradas < linhas.primeiras.size() && mostradas < kLimiteNaTela; ++mostradas)
        fmt::print("      linha {}: {}\n", linhas.primeiras[mostradas].linha,
                   ParaMensagem(linhas.primeiras[mostradas].chave));
    if (linhas.total > static_cast<int64_t>(mostradas))
        fmt::print("      ... e mais {} (todas no arquivo de verificação)\n",
                   linhas.total - static_cast<int64_t>(mostradas));
}

void MostrarResumo(const ResumoImportacao& r) {
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
    fmt::print("  Linhas com servidor não encontrado no mês: {}\n", r.naoEncontradas.total);
    ListarLinhas(r.naoEncontradas);
    fmt::print("  Linhas com servidor inativo no mês: {}\n", r.inativas.total);
    ListarLinhas(r.inativas);
    fmt::print("  Total {}: R$ {}\n", s ? "que seria descontado" : "descontado",
               ReaisLegiveis(r.totalCentavos));
    fmt::print("  Arquivo de resultado: {}\n", ParaUtf8(r.resultado));
    if (r.relatorio.empty())
        fmt::print("  Aviso: {}\n", r.avisoRelatorio);
    else
        fmt::print("  Relatório de servidores sem margem: {}\n", ParaUtf8(r.relatorio));
    fmt::print("  Cópia do relatório, ao lado do resultado: {}\n", ParaUtf8(r.copiaRelatorio));
    fmt::print("  Linhas recusadas ({}, R$ {}), no leiaute do retorno: {}\n", r.linhasRecusadas,
               ReaisLegiveis(r.centavosRecusados), ParaUtf8(r.recusadas));
}

Json JsonDasLinhas(const LinhasIgnoradas& linhas) {
    Json lista = Json::array();
    for (const auto& l : linhas.primeiras)
        lista.push_back(Json{{"linha", l.linha}, {"chave", ParaUtf8(l.chave)}});
    return Json{{"total", linhas.total}, {"primeiras", std::move(lista)}};
}

// The summary MostrarResumo prints, for a program.
Json JsonDoResumo(const ResumoImportacao& r) {
    Json j{{"comando", "importar"}, {"importado", true}, {"simulacao", r.simulacao}};
    j["importacao"] = r.simulacao ? Json() : Json(r.id);
    if (!r.aviso.empty()) j["aviso"] = r.aviso;
    j["linhas"] = r.linhas;
    j["parcelas"] = r.detalhes;
    j["margem_verificada"] = r.margemVerificada;
    j["descontadas_integralmente"] = r.integral;
    j["nao_descontadas"] = r.naoDescontadas;
    j["sem_slot"] = r.semSlot;
    j["nao_encontradas"] = JsonDasLinhas(r.naoEncontradas);
    j["inativas"] = JsonDasLinhas(r.inativas);
    Dinheiro(j, "total", r.totalCentavos);
    j["arquivos"] = Json{{"resultado", ParaUtf8(r.resultado)},
                         {"relatorio", r.relatorio.empty() ? Json() : Json(ParaUtf8(r.relatorio))},
                         {"copia_relatorio", ParaUtf8(r.copiaRelatorio)},
                         {"recusadas", ParaUtf8(r.recusadas)}};
    if (!r.avisoRelatorio.empty()) j["aviso_relatorio"] = r.avisoRelatorio;
    j["recusadas"] = r.linhasRecusadas;
    Dinheiro(j, "total_recusado", r.centavosRecusados);
    return j;
}

// Every file this command writes (the check's findings too) against each other and the
// database, before the check reads anything, on the connection the check then uses.
ArquivosDaImportacao ConferirArquivos(const Opcoes& o, fb::Conexao& conexao) {
    const std::u16string banco = DeUtf8(o.banco);
    ArquivosDaImportacao a =
        NomesDaImportacao(banco, DeUtf8(o.resultado), DeUtf8(o.retorno), o.simular);
    AbrirBancoDaFolha(conexao, banco);
    ConferirArquivosDaImportacao(a, banco, conexao, true);
    return a;
}

// The check's verdict before anything is posted; true when the import may go on. What was
// imported before is overridden by --reimportar only; what looks wrong in the file, by --forcar
// only; what the import would fail on, by nothing.
bool PodeImportar(const Opcoes& o, const Verificacao& v) {
    bool impede = false, jaImportado = false;
    for (const Achado& a : v.achados) {
        if (a.gravidade != Gravidade::Impede) continue;
        const bool doDiario = a.tipo == TipoAchado::JaImportado || a.tipo == TipoAchado::JaLancada;
        jaImportado |= doDiario && !o.reimportar;
        impede |= !doDiario;
    }
    const bool suspeita = v.Tem(Gravidade::Suspeita) && !o.forcar;
    if (!impede && !jaImportado && !suspeita) return true;
    if (o.json) {
        Json j{{"comando", "importar"}, {"importado", false}};
        j["verificacao"] = JsonDaVerificacao(v);
        ImprimirJson(j);
    }
    fmt::print(stderr, "Nada foi lançado: a verificação do arquivo de retorno encontrou\n");
    if (impede || jaImportado) {
        fmt::print(stderr, "  o que faria a importação falhar ou ser recusada:\n");
        MostrarAchados(stderr, v, Gravidade::Impede, kLimiteNaTela);
    }
    if (suspeita) {
        fmt::print(stderr,
                   "  o que precisa ser conferido antes de lançar (linhas deslocadas, outra "
                   "codificação ou competência, CPFs ou nomes de outras pessoas, parcelas "
                   "repetidas, valores e contadores fora do comum, arquivo sem parcelas):\n");
        MostrarAchados(stderr, v, Gravidade::Suspeita, kLimiteNaTela);
        fmt::print(stderr,
                   "Confira o arquivo (kavlo verificar ... --todas mostra tudo). Se ele estiver "
                   "certo, importe-o com --forcar.\n");
    }
    if (impede)
        fmt::print(stderr,
                   "Corrija o que faria a importação falhar (ou peça o arquivo corrigido à "
                   "consignatária) e importe de novo; --forcar não passa por cima disso.\n");
    return false;
}

}  // namespace

Subcomando RegistrarImportar(CLI::App& app) {
    auto o = std::make_shared<Opcoes>();
    CLI::App* sub =
        NovoSubcomando(app, "importar", "Importa o arquivo de retorno da consignatária");
    OpcaoMes(sub, o->mes);
    OpcaoAno(sub, o->ano);
    OpcaoBanco(sub, o->banco);
    OpcaoTexto(sub, "--resultado", o->resultado, "Arquivo de resultado a gravar");
    OpcaoTexto(sub, "--retorno", o->retorno, "Arquivo de retorno recebido da consignatária");
    sub->add_option("--folhas", o->folhas,
                    "Folhas de pagamento envolvidas (ex.: MENSAL, ABONO), gravadas no diário. Só "
                    "muda a situação escrita no resultado: com ABONO no texto, uma demissão não "
                    "conta e só os afastamentos do mês tornam o servidor inativo");
    OpcaoVerificaMargem(sub, o->verificaMargem,
                        "S só desconta a parcela que a margem do servidor cobre (as outras vão "
                        "para o relatório de servidores sem margem); N desconta todas, mesmo sem "
                        "margem");
    sub->add_flag("--simular", o->simular,
                  "Faz tudo e grava o resultado e o relatório com .SIMULACAO no nome, mas desfaz "
                  "os lançamentos no banco");
    sub->add_flag("--reimportar", o->reimportar,
                  "Lança de novo um arquivo, ou parcelas, que o diário mostra já lançados na "
                  "tabela do mês por uma importação não estornada");
    sub->add_flag("--forcar", o->forcar,
                  "Importa mesmo que a verificação aponte o que pede conferência: linhas "
                  "deslocadas, outra codificação ou competência, CPFs ou nomes que não batem, "
                  "parcelas repetidas, valores e contadores fora do comum, arquivo sem parcelas");
    OpcaoJson(sub, o->json);
    sub->footer(
        "Exemplos:\n"
        "  kavlo importar --mes 2 --ano 2024 --banco /dados/folha.fdb --resultado "
        "/dados/resultado.txt \\\n"
        "                 --retorno /dados/retorno.txt --folhas MENSAL --simular\n"
        "  kavlo importar --mes 2 --ano 2024 --banco /dados/folha.fdb --resultado "
        "/dados/resultado.txt \\\n"
        "                 --retorno /dados/retorno.txt --folhas MENSAL --verifica-margem S");
    return {sub,
            [o] {
                // Held open until the command ends: an embedded engine then keeps the database
                // open, with the pages the check read in its cache, for the import's connection.
                fb::Conexao conexao;
                const ArquivosDaImportacao arquivos = ConferirArquivos(*o, conexao);
                std::optional<ArquivoDeRetorno> lido;
                const Verificacao v = VerificarAntes(
                    conexao, {o->banco, o->mes, o->ano, o->retorno, o->verificaMargem == "S"},
                    &lido);
                if (!PodeImportar(*o, v)) return kSaidaVerificacao;
                Interrupcao::Conferir();

                ProgressoNoTerminal progresso;
                OpcoesImportacao opcoes;
                opcoes.simular = o->simular;
                opcoes.reimportar = o->reimportar;
                const ResumoImportacao r = ImportarRetorno(
                    {DeUtf8(o->mes), DeUtf8(o->ano), DeUtf8(o->banco), DeUtf8(o->resultado),
                     DeUtf8(o->retorno), DeUtf8(o->folhas), DeUtf8(o->verificaMargem)},
                    opcoes, std::move(*lido));
                Interrupcao::Terminou();
                // A commit settled by the journal, on standard error as a host is told it.
                if (!o->simular && !o->reimportar && !Detalhes() && !r.aviso.empty())
                    fmt::print(stderr, "Aviso: {}\n", r.aviso);
                if (!o->json) MostrarResumo(r);
                // Everything the check found, beside the result, for the record.
                const Caminho verificacao = CaminhoDe(arquivos.verificacao);
                bool verificacaoGravada = false;
                try {
                    ArquivoTemporario f(verificacao);
                    f.Escrever(TextoDosAchados(v));
                    f.Confirmar();
                    verificacaoGravada = true;
                    if (!o->json)
                        fmt::print("  Verificação do arquivo de retorno ({} ocorrências): {}\n",
                                   v.achados.size(), NomeParaMensagem(verificacao));
                } catch (const Erro& e) {
                    fmt::print(stderr, "Aviso: a verificação não foi gravada: {}\n", e.what());
                }
                if (o->json) {
                    Json j = JsonDoResumo(r);
                    if (verificacaoGravada)
                        j["arquivos"]["verificacao"] = ParaUtf8(arquivos.verificacao);
                    j["forcado"] = v.Tem(Gravidade::Suspeita);
                    j["verificacao"] = JsonDaVerificacao(v);
                    ImprimirJson(j);
                } else if (v.Tem(Gravidade::Suspeita)) {
                    fmt::print("  Importado com --forcar apesar de {} ponto(s) a conferir.\n",
                               v.Contagem(Gravidade::Suspeita).size());
                }
                return 0;
            },
            "nenhuma parcela foi lançada; o arquivo de resultado e o relatório anteriores foram "
            "mantidos"};
}

}  // namespace kavlo::cli
