// The check's one pass over a return file, the one the import posts from: the hashes and the keys,
// what the checks of the file as a whole need, the findings the lines alone show, and of each
// instalment line what its checks against the payroll need, held compactly (DetalheLido). The
// checks against the payroll (Verificacao.cpp) work from what it gathers.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import/ArquivoRetorno.h"
#include "import/CadastroServidores.h"
#include "import/Verificacao.h"

namespace kavlo {

bool SoDigitos(std::u16string_view texto);

// An amount as the party writes it: digits, one point and digits ("000000000150.00"), blanks
// around it aside. Anything else (an exponent, a comma, a sign, no point) the import reads by the
// design's looser rule, and may read as another amount than the party meant.
bool ValorNoFormato(std::u16string_view campo);

// An instalment as a posting stores it: the servant, the code, the amount in cents and the two
// counters.
uint64_t ImpressaoDoLancamento(std::u16string_view chave, std::u16string_view codigo,
                               int64_t centavos, int64_t quant, int64_t perc);

// The last position of the fields the import reads of an instalment line.
inline constexpr size_t kFimDosCampos = static_cast<size_t>(retorno::ContadorQuant.Fim());

// What the checks against the payroll need of one instalment line: about 64 bytes a line instead
// of the line.
struct DetalheLido {
    static constexpr uint32_t kSemErro = UINT32_MAX;
    std::array<char16_t, 8> chave{};  // "NNNNNN-D", or shorter on a short line
    uint8_t tamanhoChave = 0;
    bool temLancamento = false;
    uint32_t comprimento = 0;
    uint64_t lancamento = 0;  // ImpressaoDoLancamento, when temLancamento
    CadastroServidores::Pessoa pessoa;
    int64_t parcela = 0;              // cents, unless erroParcela
    uint32_t erroParcela = kSemErro;  // the message of ParcelaDaLinha, in the pass's list
    uint32_t erroDados = kSemErro;    // the message of DadosDaLinha
    std::u16string Chave() const { return std::u16string(chave.data(), tamanhoChave); }
};

struct PassagemDoRetorno {
    std::optional<ArquivoDeRetorno> arquivo;
    size_t linhaUtf8 = 0;                   // the first line of a UTF-8 file without a mark, or 0
    std::map<size_t, size_t> comprimentos;  // of the instalment lines: all alike in one file
    // Each line that repeats an earlier instalment, with the first line of it, in file order.
    std::vector<std::pair<uint32_t, uint32_t>> repeticoes;
    std::optional<int64_t> soma = 0;  // of the instalments, while every one converts
    std::vector<DetalheLido> lidos;   // of every instalment line, in file order
    std::vector<std::string> erros;   // of the lines that do not convert
    std::vector<Achado> daLinha;      // what the lines alone show, in file order
    // Lines that cannot be instalment lines of the layout: too short for the fields the import
    // reads, or with an amount that is no number. A file made mostly of them is another file.
    size_t foraDoLeiaute = 0;
    std::vector<size_t> exemplosForaDoLeiaute;
};

// How many lines a finding about the whole file names as examples.
inline constexpr size_t kExemplos = 5;

PassagemDoRetorno PercorrerRetorno(const Caminho& caminho);

inline void Achar(Verificacao& v, size_t linha, Gravidade g, TipoAchado tipo, std::string texto,
                  std::u16string chave = {}) {
    v.achados.push_back({linha, g, tipo, std::move(texto), std::move(chave)});
}

// What the file shows of itself, found in the order the check reports them. A UTF-8 file without
// a byte-order mark:
void AcharCodificacao(Verificacao& v, size_t linha);
// A file without instalments; true when it has no trailer either, and nothing more to check.
bool AcharVazio(Verificacao& v, size_t linhas);
// A header of another month, the usual length of the instalment lines, a trailer that is missing,
// cut or does not add up.
void AcharNoArquivo(Verificacao& v, const PassagemDoRetorno& p, int32_t mes, int32_t ano);

}  // namespace kavlo
