// kavlo verificar: the return file held against the month's payroll before anything is posted.
// kavlo importar runs the same check first.
#include <fmt/core.h>

#include <memory>

#include "cli/Comandos.h"
#include "cli/Json.h"
#include "cli/Validacao.h"
#include "dao/BancoFolha.h"
#include "util/Codificacao.h"
#include "util/Numeros.h"

namespace kavlo::cli {
namespace {

const char* Rotulo(Gravidade g) {
    switch (g) {
        case Gravidade::Impede:
            return "impede a importação";
        case Gravidade::Suspeita:
            return "conferir antes de importar";
        case Gravidade::Aviso:
            return "aviso";
    }
    return "";
}

// Names of the kinds of finding in the JSON summary: stable, for programs to match on.
const char* NomeDoTipo(TipoAchado t) {
    switch (t) {
        case TipoAchado::Vazio:
            return "vazio";
        case TipoAchado::NaoERetorno:
            return "nao_e_retorno";
        case TipoAchado::Codificacao:
            return "codificacao";
        case TipoAchado::Competencia:
            return "competencia";
        case TipoAchado::JaImportado:
            return "ja_importado";
        case TipoAchado::Cortado:
            return "cortado";
        case TipoAchado::Rodape:
            return "rodape";
        case TipoAchado::TotalDoRodape:
            return "total_do_rodape";
        case TipoAchado::CadastroIlegivel:
            return "cadastro_ilegivel";
        case TipoAchado::CpfMaioria:
            return "cpf_maioria";
        case TipoAchado::MaioriaSemServidor:
            return "maioria_sem_servidor";
        case TipoAchado::Comprimento:
            return "comprimento";
        case TipoAchado::OutraPessoa:
            return "outra_pessoa";
        case TipoAchado::Cpf:
            return "cpf";
        case TipoAchado::Nome:
            return "nome";
        case TipoAchado::Repetida:
            return "repetida";
        case TipoAchado::JaLancada:
            return "ja_lancada";
        case TipoAchado::FormatoDoValor:
            return "formato_do_valor";
        case TipoAchado::ValorZero:
            return "valor_zero";
        case TipoAchado::ContadorNegativo:
            return "contador_negativo";
        case TipoAchado::Valor:
            return "valor";
        case TipoAchado::NaoEncontrada:
            return "nao_encontrada";
        case TipoAchado::Inativa:
            return "inativa";
    }
    return "";
}

const char* NomeDaGravidade(Gravidade g) {
    switch (g) {
        case Gravidade::Impede:
            return "impede";
        case Gravidade::Suspeita:
            return "suspeita";
        case Gravidade::Aviso:
            return "aviso";
    }
    return "";
}

std::string Onde(const Achado& a) {
    return a.linha ? "linha " + std::to_string(a.linha) + ": " : "arquivo: ";
}

}  // namespace

Verificacao VerificarAntes(const ParaVerificar& p, std::optional<ArquivoDeRetorno>* lido) {
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, DeUtf8(p.banco));
    return VerificarAntes(conexao, p, lido);
}

Verificacao VerificarAntes(fb::Conexao& conexao, const ParaVerificar& p,
                           std::optional<ArquivoDeRetorno>* lido) {
    return VerificarRetorno(conexao, {DeUtf8(p.mes), DeUtf8(p.ano), DeUtf8(p.retorno), p.estrito},
                            lido);
}

size_t MostrarAchados(std::FILE* saida, const Verificacao& v, Gravidade g, size_t limite) {
    std::map<TipoAchado, size_t> mostrados;
    size_t ocultos = 0;
    for (const Achado& a : v.achados) {
        if (a.gravidade != g) continue;
        if (limite && mostrados[a.tipo]++ >= limite) {
            ++ocultos;
            continue;
        }
        fmt::print(saida, "    {}{}\n", Onde(a), a.texto);
    }
    return ocultos;
}

std::string TextoDosAchados(const Verificacao& v) {
    std::string r;
    for (const Achado& a : v.achados)
        r += Onde(a) + "[" + Rotulo(a.gravidade) + "] " + a.texto + "\n";
    return r;
}

Json JsonDaVerificacao(const Verificacao& v) {
    Json j{{"linhas", v.linhas},
           {"parcelas", v.detalhes},
           {"comprimento_usual", v.comprimentoUsual},
           {"descontadas", v.descontadas}};
    Dinheiro(j, "total", v.totalCentavos);
    j["nao_descontadas"] = v.naoDescontadas;
    j["sem_slot"] = v.semSlot;
    j["nao_encontradas"] = v.naoEncontradas;
    j["inativas"] = v.inativas;
    Json contagem = Json::object();
    for (Gravidade g : {Gravidade::Impede, Gravidade::Suspeita, Gravidade::Aviso}) {
        size_t n = 0;
        for (const auto& [tipo, quantos] : v.Contagem(g)) n += quantos;
        contagem[NomeDaGravidade(g)] = n;
    }
    j["contagem"] = contagem;
    Json achados = Json::array();
    for (const Achado& a : v.achados) {
        Json item{{"linha", a.linha},
                  {"gravidade", NomeDaGravidade(a.gravidade)},
                  {"tipo", NomeDoTipo(a.tipo)},
                  {"texto", a.texto}};
        if (!a.chave.empty()) item["chave"] = ParaUtf8(a.chave);
        achados.push_back(std::move(item));
    }
    j["achados"] = std::move(achados);
    return j;
}

Subcomando RegistrarVerificar(CLI::App& app) {
    struct Opcoes : ParaVerificar {
        std::string verificaMargem = "S";
        bool todas = false, json = false;
    };
    auto o = std::make_shared<Opcoes>();
    CLI::App* sub = NovoSubcomando(
        app, "verificar",
        "Confere o arquivo de retorno contra a folha do mês, sem lançar nada: linhas "
        "deslocadas, outra codificação ou competência, CPFs e nomes que não batem, servidores "
        "não encontrados, parcelas repetidas, inválidas ou já lançadas, arquivo vazio, cortado "
        "ou já importado");
    OpcaoBanco(sub, o->banco);
    OpcaoMes(sub, o->mes);
    OpcaoAno(sub, o->ano);
    OpcaoTexto(sub, "--retorno", o->retorno, "Arquivo de retorno recebido da consignatária");
    OpcaoVerificaMargem(sub, o->verificaMargem,
                        "O modo de margem em que a importação rodaria: com S, as parcelas que a "
                        "margem não cobre são contadas como não descontadas; com N, como "
                        "descontadas");
    sub->add_flag("--todas", o->todas,
                  "Lista todas as ocorrências, não só as primeiras de cada tipo");
    OpcaoJson(sub, o->json);
    sub->footer(
        "Exemplos:\n"
        "  kavlo verificar --banco /dados/folha.fdb --mes 2 --ano 2024 --retorno "
        "/dados/retorno.txt\n"
        "  kavlo verificar --banco /dados/folha.fdb --mes 2 --ano 2024 --retorno "
        "/dados/retorno.txt "
        "--todas");
    return {sub,
            [o] {
                o->estrito = o->verificaMargem == "S";
                const Verificacao v = VerificarAntes(*o);
                const bool impede = v.Tem(Gravidade::Impede) || v.Tem(Gravidade::Suspeita);
                if (o->json) {
                    Json j{{"comando", "verificar"},
                           {"retorno", o->retorno},
                           {"mes", std::stoi(o->mes)},
                           {"ano", std::stoi(o->ano)}};
                    j.update(JsonDaVerificacao(v));
                    j["impede_a_importacao"] = impede;
                    ImprimirJson(j);
                    return impede ? kSaidaVerificacao : 0;
                }
                fmt::print("Verificação de {} para {:0>2}/{}:\n", o->retorno, o->mes, o->ano);
                fmt::print("  Linhas: {} ({} de parcelas; comprimento usual {})\n", v.linhas,
                           v.detalhes, v.comprimentoUsual);
                fmt::print(
                    "  Pela folha de agora, seriam descontadas {} parcelas (R$ {}), {} não "
                    "descontadas por falta de margem, {} sem slot livre; {} de servidores não "
                    "encontrados e {} de inativos seriam ignoradas.\n",
                    v.descontadas, ReaisLegiveis(v.totalCentavos), v.naoDescontadas, v.semSlot,
                    v.naoEncontradas, v.inativas);
                size_t ocultos = 0;
                for (Gravidade g : {Gravidade::Impede, Gravidade::Suspeita, Gravidade::Aviso}) {
                    size_t n = 0;
                    for (const auto& [tipo, quantos] : v.Contagem(g)) n += quantos;
                    fmt::print("  {}: {}\n", Rotulo(g), n);
                    ocultos += MostrarAchados(stdout, v, g, o->todas ? 0 : 20);
                }
                if (ocultos) fmt::print("  ... e mais {} (use --todas para ver todas)\n", ocultos);
                fmt::print("{}\n",
                           v.Tem(Gravidade::Impede)
                               ? "Resultado: a importação deste arquivo falharia ou seria recusada."
                           : v.Tem(Gravidade::Suspeita)
                               ? "Resultado: confira o arquivo antes de importar; kavlo importar "
                                 "não o lança sem --forcar."
                               : "Resultado: nada impede a importação.");
                return impede ? kSaidaVerificacao : 0;
            },
            "nada foi alterado"};
}

}  // namespace kavlo::cli
