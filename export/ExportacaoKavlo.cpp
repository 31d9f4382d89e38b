#include "export/ExportacaoKavlo.h"

#include <array>
#include <memory>
#include <string>

#include "dao/BancoFolha.h"
#include "entry/ProcessoKavlo.h"
#include "export/LayoutsKavlo.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Observacao.h"
#include "util/Utils.h"

namespace kavlo {

std::u16string SemSeparadores(std::u16string_view texto) {
    std::u16string r(texto);
    for (char16_t& c : r)
        if (c == u';' || c == u'\r' || c == u'\n') c = u' ';
    return r;
}

std::u16string FormatarCpf(std::u16string_view cpf) {
    int64_t numero = 0;
    try {
        numero = StrToInt64(cpf);
    } catch (const ErroConversao&) {
        throw ErroConversao(Aspas(cpf) + " não é um número inteiro");
    }
    return FormatarZeros(numero, 11);
}

std::u16string FormatarCodigo(std::u16string_view codigo, int digitos) {
    return FormatarZeros(IifValor(!Aparar(codigo).empty(), codigo), digitos);
}

std::u16string FormatarDataOuZeros(TDateTime data) {
    return data == 0 ? u"00000000" : FormatarData(data, u"ddmmyyyy");
}

namespace {

template <class R>
std::u16string Formatar(const CampoDe<R>& campo, const R& registro) {
    struct Visitante {
        const CampoDe<R>& campo;
        const R& registro;
        std::u16string operator()(std::u16string R::*membro) const {
            const std::u16string& texto = registro.*membro;
            switch (campo.valor.formato) {
                case Formato::Bruto:
                    return SemSeparadores(texto);
                case Formato::Ajustado:
                    return AjustaTexto(SemSeparadores(texto), campo.posicao.largura);
                case Formato::Digito: {
                    // Built front to back: GCC 12 inlines u"0" + std::u16string&& as an insert
                    // at position 0 and reports an impossible overlap (-Wrestrict, a known
                    // false positive) in the Release build.
                    std::u16string r = u"0";
                    r += SemSeparadores(texto);
                    return r;
                }
                case Formato::Cpf:
                    return FormatarCpf(texto);
                case Formato::Codigo:
                    return FormatarCodigo(texto, campo.posicao.largura);
                default:
                    break;
            }
            throw Erro("Formato inválido para o campo de texto " + std::string(campo.nome));
        }
        std::u16string operator()(double R::*membro) const {
            const double valor = registro.*membro;
            switch (campo.valor.formato) {
                case Formato::Valor:
                    return FormatarValor(valor);
                case Formato::DataOuZeros:
                    return FormatarDataOuZeros(valor);
                case Formato::Data:
                    return FormatarData(valor, u"ddmmyyyy");
                case Formato::MesAno:
                    return FormatarData(valor, u"mmyyyy");
                default:
                    break;
            }
            throw Erro("Formato inválido para o campo numérico " + std::string(campo.nome));
        }
        std::u16string operator()(int32_t R::*membro) const {
            const int32_t valor = registro.*membro;
            switch (campo.valor.formato) {
                case Formato::Zeros:
                    return FormatarZeros(valor, campo.posicao.largura);
                case Formato::Inteiro:
                    return FormatarZeros(valor, 0);
                default:
                    break;
            }
            throw Erro("Formato inválido para o campo inteiro " + std::string(campo.nome));
        }
    };
    return std::visit(Visitante{campo, registro}, campo.valor.origem);
}

// Builds one line; a field that cannot be written names the file, the line, the servant and
// the field.
template <class R, size_t N, class Identificar>
std::u16string LinhaDoRegistro(const std::array<CampoDe<R>, N>& campos, const R& registro,
                      std::u16string_view separador, const char* arquivo, size_t linha,
                      Identificar identificar) {
    return MontarLinha(
        campos,
        [&](const CampoDe<R>& campo) {
            try {
                return Formatar(campo, registro);
            } catch (const ErroConversao& e) {
                throw ErroConversao(std::string(arquivo) + ", linha " + std::to_string(linha) +
                                    ": " + identificar(registro) + ": " + std::string(campo.nome) +
                                    " " + e.what());
            }
        },
        separador);
}

template <class Arquivo>
Cabecalho CabecalhoDe(const Arquivo& a) {
    return {a.HTipoRegistro, a.HConsignante, a.HLayout, a.HFolha, a.HDataGeracao};
}

std::string SemServidor(const Cabecalho&) {
    return "cabeçalho";
}
std::string SemServidor(const Rodape&) {
    return "rodapé";
}

std::string Servidor(std::u16string_view matricula, std::u16string_view nome) {
    return "servidor " + ParaMensagem(matricula) + " (" + ParaMensagem(nome) + ")";
}

template <class Arquivo>
void EscreverCabecalho(const Arquivo& a, const char* nome, const SaidaLinhas& saida) {
    saida(LinhaDoRegistro(CABECALHO, CabecalhoDe(a), u"", nome, 1,
                 [](const Cabecalho& c) { return SemServidor(c); }));
}

template <size_t N>
void EscreverRodape(const std::array<CampoDe<Rodape>, N>& layout, const Rodape& rodape,
                    const char* nome, size_t linha, const SaidaLinhas& saida) {
    saida(LinhaDoRegistro(layout, rodape, u"", nome, linha, [](const Rodape& r) { return SemServidor(r); }));
}

}  // namespace

void EscreverPessoas(const TPessoas& pessoas, const SaidaLinhas& saida) {
    constexpr const char* kNome = "Pessoas.csv";
    EscreverCabecalho(pessoas, kNome, saida);
    size_t linha = 1;
    for (const TDPessoas& d : pessoas.DPessoas) {
        saida(LinhaDoRegistro(DETALHE_PESSOAS, d, u";", kNome, ++linha,
                     [](const TDPessoas& p) { return Servidor(p.CPF, p.NomeCompleto); }));
        Observacao::Atual().Avancar();
    }
    EscreverRodape(RODAPE, {pessoas.TTipoRegistro, pessoas.TQuantidade, 0}, kNome, ++linha, saida);
}

double EscreverMargem(const TMargem& margem, const SaidaLinhas& saida) {
    constexpr const char* kNome = "Margem.txt";
    EscreverCabecalho(margem, kNome, saida);
    size_t linha = 1;
    // Summed unrounded, in list order, rounded once in the trailer.
    double soma = 0;
    for (const TDMargem& d : margem.DMargem) {
        saida(LinhaDoRegistro(DETALHE_MARGEM, d, u"", kNome, ++linha,
                     [](const TDMargem& m) { return Servidor(m.Matricula, m.NomeServidor); }));
        soma += d.ValorMargem;
        Observacao::Atual().Avancar();
    }
    EscreverRodape(RODAPE_MARGEM, {margem.TTipoRegistro, margem.TQuantidadeRegistro, soma}, kNome,
                   ++linha, saida);
    return soma;
}

void EscreverTransferidos(const TTransferidos& transferidos, const SaidaLinhas& saida) {
    constexpr const char* kNome = "Transferidos.txt";
    EscreverCabecalho(transferidos, kNome, saida);
    size_t linha = 1;
    for (const TDTransferidos& d : transferidos.DTransferidos) {
        saida(LinhaDoRegistro(DETALHE_TRANSFERIDOS, d, u"", kNome, ++linha, [](const TDTransferidos& t) {
            return Servidor(t.CodigoMatriculaBeneficiarioOrigem, t.NomeServidor);
        }));
        Observacao::Atual().Avancar();
    }
    EscreverRodape(RODAPE, {transferidos.TTipoRegistro, transferidos.TQuantidadeRegistros, 0},
                   kNome, ++linha, saida);
}

void TExportacaoKAVLO::Exportar(const TKAVLO& AKAVLO) {
    Observacao& observacao = Observacao::Atual();
    observacao.Etapa("Gravando arquivos");
    // Joined as text: the host passes the folder with its closing separator.
    const std::u16string pasta = TProcessoKAVLO::getInstance().CaminhoArquivo;
    // The database is a file too: none of the three may be it.
    std::vector<PapelDeArquivo> arquivos;
    for (const char16_t* nome : {u"Pessoas.csv", u"Margem.txt", u"Transferidos.txt"})
        arquivos.push_back({ParaUtf8(nome), CaminhoDe(pasta + nome)});
    if (auto banco = ArquivoDoBanco(SemLocalhost(TProcessoKAVLO::getInstance().CaminhoBanco)))
        arquivos.push_back({"o banco de dados da folha", CaminhoDe(*banco)});
    ConferirArquivosDistintos(arquivos);

    auto escrever = [](ArquivoTemporario& arquivo) {
        return [&arquivo](std::u16string_view linha) { arquivo.EscreverLinha(linha); };
    };

    ArquivoTemporario pessoas(CaminhoDe(pasta + u"Pessoas.csv"));
    EscreverPessoas(AKAVLO.Pessoas, escrever(pessoas));
    pessoas.Fechar();
    ArquivoTemporario margem(CaminhoDe(pasta + u"Margem.txt"));
    EscreverMargem(AKAVLO.Margem, escrever(margem));
    margem.Fechar();
    ArquivoTemporario transferidos(CaminhoDe(pasta + u"Transferidos.txt"));
    EscreverTransferidos(AKAVLO.Transferidos, escrever(transferidos));
    transferidos.Fechar();

    // Only now, with all three complete, do they replace the earlier ones, as one set: if the
    // second or third cannot be put in place, the earlier three come back.
    Substituicao colocacao;
    colocacao.Colocar(pessoas);
    colocacao.Colocar(margem);
    colocacao.Colocar(transferidos);
    colocacao.Concluir();

    observacao.FimEtapa();
}

}  // namespace kavlo
