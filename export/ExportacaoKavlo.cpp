#include "export/ExportacaoKavlo.h"

#include <array>
#include <memory>
#include <string>

#include "dao/BancoFolha.h"
#include "entry/ProcessoKavlo.h"
#include "export/LayoutsKavlo.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Observacao.h"
#include "util/Substituicao.h"
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

}  // namespace

namespace {

template <class Arquivo>
void EscreverCabecalho(Escrita& e, const Arquivo& arquivo) {
    e.saida(LinhaDoRegistro(CABECALHO, CabecalhoDe(arquivo), u"", e.nome, ++e.linha,
                            [](const Cabecalho& c) { return SemServidor(c); }));
}

template <size_t N>
void EscreverRodape(Escrita& e, const std::array<CampoDe<Rodape>, N>& layout,
                    const Rodape& rodape) {
    e.saida(LinhaDoRegistro(layout, rodape, u"", e.nome, ++e.linha,
                            [](const Rodape& r) { return SemServidor(r); }));
}

}  // namespace

void Escrita::Cabecalho(const TPessoas& p) {
    EscreverCabecalho(*this, p);
}
void Escrita::Cabecalho(const TMargem& m) {
    EscreverCabecalho(*this, m);
}
void Escrita::Cabecalho(const TTransferidos& t) {
    EscreverCabecalho(*this, t);
}

void Escrita::Registro(const TDPessoas& d) {
    saida(LinhaDoRegistro(DETALHE_PESSOAS, d, u";", nome, ++linha,
                          [](const TDPessoas& p) { return Servidor(p.CPF, p.NomeCompleto); }));
}

void Escrita::Registro(const TDMargem& d) {
    saida(LinhaDoRegistro(DETALHE_MARGEM, d, u"", nome, ++linha,
                          [](const TDMargem& m) { return Servidor(m.Matricula, m.NomeServidor); }));
    soma += d.ValorMargem;
}

void Escrita::Registro(const TDTransferidos& d) {
    saida(LinhaDoRegistro(DETALHE_TRANSFERIDOS, d, u"", nome, ++linha, [](const TDTransferidos& t) {
        return Servidor(t.CodigoMatriculaBeneficiarioOrigem, t.NomeServidor);
    }));
}

void Escrita::Rodape(const TPessoas& p) {
    EscreverRodape(*this, RODAPE, {p.TTipoRegistro, p.TQuantidade, 0});
}

void Escrita::Rodape(const TMargem& m) {
    EscreverRodape(*this, RODAPE_MARGEM, {m.TTipoRegistro, m.TQuantidadeRegistro, soma});
}

void Escrita::Rodape(const TTransferidos& t) {
    EscreverRodape(*this, RODAPE, {t.TTipoRegistro, t.TQuantidadeRegistros, 0});
}

namespace {

template <class Arquivo, class Registros>
void EscreverArquivo(Escrita& escrita, const Arquivo& arquivo, const Registros& registros) {
    escrita.Cabecalho(arquivo);
    for (const auto& r : registros) escrita.Registro(r);
    escrita.Rodape(arquivo);
}

}  // namespace

void EscreverPessoas(const TPessoas& pessoas, const SaidaLinhas& saida) {
    Escrita e{saida, "Pessoas.csv"};
    EscreverArquivo(e, pessoas, pessoas.DPessoas);
}

double EscreverMargem(const TMargem& margem, const SaidaLinhas& saida) {
    Escrita e{saida, "Margem.txt"};
    EscreverArquivo(e, margem, margem.DMargem);
    return e.soma;
}

void EscreverTransferidos(const TTransferidos& transferidos, const SaidaLinhas& saida) {
    Escrita e{saida, "Transferidos.txt"};
    EscreverArquivo(e, transferidos, transferidos.DTransferidos);
}

// Each file is written beside its destination as its records come.
struct TExportacaoKAVLO::Arquivo {
    Arquivo(const std::u16string& pasta, const char16_t* nome, const char* nomeEscrita)
        : temporario(CaminhoDe(pasta + nome)),
          escrita{[this](std::u16string_view linha) { temporario.EscreverLinha(linha); },
                  nomeEscrita} {}
    Arquivo(const Arquivo&) = delete;
    Arquivo& operator=(const Arquivo&) = delete;

    // The trailer ends the file: it is closed, and complete.
    template <class Modelo>
    void Fim(const Modelo& rodape) {
        escrita.Rodape(rodape);
        temporario.Fechar();
        completo = true;
    }

    ArquivoTemporario temporario;
    Escrita escrita;
    bool completo = false;
};

TExportacaoKAVLO::TExportacaoKAVLO() = default;
TExportacaoKAVLO::~TExportacaoKAVLO() = default;

void TExportacaoKAVLO::Preparar() {
    FPessoas.reset();
    FMargem.reset();
    FTransferidos.reset();
    // Joined as text: the host passes the folder with its closing separator.
    const std::u16string pasta = TProcessoKAVLO::getInstance().CaminhoArquivo;
    // The database is a file too: none of the three may be it.
    std::vector<PapelDeArquivo> arquivos;
    for (const char16_t* nome : {u"Pessoas.csv", u"Margem.txt", u"Transferidos.txt"})
        arquivos.push_back({ParaUtf8(nome), CaminhoDe(pasta + nome)});
    const TProcessoKAVLO& processo = TProcessoKAVLO::getInstance();
    for (auto& banco : PapeisDoBanco(processo.CaminhoBanco, processo.Conexao()))
        arquivos.push_back(std::move(banco));
    ConferirArquivosDistintos(arquivos);
    FPessoas = std::make_unique<Arquivo>(pasta, u"Pessoas.csv", "Pessoas.csv");
    FMargem = std::make_unique<Arquivo>(pasta, u"Margem.txt", "Margem.txt");
    FTransferidos = std::make_unique<Arquivo>(pasta, u"Transferidos.txt", "Transferidos.txt");
}

TExportacaoKAVLO::Arquivo& TExportacaoKAVLO::Aberto(const std::unique_ptr<Arquivo>& arquivo) {
    if (!arquivo) throw Erro("Exportação sem os arquivos preparados.");
    return *arquivo;
}

void TExportacaoKAVLO::InicioPessoas(const TPessoas& cabecalho) {
    Aberto(FPessoas).escrita.Cabecalho(cabecalho);
}
void TExportacaoKAVLO::Pessoa(const TDPessoas& registro) {
    Aberto(FPessoas).escrita.Registro(registro);
}
void TExportacaoKAVLO::FimPessoas(const TPessoas& rodape) {
    Aberto(FPessoas).Fim(rodape);
}
void TExportacaoKAVLO::InicioMargem(const TMargem& cabecalho) {
    Aberto(FMargem).escrita.Cabecalho(cabecalho);
}
void TExportacaoKAVLO::Margem(const TDMargem& registro) {
    Aberto(FMargem).escrita.Registro(registro);
}
void TExportacaoKAVLO::FimMargem(const TMargem& rodape) {
    Aberto(FMargem).Fim(rodape);
}
void TExportacaoKAVLO::InicioTransferidos(const TTransferidos& cabecalho) {
    Aberto(FTransferidos).escrita.Cabecalho(cabecalho);
}
void TExportacaoKAVLO::Transferido(const TDTransferidos& registro) {
    Aberto(FTransferidos).escrita.Registro(registro);
}
void TExportacaoKAVLO::FimTransferidos(const TTransferidos& rodape) {
    Aberto(FTransferidos).Fim(rodape);
}

void TExportacaoKAVLO::Exportar() {
    Observacao& observacao = Observacao::Atual();
    observacao.Etapa("Gravando arquivos");
    // Only now, with all three complete, do they replace the earlier ones, as one set: if the
    // second or third cannot be put in place, the earlier three come back.
    Substituicao colocacao;
    for (const auto* arquivo : {&FPessoas, &FMargem, &FTransferidos}) {
        Arquivo& a = Aberto(*arquivo);
        if (!a.completo)
            throw Erro("O arquivo " + std::string(a.escrita.nome) +
                       " não foi gerado até o fim; nenhum arquivo foi substituído.");
        colocacao.Colocar(a.temporario);
    }
    colocacao.Concluir();
    FPessoas.reset();
    FMargem.reset();
    FTransferidos.reset();
    observacao.FimEtapa();
}

void TExportacaoKAVLO::Exportar(const TKAVLO& AKAVLO) {
    Preparar();
    Entregar(AKAVLO, *this);
    Exportar();
}

}  // namespace kavlo
