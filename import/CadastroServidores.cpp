#include "import/CadastroServidores.h"

#include <algorithm>

#include "dao/DaoKavlo.h"
#include "dao/firebird/Firebird.h"
#include "import/ArquivoRetorno.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Impressao.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

std::u16string Digitos(std::u16string_view texto) {
    std::u16string r;
    for (char16_t c : texto)
        if (c >= u'0' && c <= u'9') r += c;
    return r;
}

uint64_t Numero(std::u16string_view digitos) {
    uint64_t n = 0;
    for (char16_t c : digitos) n = n * 10 + static_cast<uint64_t>(c - u'0');
    return n;
}

uint64_t ImpressaoDoNome(std::u16string_view nome) {
    return (Impressao64() << NomeComparavel(nome)).Valor();
}

std::u16string Selecao(std::u16string_view tabela) {
    return u"select MATRICULA, NOME, CPF from " + std::u16string(tabela);
}

}  // namespace

std::u16string NomeComparavel(std::u16string_view nome) {
    static constexpr std::u16string_view kAcentuadas =
        u"ÀÁÂÃÄÅÇÈÉÊËÌÍÎÏÑÒÓÔÕÖÙÚÛÜÝàáâãäåçèéêëìíîïñòóôõöùúûüýÿ";
    static constexpr std::u16string_view kSemAcento =
        u"AAAAAACEEEEIIIINOOOOOUUUUYAAAAAACEEEEIIIINOOOOOUUUUYY";
    std::u16string r;
    // Taken first as the files carry them (Windows' best fit: Ł is L), so that the payroll's name
    // compares equal to the one Margem.txt sent and the party returns.
    for (char16_t c : DeWindows1252(ParaWindows1252MelhorAjuste(nome))) {
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

CadastroServidores::CadastroServidores(fb::Transacao& transacao, std::u16string tabela,
                                       const ConjuntoDeChaves& chaves)
    : transacao_(transacao),
      tabela_(std::move(tabela)),
      chaves_(chaves),
      entradas_(chaves.Tamanho()) {
    fb::Comando c(transacao_, Selecao(tabela_), "ler o cadastro dos servidores do mês");
    fb::Cursor r = c.Abrir();
    while (r.Proximo()) {
        const auto indice = chaves_.Indice(r.Texto(0u));
        if (!indice) continue;
        Entrada& e = entradas_[*indice];
        if (e.presente) continue;
        e.presente = true;
        // The file holds the name in 40 positions: a longer one arrives cut.
        e.nome = ImpressaoDoNome(AjustaTexto(r.Texto(1u), retorno::Nome.largura));
        const std::u16string digitos = Digitos(r.Texto(2u));
        e.temCpf = !digitos.empty();
        // As the line's CPF is compared: zeros on the left up to 11 digits, or the first 11.
        e.cpf = Numero(AjustaTexto(
            std::u16string(11 - std::min<size_t>(digitos.size(), 11), u'0') + digitos, 11));
    }
}

CadastroServidores::Pessoa CadastroServidores::PessoaDe(std::u16string_view cpfArquivo,
                                                        std::u16string_view nomeArquivo) {
    Pessoa p;
    p.nome = ImpressaoDoNome(nomeArquivo);
    p.cpfValido = cpfArquivo.size() == 11 && Digitos(cpfArquivo).size() == 11;
    if (p.cpfValido) p.cpf = Numero(cpfArquivo);
    return p;
}

bool CadastroServidores::CpfDifere(uint32_t indice, const Pessoa& p) const {
    const Entrada& e = entradas_[indice];
    if (!e.temCpf) return false;
    return !p.cpfValido || p.cpf != e.cpf;
}

bool CadastroServidores::NomeDifere(uint32_t indice, const Pessoa& p) const {
    return p.nome != entradas_[indice].nome;
}

bool CadastroServidores::CpfDifere(uint32_t indice, std::u16string_view cpfArquivo) const {
    return CpfDifere(indice, PessoaDe(cpfArquivo, {}));
}

bool CadastroServidores::NomeDifere(uint32_t indice, std::u16string_view nomeArquivo) const {
    return ImpressaoDoNome(nomeArquivo) != entradas_[indice].nome;
}

bool CadastroServidores::OutraPessoa(uint32_t indice, std::u16string_view linha) const {
    return Tem(indice) && entradas_[indice].temCpf &&
           CpfDifere(indice, LerCampo(linha, retorno::Cpf)) &&
           NomeDifere(indice, LerCampo(linha, retorno::Nome));
}

std::map<uint32_t, std::pair<std::u16string, std::u16string>> CadastroServidores::Textos(
    std::vector<uint32_t> indices) const {
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    std::map<uint32_t, std::pair<std::u16string, std::u16string>> textos;
    if (indices.empty()) return textos;
    fb::Comando c(transacao_, Selecao(tabela_), "ler o cadastro dos servidores do mês");
    fb::Cursor r = c.Abrir();
    while (r.Proximo())
        if (const auto i = chaves_.Indice(r.Texto(0u));
            i && std::binary_search(indices.begin(), indices.end(), *i))
            textos.try_emplace(*i, r.Texto(1u), r.Texto(2u));
    return textos;
}

void ConferirCadastro(fb::Conexao& conexao, const std::u16string& tabela, std::u16string_view mes) {
    try {
        fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
        fb::Comando c(t, Selecao(tabela), "ler o cadastro dos servidores do mês");
    } catch (const ErroBanco& e) {
        const ErroBanco comMes = ComMesParaConferir(e, mes);
        throw comMes.Com(std::string(comMes.what()) +
                         ". A importação confere o CPF e o nome de cada linha do arquivo com o "
                         "cadastro do mês (MATRICULA, NOME e CPF de " +
                         ParaMensagem(tabela) + ") antes de lançar; nada foi lançado.");
    }
}

}  // namespace kavlo
