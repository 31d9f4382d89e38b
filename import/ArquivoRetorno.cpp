#include "import/ArquivoRetorno.h"

#include <limits>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Sha256.h"
#include "util/Utils.h"

namespace kavlo {

std::u16string ChaveServidor(std::u16string_view linha) {
    std::u16string chave(LerCampo(linha, retorno::MatriculaNumero));
    chave += u'-';
    chave += LerCampo(linha, retorno::MatriculaDigito);
    return chave;
}

namespace {
std::u16string TextoDaParcela(std::u16string_view linha) {
    std::u16string texto(LerCampo(linha, retorno::Parcela));
    if (auto ponto = texto.find(u'.'); ponto != std::u16string::npos) texto[ponto] = u',';
    return texto;
}
// The record type at position 1; 0 for a line that has none (empty, or a blank there).
char16_t TipoDeRegistro(std::u16string_view linha) {
    const std::u16string_view tipo = LerCampo(linha, retorno::Tipo);
    return tipo.empty() || tipo[0] <= u' ' ? 0 : tipo[0];
}

void AcrescentarLinha(Sha256Incremental& hash, std::u16string_view linha) {
    std::string bytes;
    bytes.reserve(2 * linha.size() + 2);
    for (const char16_t c : linha) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    bytes += "\n";
    bytes += '\0';
    hash.Acrescentar(bytes);
}

}  // namespace

double LerParcela(std::u16string_view linha) {
    return StrToFloat(TextoDaParcela(linha));
}

int64_t LerParcelaCentavos(std::u16string_view linha) {
    return CentavosDoTexto(TextoDaParcela(linha));
}

int32_t LerContador(std::u16string_view linha, Posicao p) {
    return StrToInt(Aparar(LerCampo(linha, p)));
}

std::u16string CodigoDesconto(std::u16string_view linha) {
    return std::u16string(Aparar(LerCampo(linha, retorno::CodigoDesconto)));
}

int64_t ParcelaDaLinha(std::u16string_view linha) {
    // 10^12 reais, in cents.
    constexpr int64_t kMaiorParcela = 100000000000000;
    const std::string campo = Aspas(LerCampo(linha, retorno::Parcela));
    const std::string onde = Posicoes(retorno::Parcela);
    double valor;
    try {
        valor = LerParcela(linha);
    } catch (const ErroConversao& e) {
        throw ErroConversao("O valor da parcela nas " + onde + " (" + campo +
                            " no arquivo) não é um número: " + e.what());
    }
    if (valor < 0)
        throw ErroConversao("Parcela negativa " + campo + " nas " + onde +
                            ": o arquivo de retorno só pode trazer descontos");
    const int64_t parcela = valor < 1e12 ? LerParcelaCentavos(linha) : kMaiorParcela;
    if (parcela >= kMaiorParcela)
        throw ErroConversao("Parcela " + campo + " nas " + onde +
                            " excede o maior valor do arquivo de resultado (999999999999.99)");
    return parcela;
}

DadosDoLancamento DadosDaLinha(std::u16string_view linha) {
    DadosDoLancamento d;
    d.codigo = CodigoDesconto(linha);
    if (d.codigo.empty())
        throw Erro("Código de desconto em branco nas " + Posicoes(retorno::CodigoDesconto) +
                   ": a parcela não pode ser lançada");
    try {
        d.quant = LerContador(linha, retorno::ContadorQuant);
        d.perc = LerContador(linha, retorno::ContadorPerc);
    } catch (const ErroConversao& e) {
        throw ErroConversao("O contador de parcelas nas " + Posicoes(retorno::Contadores) +
                            " não é um número inteiro: " + e.what());
    }
    return d;
}

std::u16string ValorNoCampo(int64_t centavos, Posicao p) {
    return FormatarZeros(centavos / 100, p.largura - 3) + u"." + FormatarZeros(centavos % 100, 2);
}

std::u16string RodapeCom(std::u16string_view rodape, int64_t quantidade, int64_t centavos) {
    std::u16string r(rodape);
    if (r.size() < static_cast<size_t>(retorno::RodTotal.Fim()))
        r.resize(retorno::RodTotal.Fim(), u' ');
    const std::u16string total = ValorNoCampo(centavos, retorno::RodTotal);
    r.replace(retorno::RodQuantidade.inicio - 1, retorno::RodQuantidade.largura,
              FormatarZeros(quantidade, retorno::RodQuantidade.largura));
    r.replace(retorno::RodTotal.inicio - 1, retorno::RodTotal.largura, total);
    return r;
}

ArquivoDeRetorno::ArquivoDeRetorno(const Caminho& caminho, const AoLerDetalhe& aoLerDetalhe,
                                   std::function<void(std::string_view)> aoLerBytes)
    : caminho_(caminho), leitor_(std::make_unique<LeitorDeLinhas>(caminho)) {
    leitor_->AoLer(std::move(aoLerBytes));
    Sha256Incremental conteudo;
    // A line's role is known once the next one is read: the one before it is an instalment unless
    // it is the first.
    std::u16string linha, anterior;
    while (leitor_->Proxima(linha)) {
        const size_t n = leitor_->Lidas();
        AcrescentarLinha(conteudo, linha);
        if (n == 1) cabecalho_ = linha;
        if (n > 2) {
            chaves_.Incluir(ChaveServidor(anterior), static_cast<uint32_t>(n - 1));
            if (aoLerDetalhe) aoLerDetalhe(n - 1, anterior);
            const char16_t tipo = TipoDeRegistro(anterior);
            if (n == 3) tipoDosDetalhes_ = tipo;
            if (tipo != tipoDosDetalhes_) tipoDosDetalhes_ = 0;
        }
        std::swap(linha, anterior);
    }
    linhas_ = leitor_->Lidas();
    if (linhas_ > 0) rodape_ = anterior;
    if (linhas_ > 1) chaves_.Incluir(ChaveServidor(rodape_), 0);
    if (linhas_ > std::numeric_limits<uint32_t>::max())
        throw ErroArquivo("O arquivo de retorno '" + NomeParaMensagem(caminho_) +
                          "' tem linhas demais.");
    chaves_.Fechar();
    hash_ = leitor_->Hash();
    hashConteudo_ = conteudo.Concluir();
    leitor_->AoLer({});
}

bool ArquivoDeRetorno::Cortado() const {
    return linhas_ > 2 && tipoDosDetalhes_ != 0 && TipoDeRegistro(rodape_) == tipoDosDetalhes_;
}

ArquivoDeRetorno::~ArquivoDeRetorno() = default;
ArquivoDeRetorno::ArquivoDeRetorno(ArquivoDeRetorno&&) noexcept = default;
ArquivoDeRetorno& ArquivoDeRetorno::operator=(ArquivoDeRetorno&&) noexcept = default;

std::string ArquivoDeRetorno::BytesDaLinha() const {
    return std::string(leitor_->BytesDaLinha()) + std::string(leitor_->FimDaLinha());
}

void ArquivoDeRetorno::Mudou() const {
    throw Erro("O arquivo de retorno '" + NomeParaMensagem(caminho_) +
               "' foi alterado enquanto era lido: seus bytes na segunda leitura não são os da "
               "primeira. Nada foi lançado; espere que o programa que grava o arquivo termine e "
               "execute de novo.");
}

void ArquivoDeRetorno::Percorrer(
    const std::function<void(size_t numero, std::u16string_view linha)>& visitar) {
    leitor_->Rebobinar();
    std::u16string linha;
    try {
        while (leitor_->Proxima(linha)) {
            const size_t n = leitor_->Lidas();
            if (n > linhas_) Mudou();
            visitar(n, linha);
        }
    } catch (const Erro&) {
        // A line that no longer reads as it did fails for that reason, not for its content.
        if (leitor_->Hash() != hash_) Mudou();
        throw;
    }
    if (leitor_->Lidas() != linhas_ || leitor_->Hash() != hash_) Mudou();
}

}  // namespace kavlo
