#include "dao/LiteraisDoFiltro.h"

#include <map>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

using fb::Simbolo;
using fb::TipoSimbolo;

constexpr std::u16string_view kComparacoes[] = {u"=",  u"<>", u"!=", u"^=", u"~=",
                                                u"<",  u">",  u"<=", u">=", u"!<",
                                                u"!>", u"^<", u"^>", u"~<", u"~>"};

// Words that end a condition: what comes after them is not part of the comparison's right side.
constexpr std::u16string_view kFimDaCondicao[] = {
    u"AND",   u"OR",    u"THEN",   u"ELSE",  u"END",   u"WHEN",   u"WHERE",
    u"ORDER", u"GROUP", u"HAVING", u"UNION", u"PLAN",  u"ROWS",   u"JOIN",
    u"INNER", u"LEFT",  u"RIGHT",  u"FULL",  u"CROSS", u"OFFSET", u"FETCH"};

template <size_t N>
bool UmDe(const Simbolo& s, TipoSimbolo tipo, const std::u16string_view (&textos)[N]) {
    for (std::u16string_view t : textos)
        if (s.Eh(tipo, t)) return true;
    return false;
}

}  // namespace

std::vector<size_t> LiteraisComparados(const std::vector<Simbolo>& s) {
    // The parenthesis each piece is directly inside, by the place of its "(".
    constexpr size_t kFora = SIZE_MAX;
    std::vector<size_t> dentroDe(s.size(), kFora);
    std::vector<size_t> abertos;
    for (size_t k = 0; k < s.size(); ++k) {
        if (s[k].Eh(TipoSimbolo::Sinal, u")") && !abertos.empty()) abertos.pop_back();
        dentroDe[k] = abertos.empty() ? kFora : abertos.back();
        if (s[k].Eh(TipoSimbolo::Sinal, u"(")) abertos.push_back(k);
    }
    auto antesDe = [&](size_t k) -> const Simbolo* { return k > 0 ? &s[k - 1] : nullptr; };
    auto sinal = [](const Simbolo* p, std::u16string_view t) {
        return p && p->Eh(TipoSimbolo::Sinal, t);
    };

    std::vector<size_t> r;
    for (size_t k = 0; k < s.size(); ++k) {
        if (s[k].tipo != TipoSimbolo::Literal || !fb::SoAscii(s[k].conteudo)) continue;
        const Simbolo* antes = antesDe(k);
        const Simbolo* depois = k + 1 < s.size() ? &s[k + 1] : nullptr;
        // An introducer, or a name written against the quote (x'4142' is bytes).
        if (antes && antes->tipo == TipoSimbolo::Nome &&
            (antes->Introdutor() || antes->fim == s[k].inicio))
            continue;

        const bool comparado = antes && UmDe(*antes, TipoSimbolo::Sinal, kComparacoes) &&
                               (!depois || sinal(depois, u")") || sinal(depois, u",") ||
                                UmDe(*depois, TipoSimbolo::Nome, kFimDaCondicao));
        // An item of "in (...)", but not of POSITION(a IN (b)), where IN is no list.
        bool daLista = false;
        if ((sinal(antes, u"(") || sinal(antes, u",")) &&
            (sinal(depois, u")") || sinal(depois, u","))) {
            const size_t parentese = dentroDe[k];
            const Simbolo* in = parentese == kFora ? nullptr : antesDe(parentese);
            const size_t funcao = parentese == kFora ? kFora : dentroDe[parentese];
            const Simbolo* nomeDaFuncao = funcao == kFora ? nullptr : antesDe(funcao);
            daLista = in && in->Eh(TipoSimbolo::Nome, u"IN") &&
                      !(nomeDaFuncao && nomeDaFuncao->Eh(TipoSimbolo::Nome, u"POSITION"));
        }
        if (comparado || daLista) r.push_back(k);
    }
    return r;
}

std::optional<std::u16string> ConjuntoComOrdemPropria(fb::Transacao& transacao, unsigned charset) {
    constexpr unsigned kOctetos = 1;
    if (charset == kOctetos) return std::nullopt;
    fb::Comando c(transacao,
                  "select rdb$character_set_name, rdb$default_collate_name from "
                  "rdb$character_sets where rdb$character_set_id = ?",
                  "conferir a ordenação do conjunto de caracteres");
    fb::Cursor r = c.Abrir({static_cast<int64_t>(charset)});
    if (!r.Proximo()) return std::nullopt;
    const auto [nome, ordem] = r.Valores<std::u16string, std::optional<std::u16string>>();
    if (ordem && SemBrancosFinais(*ordem) != SemBrancosFinais(nome)) return std::nullopt;
    return std::u16string(SemBrancosFinais(nome));
}

std::u16string LiteraisNoConjuntoComparado(fb::Transacao& transacao, std::u16string_view filtro) {
    const fb::Simbolos simbolos = fb::SepararSimbolos(filtro);
    const std::vector<Simbolo>& s = simbolos.lista;
    const std::vector<size_t> literais = LiteraisComparados(s);
    if (!simbolos.completo || literais.empty()) return std::u16string(filtro);

    // The filter with a parameter in each of those places tells, per parameter, what the server
    // compares it with.
    auto trocar = [&](auto&& porLiteral) {
        std::u16string r;
        size_t copiado = 0;
        for (size_t i = 0; i < literais.size(); ++i) {
            const Simbolo& l = s[literais[i]];
            r.append(filtro.substr(copiado, l.inicio - copiado));
            r += porLiteral(i, l);
            copiado = l.fim;
        }
        r.append(filtro.substr(copiado));
        return r;
    };
    std::optional<fb::Comando> sonda;
    try {
        sonda.emplace(transacao, trocar([](size_t, const Simbolo&) { return u"?"; }),
                      "conferir os literais do filtro de servidores");
    } catch (const ErroBanco&) {
        return std::u16string(filtro);
    }
    if (sonda->Parametros() != literais.size()) return std::u16string(filtro);

    std::map<unsigned, std::optional<std::u16string>> conjuntos;
    return trocar([&](size_t i, const Simbolo& l) {
        const std::u16string original(filtro.substr(l.inicio, l.fim - l.inicio));
        const std::optional<fb::Comando::Colacao> lugar =
            sonda->ColacaoDoParametro(static_cast<unsigned>(i));
        constexpr unsigned kNenhum = 0;
        if (!lugar || lugar->charset == kNenhum) return original;
        auto [conjunto, novo] = conjuntos.try_emplace(lugar->charset);
        if (novo) conjunto->second = ConjuntoComOrdemPropria(transacao, lugar->charset);
        if (!conjunto->second) return original;
        std::u16string r = u"_" + *conjunto->second + u" '";
        for (char16_t c : l.conteudo)
            r += c == u'\'' ? std::u16string(u"''") : std::u16string(1, c);
        return r + u"'";
    });
}

}  // namespace kavlo
