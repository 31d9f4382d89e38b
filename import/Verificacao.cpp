#include "import/Verificacao.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <set>
#include <tuple>

#include "import/ArquivoRetorno.h"
#include "import/CadastroServidores.h"
#include "import/Lancamento.h"
#include "import/TabelaDeducao.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Erros.h"
#include "util/Impressao.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {

bool Verificacao::Tem(Gravidade g) const {
    return std::any_of(achados.begin(), achados.end(),
                       [g](const Achado& a) { return a.gravidade == g; });
}

std::map<TipoAchado, size_t> Verificacao::Contagem(Gravidade g) const {
    std::map<TipoAchado, size_t> r;
    for (const Achado& a : achados)
        if (a.gravidade == g) ++r[a.tipo];
    return r;
}

namespace {

// Bytes without a byte-order mark that are valid UTF-8 with at least one letter of more than one
// byte: read as Windows-1252, each such letter takes two or three positions and shifts every
// field after it. Fed block by block as the file is read; Linha() is the 1-based line of the first
// such letter, or 0.
class DetectorUtf8SemMarca {
  public:
    void Acrescentar(std::string_view b) {
        for (const char byte : b) {
            const auto c = static_cast<unsigned char>(byte);
            if (inicio_.size() < 3) inicio_ += static_cast<char>(c);
            if (invalido_) return;
            if (faltam_ > 0) {
                if ((c & 0xC0) != 0x80) invalido_ = true;
                if (--faltam_ == 0 && !primeira_) primeira_ = linha_;
                continue;
            }
            if (c == '\n') ++linha_;
            if (c < 0x80) continue;
            const size_t n = c >= 0xF0 && c <= 0xF4  ? 4
                             : c >= 0xE0             ? 3
                             : c >= 0xC2 && c < 0xE0 ? 2
                                                     : 0;
            if (n == 0) invalido_ = true;
            faltam_ = n ? n - 1 : 0;
        }
    }
    // After the last block: a sequence cut at the end is no UTF-8.
    size_t Linha() const {
        const std::string_view b = inicio_;
        if (b.starts_with("\xEF\xBB\xBF") || b.starts_with("\xFF\xFE") || b.starts_with("\xFE\xFF"))
            return 0;
        return invalido_ || faltam_ > 0 ? 0 : primeira_;
    }

  private:
    std::string inicio_;
    bool invalido_ = false;
    size_t faltam_ = 0, linha_ = 1, primeira_ = 0;
};

bool SoDigitos(std::u16string_view texto) {
    return !texto.empty() && std::all_of(texto.begin(), texto.end(),
                                         [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// An amount as the party writes it: digits, one point and digits ("000000000150.00"), blanks
// around it aside. Anything else (an exponent, a comma, a sign, no point) the import reads by the
// design's looser rule, and may read as another amount than the party meant.
bool ValorNoFormato(std::u16string_view campo) {
    const std::u16string_view t = Aparar(campo);
    const size_t ponto = t.find(u'.');
    return ponto != std::u16string_view::npos && SoDigitos(t.substr(0, ponto)) &&
           SoDigitos(t.substr(ponto + 1));
}

// What makes two instalment lines the same instalment: the servant, the code, the amount and the
// counter, as they stand in the file.
using Parcela = std::tuple<std::u16string, std::u16string, std::u16string, std::u16string>;
Parcela ParcelaDa(std::u16string_view linha) {
    return {ChaveServidor(linha), CodigoDesconto(linha),
            std::u16string(LerCampo(linha, retorno::Parcela)),
            std::u16string(LerCampo(linha, retorno::ContadorPerc))};
}

// Only lines whose hashes meet are compared by their fields, so a line is never kept for the
// repeats it cannot have.
uint64_t Impressao(const Parcela& p) {
    return (Impressao64() << std::get<0>(p) << std::get<1>(p) << std::get<2>(p) << std::get<3>(p))
        .Valor();
}

// Both fingerprints of an instalment, taken in opposite orders: lines whose two fingerprints meet
// are the same instalment, without any line being kept to compare.
uint64_t ImpressaoInversa(const Parcela& p) {
    return (Impressao64() << std::get<3>(p) << std::get<2>(p) << std::get<1>(p) << std::get<0>(p)
                          << int64_t{1})
        .Valor();
}

struct ImpressaoDaParcela {
    uint64_t direta, inversa;
    uint32_t linha;
    bool MesmaParcela(const ImpressaoDaParcela& o) const {
        return direta == o.direta && inversa == o.inversa;
    }
    bool operator<(const ImpressaoDaParcela& o) const {
        return std::tie(direta, inversa, linha) < std::tie(o.direta, o.inversa, o.linha);
    }
};

// An instalment as a posting stores it: the servant, the code, the amount in cents and the two
// counters. Lines that do not convert have none.
uint64_t ImpressaoDoLancamento(std::u16string_view chave, std::u16string_view codigo,
                               int64_t centavos, int64_t quant, int64_t perc) {
    return (Impressao64() << chave << SemBrancosFinais(codigo) << centavos << quant << perc)
        .Valor();
}

std::optional<uint64_t> LancamentoDaLinha(std::u16string_view linha) {
    try {
        return ImpressaoDoLancamento(
            ChaveServidor(linha), CodigoDesconto(linha), LerParcelaCentavos(linha),
            LerContador(linha, retorno::ContadorQuant), LerContador(linha, retorno::ContadorPerc));
    } catch (const Erro&) {
        return std::nullopt;
    }
}

// The last position of the fields the import reads of an instalment line.
constexpr size_t kFimDosCampos = static_cast<size_t>(retorno::ContadorQuant.Fim());
// How many lines a finding about the whole file names as examples.
constexpr size_t kExemplos = 5;

// Why a line would fail the import, in Portuguese: an amount or a counter that is no number is
// said as such; any other failure as the import says it.
std::string ValorQueFalha(std::u16string_view linha, const Erro& erro) {
    try {
        LerParcelaCentavos(linha);
    } catch (const ErroConversao&) {
        return "o valor da parcela " + Aspas(LerCampo(linha, retorno::Parcela)) + " (" +
               Posicoes(retorno::Parcela) + ") não é um número: a importação falharia nesta linha";
    }
    for (const Posicao p : {retorno::ContadorPerc, retorno::ContadorQuant}) try {
            LerContador(linha, p);
        } catch (const ErroConversao&) {
            return "o contador de parcelas " + Aspas(LerCampo(linha, p)) + " (" + Posicoes(p) +
                   ") não é um número inteiro: a importação falharia nesta linha";
        }
    return erro.what();
}

// What the checks against the payroll need of one instalment line, read in the file's one pass:
// about 64 bytes a line instead of the line.
struct DetalheLido {
    static constexpr uint32_t kSemErro = UINT32_MAX;
    std::array<char16_t, 8> chave{};  // "NNNNNN-D", or shorter on a short line
    uint8_t tamanhoChave = 0;
    bool temLancamento = false;
    uint32_t comprimento = 0;
    uint64_t lancamento = 0;  // ImpressaoDoLancamento, when temLancamento
    CadastroServidores::Pessoa pessoa;
    int64_t parcela = 0;              // cents, unless erroParcela
    uint32_t erroParcela = kSemErro;  // the message of ParcelaDaLinha, in the run's list
    uint32_t erroDados = kSemErro;    // the message of DadosDaLinha
    std::u16string Chave() const { return std::u16string(chave.data(), tamanhoChave); }
};

DetalheLido LerDetalhe(std::u16string_view linha, std::vector<std::string>& erros) {
    DetalheLido d;
    const std::u16string chave = ChaveServidor(linha);
    d.tamanhoChave = static_cast<uint8_t>(std::min(chave.size(), d.chave.size()));
    std::copy_n(chave.begin(), d.tamanhoChave, d.chave.begin());
    d.comprimento = static_cast<uint32_t>(linha.size());
    if (const auto l = LancamentoDaLinha(linha)) {
        d.temLancamento = true;
        d.lancamento = *l;
    }
    d.pessoa =
        CadastroServidores::PessoaDe(LerCampo(linha, retorno::Cpf), LerCampo(linha, retorno::Nome));
    const auto erro = [&erros, linha](const Erro& e) {
        erros.emplace_back(ValorQueFalha(linha, e));
        return static_cast<uint32_t>(erros.size() - 1);
    };
    try {
        d.parcela = ParcelaDaLinha(linha);
    } catch (const Erro& e) {
        d.erroParcela = erro(e);
    }
    try {
        DadosDaLinha(linha);
    } catch (const Erro& e) {
        d.erroDados = erro(e);
    }
    return d;
}

// What an instalment line shows by itself: an amount in another format or of zero, a negative
// counter.
void AchadosDaLinha(size_t n, std::u16string_view linha, std::vector<Achado>& achados) {
    const std::u16string chave = ChaveServidor(linha);
    auto achar = [&](TipoAchado tipo, std::string texto) {
        achados.push_back({n, Gravidade::Suspeita, tipo, std::move(texto), chave});
    };
    const std::u16string_view valor = LerCampo(linha, retorno::Parcela);
    if (!ValorNoFormato(valor)) {
        std::optional<int64_t> lido;
        try {
            lido = LerParcelaCentavos(linha);
        } catch (const Erro&) {
        }
        const std::string campo =
            "o valor da parcela " + Aspas(valor) + " (" + Posicoes(retorno::Parcela) + ")";
        achar(TipoAchado::FormatoDoValor,
              lido ? campo +
                         " não está escrito só com algarismos e um ponto antes dos centavos: a "
                         "importação o leria como R$ " +
                         ReaisLegiveis(*lido) +
                         ", o que pode não ser o valor que a consignatária quis dizer"
                   : campo + " não é um número: a importação falharia se fosse lançar esta linha");
    }
    try {
        if (LerParcelaCentavos(linha) == 0)
            achar(TipoAchado::ValorZero, "parcela de valor zero (" + Aspas(valor) + ", servidor " +
                                             ParaMensagem(chave) +
                                             "): ocuparia um slot de desconto sem descontar "
                                             "nada");
    } catch (const Erro&) {
    }
    for (const Posicao p : {retorno::ContadorPerc, retorno::ContadorQuant}) try {
            if (LerContador(linha, p) < 0)
                achar(TipoAchado::ContadorNegativo,
                      "contador de parcelas negativo " + Aspas(LerCampo(linha, p)) + " (" +
                          Posicoes(p) + ", servidor " + ParaMensagem(chave) + ")");
        } catch (const Erro&) {
        }
}

// The postings into `tabela` of the imports not undone, for the servants the file names: what
// each stored, and which import and line of its file posted it.
struct Lancada {
    uint64_t impressao;
    int32_t importacao;
    uint32_t linha;
    bool operator<(const Lancada& o) const {
        return std::tie(impressao, importacao, linha) <
               std::tie(o.impressao, o.importacao, o.linha);
    }
};

std::vector<Lancada> LancadasNaTabela(fb::Transacao& t, std::u16string_view tabela,
                                      const ConjuntoDeChaves& chaves) {
    fb::Comando c(t,
                  std::string_view("select l.MATRICULA, l.COD_DEPOIS, l.VALOR_DEPOIS, "
                                   "l.QUANT_DEPOIS, l.PERC_DEPOIS, l.ID_IMPORTACAO, "
                                   "l.LINHA_RETORNO from KAVLO_LANCAMENTO l join KAVLO_IMPORTACAO "
                                   "i on i.ID = l.ID_IMPORTACAO where i.TABELA = ? and "
                                   "i.ESTORNO_QUANDO is null"),
                  "consultar o diário de importações");
    fb::Cursor r = c.Abrir({std::u16string(tabela)});
    std::vector<Lancada> lancadas;
    while (r.Proximo()) {
        const std::u16string matricula = r.Texto(0u);
        if (!chaves.Contem(matricula) || r.Nulo(2u) || r.Nulo(3u) || r.Nulo(4u)) continue;
        try {
            lancadas.push_back({ImpressaoDoLancamento(
                                    matricula, DeWindows1252(r.Bytes(1u)), CentavosDe(r.Real(2u)),
                                    std::llround(r.Real(3u)), std::llround(r.Real(4u))),
                                r.Inteiro(5u), static_cast<uint32_t>(r.Inteiro(6u))});
        } catch (const ErroConversao&) {
        }
    }
    std::sort(lancadas.begin(), lancadas.end());
    return lancadas;
}

// The header's reference month, mmyyy: the year's last digit lies under the date.
constexpr Posicao kCompetencia{retorno::CabCompetencia.inicio,
                               retorno::CabData.inicio - retorno::CabCompetencia.inicio};

// "o cabeçalho indica 03/2024; foi informado 02/2024", or nothing when the header agrees or does
// not say. The header cannot show the year's last digit: where the rest agrees it is taken as the
// one informed.
std::optional<std::string> OutraCompetencia(std::u16string_view cabecalho, int32_t mes,
                                            int32_t ano) {
    const std::u16string_view competencia = LerCampo(cabecalho, kCompetencia);
    if (!SoDigitos(competencia) || competencia.size() != 5) return std::nullopt;
    char informada[32];
    std::snprintf(informada, sizeof informada, "%02d/%04d", mes, ano);
    const std::string c = ParaUtf8(competencia);
    const std::string anoInformado = std::string(informada + 3);
    const int mesDoCabecalho = std::stoi(c.substr(0, 2));
    const bool mesmaDecada = c.substr(2) == anoInformado.substr(0, 3);
    if (mesDoCabecalho == mes && mesmaDecada) return std::nullopt;
    return "o cabeçalho indica " + c.substr(0, 2) + "/" + c.substr(2) +
           (mesmaDecada ? anoInformado.substr(3) : "?") + "; foi informado " + informada + " (" +
           Posicoes(kCompetencia) + ": " + Aspas(competencia) +
           "). É mesmo o arquivo de retorno deste mês? Confira o mês e o ano informados";
}

// A finding that quotes the payroll's CPF, name or both, completed once the texts are read again.
struct CitaCadastro {
    size_t achado;
    uint32_t indice;
    size_t linha;
    bool cpf, nome;
};

}  // namespace

Verificacao VerificarRetorno(fb::Conexao& conexao, const PedidoVerificacao& pedido,
                             std::optional<ArquivoDeRetorno>* lido) {
    const int32_t mes = StrToInt(pedido.mes);
    const std::u16string sufixo = MesAbreviado(mes);
    if (sufixo.empty())
        throw ErroConversao("Mês '" + ParaMensagem(pedido.mes) +
                            "' inválido: informe o número do mês, de 1 a 12");
    const int32_t ano = StrToInt(pedido.ano);
    const std::u16string tabelaDoMes = u"SFPDXX02" + sufixo;

    Verificacao v;
    auto achar = [&v](size_t linha, Gravidade g, TipoAchado tipo, std::string texto,
                      std::u16string chave = {}) {
        v.achados.push_back({linha, g, tipo, std::move(texto), std::move(chave)});
    };

    // One pass over the file, the one the import posts from: the hashes and the keys, what the
    // checks of the file as a whole need, the findings the lines alone show, and of each
    // instalment line what its checks against the payroll need, held compactly (DetalheLido).
    DetectorUtf8SemMarca utf8;
    std::map<size_t, size_t> comprimentos;       // the instalment lines of one file are all alike
    std::vector<ImpressaoDaParcela> impressoes;  // of every instalment line
    std::optional<int64_t> soma = 0;             // of the instalments, while every one converts
    std::vector<DetalheLido> lidos;
    std::vector<std::string> erros;  // of the lines that do not convert
    std::vector<Achado> daLinha;     // what the lines alone show, in file order
    // Lines that cannot be instalment lines of the layout: too short for the fields the import
    // reads, or with an amount that is no number. A file made mostly of them is another file.
    size_t foraDoLeiaute = 0;
    std::vector<size_t> exemplosForaDoLeiaute;
    ArquivoDeRetorno arquivo(
        CaminhoDe(pedido.retorno),
        [&](size_t n, std::u16string_view linha) {
            ++comprimentos[linha.size()];
            const Parcela parcela = ParcelaDa(linha);
            impressoes.push_back(
                {Impressao(parcela), ImpressaoInversa(parcela), static_cast<uint32_t>(n)});
            // The amount read once, for the total and for telling a line of the layout.
            std::optional<int64_t> centavos;
            try {
                centavos = LerParcelaCentavos(linha);
            } catch (const Erro&) {
            }
            if (soma) {
                if (centavos)
                    *soma += *centavos;
                else
                    soma.reset();
            }
            // Not an instalment line of the layout: too short for the fields the import reads,
            // or with an amount that is no number.
            if (linha.size() < kFimDosCampos || !centavos) {
                ++foraDoLeiaute;
                if (exemplosForaDoLeiaute.size() < kExemplos) exemplosForaDoLeiaute.push_back(n);
            }
            lidos.push_back(LerDetalhe(linha, erros));
            AchadosDaLinha(n, linha, daLinha);
        },
        [&utf8](std::string_view bytes) { utf8.Acrescentar(bytes); });
    v.linhas = arquivo.Linhas();
    if (const size_t l = utf8.Linha())
        achar(l, Gravidade::Suspeita, TipoAchado::Codificacao,
              "o arquivo parece estar em UTF-8 sem marca de ordem de bytes (BOM): lido como "
              "Windows-1252, cada letra acentuada ocupa mais de uma posição e desloca os campos "
              "seguintes da linha. Peça o arquivo em Windows-1252, ou em UTF-8 com BOM.");
    // Each line that repeats an earlier instalment, with the first line of it.
    std::vector<std::pair<uint32_t, uint32_t>> repeticoes;
    std::sort(impressoes.begin(), impressoes.end());
    for (size_t i = 1, primeira = 0; i < impressoes.size(); ++i) {
        if (!impressoes[i - 1].MesmaParcela(impressoes[i]))
            primeira = i;
        else
            repeticoes.push_back({impressoes[i].linha, impressoes[primeira].linha});
    }
    std::vector<ImpressaoDaParcela>().swap(impressoes);
    std::sort(repeticoes.begin(), repeticoes.end());

    const ConjuntoDeChaves& chaves = arquivo.Chaves();
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    TabelaDeducao tabela(t, tabelaDoMes, chaves);
    std::optional<CadastroServidores> cadastro;
    try {
        cadastro.emplace(t, u"SFP001" + sufixo, chaves);
    } catch (const ErroBanco& e) {
        achar(0, Gravidade::Aviso, TipoAchado::CadastroIlegivel,
              "o cadastro do mês (SFP001" + ParaUtf8(sufixo) +
                  ") não pôde ser lido, e CPFs e nomes não foram conferidos: " + e.what());
    }
    std::vector<Lancada> lancadas;
    if (DiarioExiste(t)) {
        v.anterior =
            ImportacaoDoMesmoArquivo(t, arquivo.HashConteudo(), arquivo.Hash(), tabelaDoMes);
        lancadas = LancadasNaTabela(t, tabelaDoMes, chaves);
    }
    if (v.anterior)
        achar(0, Gravidade::Impede, TipoAchado::JaImportado,
              JaImportado(*v.anterior, pedido.retorno));

    const size_t linhas = arquivo.Linhas();
    if (linhas == 0)
        achar(0, Gravidade::Impede, TipoAchado::Vazio,
              "o arquivo está vazio, sem nenhuma linha: a importação o recusa. Confira se é o "
              "arquivo certo e se foi recebido por inteiro.");
    else if (linhas <= 2)
        achar(
            0, Gravidade::Suspeita, TipoAchado::Vazio,
            std::string(linhas == 1 ? "o arquivo tem uma linha só" : "o arquivo tem duas linhas") +
                " e nenhuma parcela: importá-lo não lança nada. Confira se é o arquivo certo e "
                "se foi recebido por inteiro.");
    if (linhas < 2) {
        if (lido) lido->emplace(std::move(arquivo));
        return v;
    }

    if (auto outra = OutraCompetencia(arquivo.Cabecalho(), mes, ano))
        achar(1, Gravidade::Suspeita, TipoAchado::Competencia, *outra);

    size_t maisComum = 0;
    for (const auto& [comprimento, quantas] : comprimentos)
        if (quantas > maisComum) {
            maisComum = quantas;
            v.comprimentoUsual = comprimento;
        }

    // The trailer announces the count of instalments and their total; a last line that is an
    // instalment means the file was cut and that instalment would be taken for the trailer.
    const std::u16string& rodape = arquivo.Rodape();
    const std::u16string_view quantidade = LerCampo(rodape, retorno::RodQuantidade);
    const std::u16string_view total = LerCampo(rodape, retorno::RodTotal);
    const int64_t detalhes = static_cast<int64_t>(linhas - 2);
    if (arquivo.Cortado())
        achar(linhas, Gravidade::Impede, TipoAchado::Cortado,
              "a última linha é uma parcela (servidor " + ParaMensagem(ChaveServidor(rodape)) +
                  ", tipo de registro " + Aspas(LerCampo(rodape, retorno::Tipo)) +
                  " como as demais parcelas), não um rodapé: o arquivo foi cortado, e a "
                  "importação o recusa. Peça à consignatária o arquivo completo.");
    else if (!SoDigitos(quantidade) || quantidade.size() != 10)
        achar(linhas, Gravidade::Suspeita, TipoAchado::Rodape,
              "a última linha não traz a quantidade de parcelas de um rodapé (" +
                  Posicoes(retorno::RodQuantidade) + ": " + Aspas(quantidade) +
                  "): o arquivo pode estar cortado ou sem o rodapé, e essa linha seria ignorada");
    else if (StrToInt64(quantidade) != detalhes)
        achar(linhas, Gravidade::Suspeita, TipoAchado::Rodape,
              "o rodapé anuncia " + std::to_string(StrToInt64(quantidade)) +
                  " parcelas, e o arquivo traz " + std::to_string(detalhes) +
                  ": pode estar incompleto, ou ter linhas a mais");
    else if (std::u16string texto(total); soma && ValorNoFormato(texto)) {
        texto[texto.find(u'.')] = u',';
        if (const int64_t anunciado = CentavosDoTexto(texto); anunciado != *soma)
            achar(linhas, Gravidade::Suspeita, TipoAchado::TotalDoRodape,
                  "o rodapé anuncia o total de R$ " + ReaisLegiveis(anunciado) + " (" +
                      Posicoes(retorno::RodTotal) + "), e as parcelas do arquivo somam R$ " +
                      ReaisLegiveis(*soma) + ": alguma linha pode estar deslocada ou alterada");
    }

    std::vector<CitaCadastro> citacoes;
    size_t comCadastro = 0, cpfsDiferentes = 0, semServidor = 0;
    auto repeticao = repeticoes.begin();
    auto doArquivo = daLinha.begin();
    for (size_t i = 0; i < lidos.size(); ++i) {
        const size_t n = i + 2;
        const DetalheLido& d = lidos[i];
        ++v.detalhes;
        if (d.comprimento != v.comprimentoUsual)
            achar(n, Gravidade::Suspeita, TipoAchado::Comprimento,
                  "a linha tem " + std::to_string(d.comprimento) + " caracteres, e as demais " +
                      std::to_string(v.comprimentoUsual) + ": os campos podem estar deslocados");
        const std::u16string chave = d.Chave();
        const auto indice = tabela.Indice(chave);
        if (!indice) arquivo.Mudou();
        if (repeticao != repeticoes.end() && repeticao->first == n) {
            achar(n, Gravidade::Suspeita, TipoAchado::Repetida,
                  "a mesma parcela da linha " + std::to_string(repeticao->second) + " (servidor " +
                      ParaMensagem(chave) +
                      ", código, valor e parcela iguais): seria descontada duas vezes");
            ++repeticao;
        }
        if (d.temLancamento) {
            const auto ja =
                std::lower_bound(lancadas.begin(), lancadas.end(), Lancada{d.lancamento, 0, 0});
            if (ja != lancadas.end() && ja->impressao == d.lancamento &&
                !(v.anterior && v.anterior->id == ja->importacao)) {
                const std::string id = std::to_string(ja->importacao);
                achar(n, Gravidade::Impede, TipoAchado::JaLancada,
                      "a mesma parcela (servidor " + ParaMensagem(chave) +
                          ", código, valor e contadores iguais) já foi lançada nesta tabela pela "
                          "importação " +
                          id + ", linha " + std::to_string(ja->linha) +
                          " do arquivo dela, que não foi estornada: seria descontada duas vezes. "
                          "Estorne antes a importação " +
                          id + " (kavlo estornar --importacao " + id +
                          ") ou, se a intenção é lançá-la de novo, use kavlo importar "
                          "--reimportar",
                      chave);
            }
        }
        for (; doArquivo != daLinha.end() && doArquivo->linha == n; ++doArquivo)
            v.achados.push_back(std::move(*doArquivo));

        if (cadastro && cadastro->Tem(*indice)) {
            ++comCadastro;
            const bool cpf = cadastro->CpfDifere(*indice, d.pessoa);
            const bool nome = cadastro->NomeDifere(*indice, d.pessoa);
            cpfsDiferentes += cpf;
            // The file's CPF and name are quoted once the lines that need them are read again.
            if (cpf || nome) citacoes.push_back({v.achados.size(), *indice, n, cpf, nome});
            if (cpf && nome)
                achar(n, Gravidade::Impede, TipoAchado::OutraPessoa, "", chave);
            else if (cpf)
                achar(n, Gravidade::Suspeita, TipoAchado::Cpf, "", chave);
            else if (nome)
                achar(n, Gravidade::Suspeita, TipoAchado::Nome, "", chave);
        }

        if (tabela.EstadoDe(*indice) != TabelaDeducao::Estado::Ativa) {
            const bool inativa = tabela.EstadoDe(*indice) == TabelaDeducao::Estado::Inativa;
            ++(inativa ? v.inativas : v.naoEncontradas);
            ++semServidor;
            achar(n, Gravidade::Aviso, inativa ? TipoAchado::Inativa : TipoAchado::NaoEncontrada,
                  "servidor " + ParaMensagem(chave) +
                      (inativa ? " sem linha ativa na folha do mês: a parcela será ignorada"
                               : " não encontrado na folha do mês: a parcela será ignorada"),
                  chave);
            continue;
        }
        // What the import would do with it, against the margin the earlier lines leave.
        LinhaDeducao& row = tabela.Linha(*indice);
        const auto valor = [&](uint32_t erro) {
            achar(n, Gravidade::Impede, TipoAchado::Valor,
                  erros[erro] + " (servidor " + ParaMensagem(chave) + ")", chave);
        };
        if (d.erroParcela != DetalheLido::kSemErro) {
            valor(d.erroParcela);
            continue;
        }
        const Avaliacao a = Avaliar(row, d.parcela, pedido.estrito);
        if (Lancado(a.desfecho.resultado)) {
            if (d.erroDados != DetalheLido::kSemErro) {
                valor(d.erroDados);
                continue;
            }
            Ocupar(row, a.slot, a.desfecho.novaMargem);
            ++v.descontadas;
            v.totalCentavos += a.desfecho.descontado;
        }
        v.naoDescontadas += a.desfecho.resultado == Resultado::NaoDescontado;
        v.semSlot += a.desfecho.resultado == Resultado::SemSlot;
    }
    std::vector<DetalheLido>().swap(lidos);

    // The file's CPFs and names these findings quote: only when there are any is the file read
    // again, for those lines alone (failing if its bytes are no longer those read first).
    if (!citacoes.empty()) {
        auto cita = citacoes.begin();
        arquivo.Percorrer([&](size_t n, std::u16string_view linha) {
            for (; cita != citacoes.end() && cita->linha == n; ++cita) {
                Achado& achado = v.achados[cita->achado];
                const std::u16string_view cpfArquivo = LerCampo(linha, retorno::Cpf);
                const std::u16string_view nomeArquivo = LerCampo(linha, retorno::Nome);
                const std::string chave = ParaMensagem(achado.chave);
                if (cita->cpf && cita->nome)
                    achado.texto = "o CPF " + Aspas(cpfArquivo) + " e o nome " +
                                   Aspas(Aparar(nomeArquivo)) + " não são os do servidor " + chave +
                                   ": a parcela é de outra pessoa, ou os campos da linha estão "
                                   "deslocados, e a importação recusa o arquivo (na folha, ";
                else if (cita->cpf)
                    achado.texto = "o CPF " + Aspas(cpfArquivo) + " (" + Posicoes(retorno::Cpf) +
                                   ") não é o do servidor " + chave + " na folha (";
                else
                    achado.texto = "o nome " + Aspas(Aparar(nomeArquivo)) +
                                   " difere do nome do servidor " + chave + " na folha (";
            }
        });
    }

    // The payroll's texts the findings quote, from the same rows in the same snapshot.
    if (!citacoes.empty()) {
        std::vector<uint32_t> quais;
        for (const CitaCadastro& c : citacoes) quais.push_back(c.indice);
        auto textos = cadastro->Textos(std::move(quais));
        for (const CitaCadastro& cita : citacoes) {
            const auto& [nome, cpf] = textos[cita.indice];
            std::string& texto = v.achados[cita.achado].texto;
            if (cita.cpf && cita.nome)
                texto += "CPF " + Aspas(cpf) + " e nome " + Aspas(Aparar(nome)) + ")";
            else
                texto += ParaMensagem(cita.cpf ? cpf : nome) + ")";
        }
    }

    // A file whose lines mostly name other people, or nobody, is not this payroll's file, or its
    // fields are not where they should be.
    if (comCadastro > 0 && cpfsDiferentes * 2 > comCadastro)
        achar(0, Gravidade::Suspeita, TipoAchado::CpfMaioria,
              std::to_string(cpfsDiferentes) + " de " + std::to_string(comCadastro) +
                  " linhas trazem um CPF que não é o do servidor da matrícula: os campos podem "
                  "estar deslocados, e as parcelas iriam para outras pessoas");
    if (v.detalhes > 0 && semServidor * 2 > v.detalhes)
        achar(0, Gravidade::Suspeita, TipoAchado::MaioriaSemServidor,
              std::to_string(semServidor) + " de " + std::to_string(v.detalhes) +
                  " linhas não correspondem a servidores ativos da folha do mês: é mesmo o "
                  "arquivo de retorno deste mês, no leiaute esperado?");
    // Another file altogether (Margem.txt, a report, another layout): one finding says so, instead
    // of every line's shifted fields, unknown servants and amounts that are no number.
    if (v.detalhes > 0 && foraDoLeiaute * 2 > v.detalhes) {
        std::erase_if(v.achados, [](const Achado& a) {
            return a.tipo != TipoAchado::JaImportado && a.tipo != TipoAchado::CadastroIlegivel &&
                   a.tipo != TipoAchado::Codificacao;
        });
        std::string exemplos;
        for (size_t i = 0; i < exemplosForaDoLeiaute.size(); ++i)
            exemplos += (i == 0                                  ? ""
                         : i + 1 == exemplosForaDoLeiaute.size() ? " e "
                                                                 : ", ") +
                        std::to_string(exemplosForaDoLeiaute[i]);
        achar(0, Gravidade::Impede, TipoAchado::NaoERetorno,
              "não parece um arquivo de retorno: " + std::to_string(foraDoLeiaute) + " de " +
                  std::to_string(v.detalhes) +
                  " linhas de parcela não seguem o leiaute (são curtas demais para os campos, que "
                  "vão até a posição " +
                  std::to_string(kFimDosCampos) + ", ou o valor da parcela, nas " +
                  Posicoes(retorno::Parcela) + ", não é um número), por exemplo " +
                  (exemplosForaDoLeiaute.size() == 1 ? "a linha " : "as linhas ") + exemplos +
                  ". Confira se é o arquivo de retorno que a consignatária enviou para este mês, "
                  "e não outro arquivo; a importação o recusa.");
    }
    std::stable_sort(v.achados.begin(), v.achados.end(), [](const Achado& a, const Achado& b) {
        return std::tie(a.gravidade, a.linha) < std::tie(b.gravidade, b.linha);
    });
    if (lido) lido->emplace(std::move(arquivo));
    return v;
}

}  // namespace kavlo
