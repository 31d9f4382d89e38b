#include "import/Verificacao.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <tuple>
#include <unordered_map>

#include "import/ArquivoRetorno.h"
#include "import/Lancamento.h"
#include "import/TabelaDeducao.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Sha256.h"
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
// field after it. Returns the 1-based line of the first such letter, or 0.
size_t LinhaUtf8SemMarca(std::string_view b) {
    if (b.starts_with("\xEF\xBB\xBF") || b.starts_with("\xFF\xFE") || b.starts_with("\xFE\xFF"))
        return 0;
    size_t primeira = 0, linha = 1;
    for (size_t i = 0; i < b.size();) {
        const auto c = static_cast<unsigned char>(b[i]);
        if (c == '\n') ++linha;
        if (c < 0x80) {
            ++i;
            continue;
        }
        const size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (n == 0 || i + n > b.size()) return 0;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(b[i + k]) & 0xC0) != 0x80) return 0;
        if (!primeira) primeira = linha;
        i += n;
    }
    return primeira;
}

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

struct Cadastro {
    std::u16string nome, cpf;
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

    // Read exactly as the import reads it.
    const Caminho caminho = CaminhoDe(pedido.retorno);
    const std::string bytes = LerBytes(caminho);
    const std::string hash = Sha256(bytes);
    const std::vector<std::u16string> linhas = LinhasDoArquivo(caminho, bytes);
    v.linhas = linhas.size();
    if (const size_t l = LinhaUtf8SemMarca(bytes))
        achar(l, Gravidade::Suspeita, "codificacao",
              "o arquivo parece estar em UTF-8 sem marca de ordem de bytes (BOM): lido como "
              "Windows-1252, cada letra acentuada ocupa mais de uma posição e desloca os campos "
              "seguintes da linha. Peça o arquivo em Windows-1252, ou em UTF-8 com BOM.");

    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    TabelaDeducao tabela = LerTabela(t, u"SFPDXX02" + sufixo);
    std::unordered_map<std::u16string, Cadastro> cadastro;
    try {
        fb::Comando c(t, u"select MATRICULA, NOME, CPF from SFP001" + sufixo,
                      "ler o cadastro dos servidores do mês");
        fb::Cursor r = c.Abrir();
        while (r.Proximo()) cadastro.try_emplace(r.Texto(0u), Cadastro{r.Texto(1u), r.Texto(2u)});
    } catch (const ErroBanco& e) {
        achar(0, Gravidade::Aviso, "cadastro",
              "o cadastro do mês (SFP001" + ParaUtf8(sufixo) +
                  ") não pôde ser lido, e CPFs e nomes não foram conferidos: " + e.what());
    }
    if (DiarioExiste(t)) v.anterior = ImportacaoDoMesmoArquivo(t, hash, mes, ano);
    if (v.anterior)
        achar(0, Gravidade::Impede, "ja_importado",
              "este arquivo já foi importado para o mês: " + DescreverImportacao(*v.anterior));

    if (linhas.size() < 2) return v;

    // The header's reference month, mmyyyy, whose last digit lies under the date.
    constexpr Posicao kCompetencia{retorno::CabCompetencia.inicio,
                                   retorno::CabData.inicio - retorno::CabCompetencia.inicio};
    const std::u16string_view competencia = LerCampo(linhas.front(), kCompetencia);
    char esperada[16];
    std::snprintf(esperada, sizeof esperada, "%02d%04d", mes, ano);
    if (SoDigitos(competencia) && competencia.size() == 5 &&
        ParaUtf8(competencia) != std::string(esperada, 5))
        achar(1, Gravidade::Suspeita, "competencia",
              "o cabeçalho indica outra competência (" + Posicoes(kCompetencia) + ": " +
                  Aspas(competencia) + "; para " + std::string(esperada, 2) + "/" +
                  std::to_string(ano) + " seria '" + std::string(esperada, 5) +
                  "'): é mesmo o arquivo de retorno deste mês?");

    // Lengths: the instalment lines of one file are all alike.
    std::map<size_t, size_t> comprimentos;
    for (size_t i = 1; i + 1 < linhas.size(); ++i) ++comprimentos[linhas[i].size()];
    size_t maisComum = 0;
    for (const auto& [comprimento, quantas] : comprimentos)
        if (quantas > maisComum) {
            maisComum = quantas;
            v.comprimentoUsual = comprimento;
        }

    // The trailer announces the count of instalments; a last line that is an instalment means
    // the file was cut and that instalment would be taken for the trailer.
    const std::u16string& rodape = linhas.back();
    const std::u16string_view quantidade = LerCampo(rodape, retorno::RodQuantidade);
    if (SoDigitos(quantidade) && quantidade.size() == 10 &&
        StrToInt64(quantidade) != static_cast<int64_t>(linhas.size() - 2))
        achar(linhas.size(), Gravidade::Suspeita, "rodape",
              "o rodapé anuncia " + std::to_string(StrToInt64(quantidade)) +
                  " parcelas, e o arquivo traz " + std::to_string(linhas.size() - 2) +
                  ": pode estar incompleto");
    else if (linhas.size() > 2 && rodape.size() == v.comprimentoUsual && !rodape.empty() &&
             rodape[0] == linhas[1][0] &&
             (tabela.ativas.contains(ChaveServidor(rodape)) ||
              tabela.inativas.contains(ChaveServidor(rodape))))
        achar(linhas.size(), Gravidade::Suspeita, "rodape",
              "a última linha parece uma parcela (servidor " + ParaMensagem(ChaveServidor(rodape)) +
                  "), não um rodapé: o arquivo pode estar incompleto, e essa parcela seria "
                  "tomada pelo rodapé e ignorada");

    std::map<std::tuple<std::u16string, std::u16string, std::u16string, std::u16string>, size_t>
        vistas;
    size_t comCadastro = 0, cpfsDiferentes = 0, semServidor = 0;
    for (size_t i = 1; i + 1 < linhas.size(); ++i) {
        const std::u16string& linha = linhas[i];
        const size_t n = i + 1;
        ++v.detalhes;
        if (linha.size() != v.comprimentoUsual)
            achar(n, Gravidade::Suspeita, "comprimento",
                  "a linha tem " + std::to_string(linha.size()) + " caracteres, e as demais " +
                      std::to_string(v.comprimentoUsual) + ": os campos podem estar deslocados");
        const std::u16string chave = ChaveServidor(linha);
        const auto [repetida, nova] = vistas.try_emplace(
            {chave, CodigoDesconto(linha), std::u16string(LerCampo(linha, retorno::Parcela)),
             std::u16string(LerCampo(linha, retorno::ContadorPerc))},
            n);
        if (!nova)
            achar(n, Gravidade::Aviso, "repetida",
                  "a mesma parcela da linha " + std::to_string(repetida->second) + " (servidor " +
                      ParaMensagem(chave) + ", código, valor e parcela iguais)");

        if (auto c = cadastro.find(chave); c != cadastro.end()) {
            ++comCadastro;
            const std::u16string cpf = Digitos(c->second.cpf);
            const std::u16string_view cpfArquivo = LerCampo(linha, retorno::Cpf);
            if (!cpf.empty() &&
                AjustaTexto(std::u16string(11 - std::min<size_t>(cpf.size(), 11), u'0') + cpf,
                            11) != cpfArquivo) {
                ++cpfsDiferentes;
                achar(n, Gravidade::Aviso, "cpf",
                      "o CPF " + Aspas(cpfArquivo) + " (" + Posicoes(retorno::Cpf) +
                          ") não é o do servidor " + ParaMensagem(chave) + " na folha (" +
                          ParaMensagem(c->second.cpf) + ")");
            }
            const std::u16string nome = NomeComparavel(LerCampo(linha, retorno::Nome));
            const std::u16string daFolha = NomeComparavel(AjustaTexto(c->second.nome, 40));
            if (nome != daFolha)
                achar(n, Gravidade::Aviso, "nome",
                      "o nome " + Aspas(Aparar(LerCampo(linha, retorno::Nome))) +
                          " difere do nome do servidor " + ParaMensagem(chave) + " na folha (" +
                          ParaMensagem(c->second.nome) + ")");
        }

        const auto achada = tabela.ativas.find(chave);
        if (achada == tabela.ativas.end()) {
            const bool inativa = tabela.inativas.contains(chave);
            ++(inativa ? v.inativas : v.naoEncontradas);
            ++semServidor;
            achar(n, Gravidade::Aviso, inativa ? "inativa" : "nao_encontrada",
                  "servidor " + ParaMensagem(chave) +
                      (inativa ? " sem linha ativa na folha do mês: a parcela será ignorada"
                               : " não encontrado na folha do mês: a parcela será ignorada"),
                  chave);
            continue;
        }
        // What the import would do with it, against the margin the earlier lines leave.
        LinhaDeducao& row = achada->second;
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
