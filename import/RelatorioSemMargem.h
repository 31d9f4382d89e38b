// "ServidoresSemMargem.txt": the instalments of a run that the margin did not cover, for people
// to read. One entry a line, pieces joined with nothing between them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "import/Lancamento.h"
#include "util/Layout.h"

namespace kavlo {

enum class FontePeca { Fixo, Matricula, Nome, Margem, Parcela, Descontado };

// What fills a piece of an entry. The pieces follow one another, each fitted to its width (0: as
// long as its text), so they have widths and no positions.
struct OrigemPeca {
    FontePeca fonte;
    std::u16string_view fixo = {};
};
using PecaRelatorio = Campo<OrigemPeca>;

namespace relatorio {

// The pieces both entries begin with: whose line, and the margin against the instalment.
inline constexpr std::array<PecaRelatorio, 8> Inicio = {{
    {"Matricula", {0, 0}, {FontePeca::Matricula}},
    {"Separador", {0, 3}, {FontePeca::Fixo, u" - "}},
    {"Rotulo", {0, 10}, {FontePeca::Fixo, u"SERVIDOR: "}},
    {"Nome", {0, 40}, {FontePeca::Nome}},
    {"RotuloMargem", {0, 21}, {FontePeca::Fixo, u" POSSUE DE MARGEM: R$"}},
    {"Margem", {0, 15}, {FontePeca::Margem}},
    {"RotuloParcela", {0, 17}, {FontePeca::Fixo, u" E PARCELA DE: R$"}},
    {"Parcela", {0, 15}, {FontePeca::Parcela}},
}};

template <size_t N, size_t M>
constexpr std::array<PecaRelatorio, N + M> Seguidas(const std::array<PecaRelatorio, N>& a,
                                                    const std::array<PecaRelatorio, M>& b) {
    std::array<PecaRelatorio, N + M> r{};
    for (size_t i = 0; i < N; ++i) r[i] = a[i];
    for (size_t i = 0; i < M; ++i) r[N + i] = b[i];
    return r;
}

inline constexpr auto NaoImportado =
    Seguidas(Inicio, std::array<PecaRelatorio, 1>{
                         {{"Fecho", {0, 26}, {FontePeca::Fixo, u" EMPRÉSTIMO NÃO IMPORTADO!"}}}});

inline constexpr auto Proporcional = Seguidas(
    Inicio, std::array<PecaRelatorio, 2>{
                {{"Fecho",
                  {0, 50},
                  {FontePeca::Fixo, u" EMPRÉSTIMO IMPORTADO COM VALOR PROPORCIONAL DE R$"}},
                 {"Descontado", {0, 0}, {FontePeca::Descontado}}}});

// Every fixed text fills its width exactly, so the widths document the texts.
template <class Pecas>
constexpr bool TextosNasLarguras(const Pecas& pecas) {
    for (const auto& p : pecas)
        if (p.valor.fonte == FontePeca::Fixo &&
            static_cast<int>(p.valor.fixo.size()) != p.posicao.largura)
            return false;
    return true;
}
static_assert(TextosNasLarguras(NaoImportado));
static_assert(TextosNasLarguras(Proporcional));

}  // namespace relatorio

inline constexpr std::u16string_view NomeRelatorio = u"ServidoresSemMargem.txt";

// Entry for an instalment not posted: margin m unchanged, instalment p (both in cents).
std::u16string EntradaNaoImportado(std::u16string_view matricula, std::u16string_view linha,
                                   int64_t margem, int64_t parcela);
// Entry for an instalment posted in part: margin m before the posting, instalment p, posted value.
std::u16string EntradaProporcional(std::u16string_view matricula, std::u16string_view linha,
                                   int64_t margem, int64_t parcela, int64_t descontado);

// The entry an outcome gives, if any: not posted, or posted in part, with the margin before it.
std::optional<std::u16string> EntradaDoRelatorio(std::u16string_view matricula,
                                                 std::u16string_view linha, int64_t margem,
                                                 int64_t parcela, const Desfecho& desfecho);

// A file's name with a mark before its extension: ("resultado.txt", "SIMULACAO") ->
// "resultado.SIMULACAO.txt". A simulation writes under such names, so it never replaces a real
// result or report.
std::u16string NomeComMarca(std::u16string_view caminho, std::u16string_view marca);
inline std::u16string NomeDeSimulacao(std::u16string_view caminho) {
    return NomeComMarca(caminho, u"SIMULACAO");
}

// Where the report goes: the database's folder (everything up to its last "\", "/" or ":"). When
// the location still names a server ("host:path", the host longer than a drive letter), that
// folder is on another machine, so the report goes beside the result file instead.
std::u16string CaminhoRelatorio(std::u16string_view caminhoBanco,
                                std::u16string_view caminhoResultado);

}  // namespace kavlo
