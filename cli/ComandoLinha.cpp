// kavlo linha: one line of an interchange file taken apart field by field, from the very layout
// tables the library reads and writes with, so that what it shows is what the library sees.
#include <fmt/core.h>

#include <limits>
#include <memory>
#include <span>

#include "cli/Comandos.h"
#include "cli/LinhaDeArquivo.h"
#include "cli/Validacao.h"
#include "import/ArquivoResultado.h"
#include "import/ArquivoRetorno.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/LeitorDeLinhas.h"
#include "util/Numeros.h"

namespace kavlo::cli {
namespace {

using namespace campos;

// What the import reads in an instalment line: the key, the code, the amount and the counters,
// or why it would refuse them. `campos` are the layout's, in its order.
void LeituraDaParcela(std::vector<CampoLido>& campos, std::u16string_view linha) {
    const auto leitura = [linha](const Campo<retorno::Leitura>& c) -> std::string {
        switch (c.valor) {
            case retorno::Leitura::Copiado:
                break;
            case retorno::Leitura::Chave:
                return "servidor " + ParaMensagem(ChaveServidor(linha));
            case retorno::Leitura::Codigo:
                return "código de desconto " + Aspas(CodigoDesconto(linha));
            case retorno::Leitura::Valor:
                return "R$ " + ReaisLegiveis(ParcelaDaLinha(linha));
            case retorno::Leitura::Perc:
                return "PERC " + std::to_string(LerContador(linha, c.posicao));
            case retorno::Leitura::Quant:
                return "QUANT " + std::to_string(LerContador(linha, c.posicao));
        }
        return {};
    };
    for (size_t i = 0; i < campos.size() && i < std::size(retorno::Detalhe); ++i) try {
            campos[i].leitura = leitura(retorno::Detalhe[i]);
        } catch (const Erro& e) {
            campos[i].leitura = std::string("recusado: ") + e.what();
        }
}

// Columns as wide as their widest text, a multibyte letter counted as one column.
size_t Colunas(std::string_view utf8) {
    size_t n = 0;
    for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

void Mostrar(const std::vector<CampoLido>& campos) {
    const CampoLido titulo = {"Campo", "Posições", "Valor", "Lido pela importação"};
    bool comLeitura = false;
    size_t largura[3] = {Colunas(titulo.nome), Colunas(titulo.posicoes), Colunas(titulo.valor)};
    for (const CampoLido& c : campos) {
        largura[0] = std::max(largura[0], Colunas(c.nome));
        largura[1] = std::max(largura[1], Colunas(c.posicoes));
        largura[2] = std::max(largura[2], Colunas(c.valor));
        comLeitura |= !c.leitura.empty();
    }
    auto linha = [&](const CampoLido& c) {
        std::string r = "  ";
        const std::string* textos[] = {&c.nome, &c.posicoes, &c.valor};
        for (size_t i = 0; i < 3; ++i) {
            r += *textos[i];
            if (i < 2 || comLeitura) r += std::string(largura[i] - Colunas(*textos[i]) + 2, ' ');
        }
        if (comLeitura) r += c.leitura;
        while (!r.empty() && r.back() == ' ') r.pop_back();
        fmt::print("{}\n", r);
    };
    linha(titulo);
    for (const CampoLido& c : campos) linha(c);
}

struct Arquivo {
    Tipo tipo;
    const char* titulo;  // "Arquivo de retorno"
};

Decodificada Decodificar(Tipo tipo, size_t numero, size_t total, std::u16string_view linha) {
    switch (tipo) {
        case Tipo::Retorno: {
            Decodificada d = PorPapel(numero, total, linha, retorno::Cabecalho, retorno::Detalhe,
                                      retorno::Rodape, "parcela");
            if (numero > 1 && numero < total) LeituraDaParcela(d.campos, linha);
            return d;
        }
        case Tipo::Resultado:
            return PorPapel(numero, total, linha, resultado::Cabecalho, resultado::Detalhe,
                            resultado::Rodape, "resultado de uma parcela");
        default:
            return DecodificarGerado(tipo, numero, total, linha);
    }
}

}  // namespace

Subcomando RegistrarLinha(CLI::App& app) {
    struct Opcoes {
        std::string retorno, margem, pessoas, transferidos, resultado;
        int linha = 0;
    };
    auto o = std::make_shared<Opcoes>();
    CLI::App* sub = NovoSubcomando(
        app, "linha",
        "Mostra os campos de uma linha de um arquivo (posições e valores, como a biblioteca lê)");
    sub->add_option("--retorno", o->retorno, "Arquivo de retorno da consignatária")
        ->check(NaoVazio());
    sub->add_option("--margem", o->margem, "Margem.txt gerado")->check(NaoVazio());
    sub->add_option("--pessoas", o->pessoas, "Pessoas.csv gerado")->check(NaoVazio());
    sub->add_option("--transferidos", o->transferidos, "Transferidos.txt gerado")
        ->check(NaoVazio());
    sub->add_option("--resultado", o->resultado, "Arquivo de resultado de uma importação")
        ->check(NaoVazio());
    sub->add_option("--linha", o->linha, "Número da linha (a primeira é 1)")
        ->required()
        ->check(NumeroEntre(1, std::numeric_limits<int>::max()))
        ->type_name("NÚMERO");
    return {
        sub,
        [o] {
            const std::pair<Arquivo, const std::string*> opcoes[] = {
                {{Tipo::Retorno, "Arquivo de retorno"}, &o->retorno},
                {{Tipo::Margem, "Arquivo de margens"}, &o->margem},
                {{Tipo::Pessoas, "Arquivo de pessoas"}, &o->pessoas},
                {{Tipo::Transferidos, "Arquivo de transferidos"}, &o->transferidos},
                {{Tipo::Resultado, "Arquivo de resultado"}, &o->resultado}};
            const std::pair<Arquivo, const std::string*>* escolhida = nullptr;
            int informadas = 0;
            for (const auto& op : opcoes)
                if (!op.second->empty()) {
                    escolhida = &op;
                    ++informadas;
                }
            if (informadas != 1) {
                fmt::print(stderr,
                           "Informe um arquivo, e só um: --retorno, --margem, --pessoas, "
                           "--transferidos ou --resultado.\nUse kavlo linha --help para ver "
                           "as opções.\n");
                return 2;
            }
            const Arquivo arquivo = escolhida->first;
            const Caminho caminho = CaminhoDe(DeUtf8(*escolhida->second));
            const std::string nome = NomeParaMensagem(caminho);
            const auto pedida = static_cast<size_t>(o->linha);
            // Read as the library reads it: the encoding by its byte-order mark, every line
            // end alike; only the line asked for is kept, the rest counted.
            std::u16string linha, procurada;
            size_t total = 0;
            {
                LeitorDeLinhas leitor(caminho);
                while (leitor.Proxima(linha))
                    if (++total == pedida) procurada = linha;
            }
            if (total == 0)
                throw Erro(fmt::format("{} '{}': o arquivo está vazio, sem nenhuma linha.",
                                       arquivo.titulo, nome));
            if (pedida > total)
                throw Erro(fmt::format(
                    "{} '{}': o arquivo tem {} {}, não há linha {}. Informe um número de 1 "
                    "a {}.",
                    arquivo.titulo, nome, total, total == 1 ? "linha" : "linhas", pedida, total));
            const Decodificada d = Decodificar(arquivo.tipo, pedida, total, procurada);
            fmt::print("{} '{}', linha {} de {}: {}, {} caracteres\n", arquivo.titulo, nome, pedida,
                       total, d.papel, procurada.size());
            Mostrar(d.campos);
            // Only the instalment layouts are whole records: of a header or a trailer the layout
            // names the fields that are read, and the party pads the rest.
            const bool detalhe = pedida > 1 && pedida < total;
            if (detalhe && d.tamanho > 0 && procurada.size() != static_cast<size_t>(d.tamanho))
                fmt::print(
                    "Atenção: a linha tem {} caracteres, e o leiaute, {} posições; "
                    "depois de um campo mais largo ou mais estreito que o previsto, "
                    "os seguintes aparecem deslocados.\n",
                    procurada.size(), d.tamanho);
            if (d.separados > 0 && d.separados != CamposDePessoas())
                fmt::print(
                    "Atenção: a linha tem {} campos separados por ';', e o leiaute, "
                    "{}.\n",
                    d.separados, CamposDePessoas());
            return 0;
        },
        "nada foi alterado"};
}

}  // namespace kavlo::cli
