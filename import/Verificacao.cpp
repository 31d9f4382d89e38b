#include "import/Verificacao.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <tuple>

#include "import/ArquivoRetorno.h"
#include "import/Lancamento.h"
#include "import/TabelaDeducao.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {

bool Verificacao::Tem(Gravidade g) const {
    return std::any_of(achados.begin(), achados.end(),
                       [g](const Achado& a) { return a.gravidade == g; });
}

std::map<std::string, size_t> Verificacao::Contagem(Gravidade g) const {
    std::map<std::string, size_t> r;
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

// Upper case without accents and with single blanks, for comparing names as people write them.
std::u16string NomeComparavel(std::u16string_view nome) {
    static constexpr std::u16string_view kAcentuadas =
        u"ÀÁÂÃÄÅÇÈÉÊËÌÍÎÏÑÒÓÔÕÖÙÚÛÜÝàáâãäåçèéêëìíîïñòóôõöùúûüýÿ";
    static constexpr std::u16string_view kSemAcento =
        u"AAAAAACEEEEIIIINOOOOOUUUUYAAAAAACEEEEIIIINOOOOOUUUUYY";
    std::u16string r;
    for (char16_t c : nome) {
        if (auto p = kAcentuadas.find(c); p != std::u16string_view::npos) c = kSemAcento[p];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        if (c <= u' ') {
            if (!r.empty() && r.back() != u' ') r += u' ';
            continue;
        }
        r += c;
    }
    while (!r.empty() && r.back() == u' ') r.pop_back();
    return r;
}

std::u16string Digitos(std::u16string_view texto) {
    std::u16string r;
    for (char16_t c : texto)
        if (c >= u'0' && c <= u'9') r += c;
    return r;
}

bool SoDigitos(std::u16string_view texto) {
    return !texto.empty() && Digitos(texto).size() == texto.size();
}

// 64-bit FNV-1a, each text after its length.
class Impressao64 {
  public:
    Impressao64& operator<<(std::u16string_view t) {
        Mais(t.size());
        for (char16_t c : t) Mais(c);
        return *this;
    }
    uint64_t Valor() const { return h_; }

  private:
    void Mais(uint64_t v) {
        h_ ^= v;
        h_ *= 1099511628211u;
    }
    uint64_t h_ = 14695981039346656037u;
};

// What the check compares of the payroll's registration of each servant the file names (the first
// row of each MATRICULA, compared exactly as it stands), kept small: the CPF's digits as they are
// compared, and a hash of the name as people write it. The texts, which only a finding quotes,
// are read again for the servants that have one.
class Cadastro {
  public:
    explicit Cadastro(size_t chaves) : entradas_(chaves) {}

    void Incluir(uint32_t indice, std::u16string_view nome, std::u16string_view cpf) {
        Entrada& e = entradas_[indice];
        if (e.presente) return;
        e.presente = true;
        e.nome = (Impressao64() << NomeComparavel(AjustaTexto(nome, 40))).Valor();
        const std::u16string digitos = Digitos(cpf);
        e.temCpf = !digitos.empty();
        // As the line's CPF is compared: zeros on the left up to 11 digits, or the first 11.
        const std::u16string comparado = AjustaTexto(
            std::u16string(11 - std::min<size_t>(digitos.size(), 11), u'0') + digitos, 11);
        uint64_t n = 0;
        for (char16_t c : comparado) n = n * 10 + static_cast<uint64_t>(c - u'0');
        e.cpf = n;
    }
    bool Tem(uint32_t indice) const { return entradas_[indice].presente; }
    // Whether the line's CPF (positions 42-52) is not the payroll's, when the payroll has one.
    bool CpfDifere(uint32_t indice, std::u16string_view cpfArquivo) const {
        const Entrada& e = entradas_[indice];
        if (!e.temCpf) return false;
        if (cpfArquivo.size() != 11 || !SoDigitos(cpfArquivo)) return true;
        uint64_t n = 0;
        for (char16_t c : cpfArquivo) n = n * 10 + static_cast<uint64_t>(c - u'0');
        return n != e.cpf;
    }
    bool NomeDifere(uint32_t indice, std::u16string_view nomeArquivo) const {
        return (Impressao64() << NomeComparavel(nomeArquivo)).Valor() != entradas_[indice].nome;
    }

  private:
    struct Entrada {
        uint64_t nome = 0;
        uint64_t cpf : 40 = 0;  // 11 digits
        uint64_t presente : 1 = 0;
        uint64_t temCpf : 1 = 0;
    };
    std::vector<Entrada> entradas_;  // by key
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

// A finding that quotes the payroll's CPF or name, completed once the texts are read again.
struct CitaCadastro {
    size_t achado;
    uint32_t indice;
    bool cpf;
};

}  // namespace

Verificacao VerificarRetorno(fb::Conexao& conexao, const PedidoVerificacao& pedido) {
    const int32_t mes = StrToInt(pedido.mes);
    const std::u16string sufixo = MesAbreviado(mes);
    if (sufixo.empty())
        throw ErroConversao("Mês '" + ParaMensagem(pedido.mes) +
                            "' inválido: informe o número do mês, de 1 a 12");
    const int32_t ano = StrToInt(pedido.ano);

    Verificacao v;
    auto achar = [&v](size_t linha, Gravidade g, const char* tipo, std::string texto,
                      std::u16string chave = {}) {
        v.achados.push_back({linha, g, tipo, std::move(texto), std::move(chave)});
    };

    // Read exactly as the import reads it: a first pass for the hash, the keys and what the
    // checks of the file as a whole need, then the lines again one at a time.
    DetectorUtf8SemMarca utf8;
    std::map<size_t, size_t> comprimentos;  // the instalment lines of one file are all alike
    std::vector<uint64_t> impressoes;       // of every instalment line
    char16_t inicioDoPrimeiro = 0;
    ArquivoDeRetorno arquivo(
        CaminhoDe(pedido.retorno),
        [&](size_t numero, std::u16string_view linha) {
            ++comprimentos[linha.size()];
            impressoes.push_back(Impressao(ParcelaDa(linha)));
            if (numero == 2 && !linha.empty()) inicioDoPrimeiro = linha[0];
        },
        [&utf8](std::string_view bytes) { utf8.Acrescentar(bytes); });
    const std::string& hash = arquivo.Hash();
    v.linhas = arquivo.Linhas();
    if (const size_t l = utf8.Linha())
        achar(l, Gravidade::Suspeita, "codificacao",
              "o arquivo parece estar em UTF-8 sem marca de ordem de bytes (BOM): lido como "
              "Windows-1252, cada letra acentuada ocupa mais de uma posição e desloca os campos "
              "seguintes da linha. Peça o arquivo em Windows-1252, ou em UTF-8 com BOM.");
    // The hashes more than one line has: only lines with one of them may repeat another.
    std::sort(impressoes.begin(), impressoes.end());
    std::vector<uint64_t> repetidas;
    for (size_t i = 1; i < impressoes.size(); ++i)
        if (impressoes[i - 1] == impressoes[i] &&
            (repetidas.empty() || repetidas.back() != impressoes[i]))
            repetidas.push_back(impressoes[i]);
    std::vector<uint64_t>().swap(impressoes);

    const ConjuntoDeChaves& chaves = arquivo.Chaves();
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    TabelaDeducao tabela(t, u"SFPDXX02" + sufixo, chaves);
    Cadastro cadastro(chaves.Tamanho());
    try {
        fb::Comando c(t, u"select MATRICULA, NOME, CPF from SFP001" + sufixo,
                      "ler o cadastro dos servidores do mês");
        fb::Cursor r = c.Abrir();
        while (r.Proximo())
            if (const auto i = chaves.Indice(r.Texto(0u)))
                cadastro.Incluir(*i, r.Texto(1u), r.Texto(2u));
    } catch (const ErroBanco& e) {
        achar(0, Gravidade::Aviso, "cadastro",
              "o cadastro do mês (SFP001" + ParaUtf8(sufixo) +
                  ") não pôde ser lido, e CPFs e nomes não foram conferidos: " + e.what());
    }
    if (DiarioExiste(t))
        v.anterior =
            ImportacaoDoMesmoArquivo(t, arquivo.HashConteudo(), hash, u"SFPDXX02" + sufixo);
    if (v.anterior)
        achar(0, Gravidade::Impede, "ja_importado", JaImportado(*v.anterior, pedido.retorno));

    const size_t linhas = arquivo.Linhas();
    if (linhas < 2) return v;

    // The header's reference month, mmyyyy, whose last digit lies under the date.
    constexpr Posicao kCompetencia{retorno::CabCompetencia.inicio,
                                   retorno::CabData.inicio - retorno::CabCompetencia.inicio};
    const std::u16string_view competencia = LerCampo(arquivo.Cabecalho(), kCompetencia);
    char esperada[16];
    std::snprintf(esperada, sizeof esperada, "%02d%04d", mes, ano);
    if (SoDigitos(competencia) && competencia.size() == 5 &&
        ParaUtf8(competencia) != std::string(esperada, 5))
        achar(1, Gravidade::Suspeita, "competencia",
              "o cabeçalho indica outra competência (" + Posicoes(kCompetencia) + ": " +
                  Aspas(competencia) + "; para " + std::string(esperada, 2) + "/" +
                  std::to_string(ano) + " seria '" + std::string(esperada, 5) +
                  "'): é mesmo o arquivo de retorno deste mês?");

    size_t maisComum = 0;
    for (const auto& [comprimento, quantas] : comprimentos)
        if (quantas > maisComum) {
            maisComum = quantas;
            v.comprimentoUsual = comprimento;
        }

    // The trailer announces the count of instalments; a last line that is an instalment means
    // the file was cut and that instalment would be taken for the trailer.
    const std::u16string& rodape = arquivo.Rodape();
    const std::u16string_view quantidade = LerCampo(rodape, retorno::RodQuantidade);
    const auto chaveDoRodape = tabela.Indice(ChaveServidor(rodape));
    if (SoDigitos(quantidade) && quantidade.size() == 10 &&
        StrToInt64(quantidade) != static_cast<int64_t>(linhas - 2))
        achar(linhas, Gravidade::Suspeita, "rodape",
              "o rodapé anuncia " + std::to_string(StrToInt64(quantidade)) +
                  " parcelas, e o arquivo traz " + std::to_string(linhas - 2) +
                  ": pode estar incompleto");
    else if (linhas > 2 && rodape.size() == v.comprimentoUsual && !rodape.empty() &&
             rodape[0] == inicioDoPrimeiro && chaveDoRodape &&
             tabela.EstadoDe(*chaveDoRodape) != TabelaDeducao::Estado::SemLinha)
        achar(linhas, Gravidade::Suspeita, "rodape",
              "a última linha parece uma parcela (servidor " + ParaMensagem(ChaveServidor(rodape)) +
                  "), não um rodapé: o arquivo pode estar incompleto, e essa parcela seria "
                  "tomada pelo rodapé e ignorada");

    std::map<Parcela, size_t> vistas;  // of the lines that may repeat
    std::vector<CitaCadastro> citacoes;
    size_t comCadastro = 0, cpfsDiferentes = 0, semServidor = 0;
    arquivo.Percorrer([&](size_t n, std::u16string_view linha) {
        if (n == 1 || n == linhas) return;
        ++v.detalhes;
        if (linha.size() != v.comprimentoUsual)
            achar(n, Gravidade::Suspeita, "comprimento",
                  "a linha tem " + std::to_string(linha.size()) + " caracteres, e as demais " +
                      std::to_string(v.comprimentoUsual) + ": os campos podem estar deslocados");
        const std::u16string chave = ChaveServidor(linha);
        const auto indice = tabela.Indice(chave);
        if (!indice) arquivo.Mudou();
        if (const Parcela parcela = ParcelaDa(linha);
            std::binary_search(repetidas.begin(), repetidas.end(), Impressao(parcela))) {
            const auto [repetida, nova] = vistas.try_emplace(parcela, n);
            if (!nova)
                achar(n, Gravidade::Aviso, "repetida",
                      "a mesma parcela da linha " + std::to_string(repetida->second) +
                          " (servidor " + ParaMensagem(chave) +
                          ", código, valor e parcela iguais)");
        }

        if (cadastro.Tem(*indice)) {
            ++comCadastro;
            const std::u16string_view cpfArquivo = LerCampo(linha, retorno::Cpf);
            if (cadastro.CpfDifere(*indice, cpfArquivo)) {
                ++cpfsDiferentes;
                citacoes.push_back({v.achados.size(), *indice, true});
                achar(n, Gravidade::Aviso, "cpf",
                      "o CPF " + Aspas(cpfArquivo) + " (" + Posicoes(retorno::Cpf) +
                          ") não é o do servidor " + ParaMensagem(chave) + " na folha (");
            }
            if (cadastro.NomeDifere(*indice, LerCampo(linha, retorno::Nome))) {
                citacoes.push_back({v.achados.size(), *indice, false});
                achar(n, Gravidade::Aviso, "nome",
                      "o nome " + Aspas(Aparar(LerCampo(linha, retorno::Nome))) +
                          " difere do nome do servidor " + ParaMensagem(chave) + " na folha (");
            }
        }

        if (tabela.EstadoDe(*indice) != TabelaDeducao::Estado::Ativa) {
            const bool inativa = tabela.EstadoDe(*indice) == TabelaDeducao::Estado::Inativa;
            ++(inativa ? v.inativas : v.naoEncontradas);
            ++semServidor;
            achar(n, Gravidade::Aviso, inativa ? "inativa" : "nao_encontrada",
                  "servidor " + ParaMensagem(chave) +
                      (inativa ? " sem linha ativa na folha do mês: a parcela será ignorada"
                               : " não encontrado na folha do mês: a parcela será ignorada"),
                  chave);
            return;
        }
        // What the import would do with it, against the margin the earlier lines leave.
        LinhaDeducao& row = tabela.Linha(*indice);
        try {
            const Avaliacao a = Avaliar(row, linha, pedido.estrito);
            if (a.dados) {
                Ocupar(row, a.slot, a.desfecho.novaMargem);
                ++v.descontadas;
                v.totalCentavos += a.desfecho.descontado;
            }
            v.naoDescontadas += a.desfecho.resultado == Resultado::NaoDescontado;
            v.semSlot += a.desfecho.resultado == Resultado::SemSlot;
        } catch (const Erro& e) {
            achar(n, Gravidade::Impede, "valor",
                  std::string(e.what()) + " (servidor " + ParaMensagem(chave) + ")");
        }
    });

    // The payroll's texts the findings quote, from the same rows in the same snapshot.
    if (!citacoes.empty()) {
        std::vector<uint32_t> quais;
        for (const CitaCadastro& c : citacoes) quais.push_back(c.indice);
        std::sort(quais.begin(), quais.end());
        quais.erase(std::unique(quais.begin(), quais.end()), quais.end());
        std::map<uint32_t, std::pair<std::u16string, std::u16string>> textos;
        fb::Comando c(t, u"select MATRICULA, NOME, CPF from SFP001" + sufixo,
                      "ler o cadastro dos servidores do mês");
        fb::Cursor r = c.Abrir();
        while (r.Proximo())
            if (const auto i = chaves.Indice(r.Texto(0u));
                i && std::binary_search(quais.begin(), quais.end(), *i))
                textos.try_emplace(*i, r.Texto(1u), r.Texto(2u));
        for (const CitaCadastro& cita : citacoes) {
            const auto& [nome, cpf] = textos[cita.indice];
            v.achados[cita.achado].texto += ParaMensagem(cita.cpf ? cpf : nome) + ")";
        }
    }

    // A file whose lines mostly name other people, or nobody, is not this payroll's file, or its
    // fields are not where they should be.
    if (comCadastro > 0 && cpfsDiferentes * 2 > comCadastro)
        achar(0, Gravidade::Suspeita, "cpf_maioria",
              std::to_string(cpfsDiferentes) + " de " + std::to_string(comCadastro) +
                  " linhas trazem um CPF que não é o do servidor da matrícula: os campos podem "
                  "estar deslocados, e as parcelas iriam para outras pessoas");
    if (v.detalhes > 0 && semServidor * 2 > v.detalhes)
        achar(0, Gravidade::Suspeita, "maioria_sem_servidor",
              std::to_string(semServidor) + " de " + std::to_string(v.detalhes) +
                  " linhas não correspondem a servidores ativos da folha do mês: é mesmo o "
                  "arquivo de retorno deste mês, no leiaute esperado?");
    std::stable_sort(v.achados.begin(), v.achados.end(), [](const Achado& a, const Achado& b) {
        return std::tie(a.gravidade, a.linha) < std::tie(b.gravidade, b.linha);
    });
    return v;
}

}  // namespace kavlo
