#include "dao/BancoFolha.h"

#include <algorithm>

#include "util/Codificacao.h"

namespace kavlo {
namespace {

bool ComecaSemCaixa(std::u16string_view texto, std::u16string_view prefixo) {
    if (texto.size() < prefixo.size()) return false;
    for (size_t i = 0; i < prefixo.size(); ++i) {
        char16_t c = texto[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != prefixo[i]) return false;
    }
    return true;
}

// The file part of "inet://host[:porta]/path" once the protocol is taken off: what follows the
// host's "/" ("inet:///path" has no host and keeps its "/"; without any "/" the whole is a
// local alias).
std::u16string_view DepoisDoHost(std::u16string_view resto) {
    if (resto.empty() || resto[0] == u'/') return resto;
    size_t inicio = 0;
    if (resto[0] == u'[')
        if (const auto fecha = resto.find(u']'); fecha != std::u16string_view::npos) inicio = fecha;
    const auto barra = resto.find(u'/', inicio);
    return barra == std::u16string_view::npos ? resto : resto.substr(barra + 1);
}

}  // namespace

std::u16string SemLocalhost(std::u16string_view caminhoBanco) {
    std::u16string r(caminhoBanco);
    if (auto p = r.find(u"localhost:"); p != std::u16string::npos) r.erase(p, 10);
    return r;
}

std::optional<std::u16string> ArquivoDoBanco(std::u16string_view caminhoBanco) {
    const auto doisPontos = caminhoBanco.find(u':');
    if (doisPontos != std::u16string_view::npos && doisPontos > 1) return std::nullopt;
    return std::u16string(caminhoBanco);
}

std::vector<std::u16string> ArquivosPossiveisDoBanco(std::u16string_view local) {
    std::vector<std::u16string> r = {std::u16string(local)};
    auto incluir = [&r](std::u16string_view arquivo) {
        if (!arquivo.empty() && std::find(r.begin(), r.end(), arquivo) == r.end())
            r.emplace_back(arquivo);
    };
    for (std::u16string_view protocolo : {u"inet://", u"inet4://", u"inet6://", u"wnet://"})
        if (ComecaSemCaixa(local, protocolo)) {
            incluir(DepoisDoHost(local.substr(protocolo.size())));
            return r;
        }
    if (ComecaSemCaixa(local, u"xnet://")) {
        incluir(local.substr(7));
        return r;
    }
    // "\\host\path", and "//host/path" as Windows also reads it.
    if (local.size() > 2 && (local.starts_with(u"\\\\") || local.starts_with(u"//"))) {
        if (const auto barra = local.find_first_of(u"\\/", 2); barra != std::u16string_view::npos)
            incluir(local.substr(barra + 1));
        return r;
    }
    // "host:path", "host/porta:path", "[::1]:path": the first ":" after the host, which is longer
    // than a drive letter.
    size_t inicio = 0;
    if (local.starts_with(u"["))
        if (const auto fecha = local.find(u']'); fecha != std::u16string_view::npos) inicio = fecha;
    if (const auto doisPontos = local.find(u':', inicio);
        doisPontos != std::u16string_view::npos && doisPontos > 1)
        incluir(local.substr(doisPontos + 1));
    return r;
}

std::optional<std::u16string> ArquivoSegundoOBanco(fb::Conexao& conexao) {
    try {
        fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
        fb::Comando c(t, std::string_view("select MON$DATABASE_NAME from MON$DATABASE"),
                      "identificar o arquivo do banco de dados");
        fb::Cursor r = c.Abrir();
        if (r.Proximo()) return r.Valor<std::u16string>(0u);
    } catch (const ErroBanco&) {
        // The spellings of the location are compared all the same.
    }
    return std::nullopt;
}

std::vector<PapelDeArquivo> PapeisDoBanco(std::u16string_view caminhoBanco, fb::Conexao& conexao) {
    std::vector<PapelDeArquivo> r;
    std::vector<std::u16string> arquivos = ArquivosPossiveisDoBanco(caminhoBanco);
    if (auto proprio = ArquivoSegundoOBanco(conexao)) arquivos.push_back(*proprio);
    for (const auto& a : arquivos) r.push_back({"o banco de dados da folha", CaminhoDe(a)});
    return r;
}

}  // namespace kavlo
