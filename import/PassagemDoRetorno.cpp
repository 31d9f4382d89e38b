#include "import/PassagemDoRetorno.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Impressao.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {

bool SoDigitos(std::u16string_view texto) {
    return !texto.empty() && std::all_of(texto.begin(), texto.end(),
                                         [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

bool ValorNoFormato(std::u16string_view campo) {
    const std::u16string_view t = Aparar(campo);
    const size_t ponto = t.find(u'.');
    return ponto != std::u16string_view::npos && SoDigitos(t.substr(0, ponto)) &&
           SoDigitos(t.substr(ponto + 1));
}

uint64_t ImpressaoDoLancamento(std::u16string_view chave, std::u16string_view codigo,
                               int64_t centavos, int64_t quant, int64_t perc) {
    return (Impressao64() << chave << SemBrancosFinais(codigo) << centavos << quant << perc)
        .Valor();
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

// Lines that do not convert have no posting.
std::optional<uint64_t> LancamentoDaLinha(std::u16string_view linha) {
    try {
        return ImpressaoDoLancamento(
            ChaveServidor(linha), CodigoDesconto(linha), LerParcelaCentavos(linha),
            LerContador(linha, retorno::ContadorQuant), LerContador(linha, retorno::ContadorPerc));
    } catch (const Erro&) {
        return std::nullopt;
    }
}

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

// Each line that repeats an earlier instalment, with the first line of it, in file order.
std::vector<std::pair<uint32_t, uint32_t>> Repeticoes(std::vector<ImpressaoDaParcela> impressoes) {
    std::vector<std::pair<uint32_t, uint32_t>> repeticoes;
    std::sort(impressoes.begin(), impressoes.end());
    for (size_t i = 1, primeira = 0; i < impressoes.size(); ++i) {
        if (!impressoes[i - 1].MesmaParcela(impressoes[i]))
            primeira = i;
        else
            repeticoes.push_back({impressoes[i].linha, impressoes[primeira].linha});
    }
    std::sort(repeticoes.begin(), repeticoes.end());
    return repeticoes;
}

}  // namespace

PassagemDoRetorno PercorrerRetorno(const Caminho& caminho) {
    PassagemDoRetorno p;
    DetectorUtf8SemMarca utf8;
    std::vector<ImpressaoDaParcela> impressoes;  // of every instalment line
    p.arquivo.emplace(
        caminho,
        [&](size_t n, std::u16string_view linha) {
            ++p.comprimentos[linha.size()];
            const Parcela parcela = ParcelaDa(linha);
            impressoes.push_back(
                {Impressao(parcela), ImpressaoInversa(parcela), static_cast<uint32_t>(n)});
            // The amount read once, for the total and for telling a line of the layout.
            std::optional<int64_t> centavos;
            try {
                centavos = LerParcelaCentavos(linha);
            } catch (const Erro&) {
            }
            if (p.soma) {
                if (centavos)
                    *p.soma += *centavos;
                else
                    p.soma.reset();
            }
            // Not an instalment line of the layout: too short for the fields the import reads,
            // or with an amount that is no number.
            if (linha.size() < kFimDosCampos || !centavos) {
                ++p.foraDoLeiaute;
                if (p.exemplosForaDoLeiaute.size() < kExemplos)
                    p.exemplosForaDoLeiaute.push_back(n);
            }
            p.lidos.push_back(LerDetalhe(linha, p.erros));
            AchadosDaLinha(n, linha, p.daLinha);
        },
        [&utf8](std::string_view bytes) { utf8.Acrescentar(bytes); });
    p.linhaUtf8 = utf8.Linha();
    p.repeticoes = Repeticoes(std::move(impressoes));
    return p;
}

namespace {

// "o cabeçalho indica 03/2024; foi informado 02/2024", or nothing when the header agrees or does
// not say. The header cannot show the year's last digit: where the rest agrees it is taken as the
// one informed.
std::optional<std::string> OutraCompetencia(std::u16string_view cabecalho, int32_t mes,
                                            int32_t ano) {
    const std::u16string_view competencia = LerCampo(cabecalho, retorno::CabMesAno);
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
           Posicoes(retorno::CabMesAno) + ": " + Aspas(competencia) +
           "). É mesmo o arquivo de retorno deste mês? Confira o mês e o ano informados";
}

size_t ComprimentoUsual(const std::map<size_t, size_t>& comprimentos) {
    size_t maisComum = 0, usual = 0;
    for (const auto& [comprimento, quantas] : comprimentos)
        if (quantas > maisComum) {
            maisComum = quantas;
            usual = comprimento;
        }
    return usual;
}

// The trailer announces the count of instalments and their total; a last line that is an
// instalment means the file was cut and that instalment would be taken for the trailer.
void AcharRodape(Verificacao& v, const ArquivoDeRetorno& arquivo, std::optional<int64_t> soma) {
    const size_t linhas = arquivo.Linhas();
    const std::u16string& rodape = arquivo.Rodape();
    const std::u16string_view quantidade = LerCampo(rodape, retorno::RodQuantidade);
    const std::u16string_view total = LerCampo(rodape, retorno::RodTotal);
    const int64_t detalhes = static_cast<int64_t>(linhas - 2);
    if (arquivo.Cortado())
        Achar(v, linhas, Gravidade::Impede, TipoAchado::Cortado,
              "a última linha é uma parcela (servidor " + ParaMensagem(ChaveServidor(rodape)) +
                  ", tipo de registro " + Aspas(LerCampo(rodape, retorno::Tipo)) +
                  " como as demais parcelas), não um rodapé: o arquivo foi cortado, e a "
                  "importação o recusa. Peça à consignatária o arquivo completo.");
    else if (!SoDigitos(quantidade) || quantidade.size() != 10)
        Achar(v, linhas, Gravidade::Suspeita, TipoAchado::Rodape,
              "a última linha não traz a quantidade de parcelas de um rodapé (" +
                  Posicoes(retorno::RodQuantidade) + ": " + Aspas(quantidade) +
                  "): o arquivo pode estar cortado ou sem o rodapé, e essa linha seria ignorada");
    else if (StrToInt64(quantidade) != detalhes)
        Achar(v, linhas, Gravidade::Suspeita, TipoAchado::Rodape,
              "o rodapé anuncia " + std::to_string(StrToInt64(quantidade)) +
                  " parcelas, e o arquivo traz " + std::to_string(detalhes) +
                  ": pode estar incompleto, ou ter linhas a mais");
    else if (std::u16string texto(total); soma && ValorNoFormato(texto)) {
        texto[texto.find(u'.')] = u',';
        if (const int64_t anunciado = CentavosDoTexto(texto); anunciado != *soma)
            Achar(v, linhas, Gravidade::Suspeita, TipoAchado::TotalDoRodape,
                  "o rodapé anuncia o total de R$ " + ReaisLegiveis(anunciado) + " (" +
                      Posicoes(retorno::RodTotal) + "), e as parcelas do arquivo somam R$ " +
                      ReaisLegiveis(*soma) + ": alguma linha pode estar deslocada ou alterada");
    }
}

}  // namespace

void AcharCodificacao(Verificacao& v, size_t linha) {
    if (linha)
        Achar(v, linha, Gravidade::Suspeita, TipoAchado::Codificacao,
              "o arquivo parece estar em UTF-8 sem marca de ordem de bytes (BOM): lido como "
              "Windows-1252, cada letra acentuada ocupa mais de uma posição e desloca os campos "
              "seguintes da linha. Peça o arquivo em Windows-1252, ou em UTF-8 com BOM.");
}

bool AcharVazio(Verificacao& v, size_t linhas) {
    if (linhas == 0)
        Achar(v, 0, Gravidade::Impede, TipoAchado::Vazio,
              "o arquivo está vazio, sem nenhuma linha: a importação o recusa. Confira se é o "
              "arquivo certo e se foi recebido por inteiro.");
    else if (linhas <= 2)
        Achar(
            v, 0, Gravidade::Suspeita, TipoAchado::Vazio,
            std::string(linhas == 1 ? "o arquivo tem uma linha só" : "o arquivo tem duas linhas") +
                " e nenhuma parcela: importá-lo não lança nada. Confira se é o arquivo certo e "
                "se foi recebido por inteiro.");
    return linhas < 2;
}

void AcharNoArquivo(Verificacao& v, const PassagemDoRetorno& p, int32_t mes, int32_t ano) {
    if (auto outra = OutraCompetencia(p.arquivo->Cabecalho(), mes, ano))
        Achar(v, 1, Gravidade::Suspeita, TipoAchado::Competencia, *outra);
    v.comprimentoUsual = ComprimentoUsual(p.comprimentos);
    AcharRodape(v, *p.arquivo, p.soma);
}

}  // namespace kavlo
