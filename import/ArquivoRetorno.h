// The return file the loan-management party sends back: where each field of a line lies and how
// the import reads the ones it interprets. Roles are decided by place: the first line is the
// header, the last the trailer, every line between an instalment.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "util/Caminhos.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Layout.h"
#include "util/LeitorDeLinhas.h"

namespace kavlo {

namespace retorno {
// The header, as the party writes it; the import copies its type, text and date. Its reference
// month lies at 82-87 as mmyyyy, the date written over its last digit.
inline constexpr Posicao CabTipo{1, 1};
inline constexpr Posicao CabTexto{2, 50};
inline constexpr Posicao CabLayout{52, 30};
inline constexpr Posicao CabCompetencia{82, 6};
inline constexpr Posicao CabData{87, 8};
inline constexpr Campo<> Cabecalho[] = {
    {"TipoRegistro", CabTipo},       {"Texto", CabTexto}, {"NomeLayout", CabLayout},
    {"Competencia", CabCompetencia}, {"Data", CabData},
};

// The trailer; the import copies the count and the total.
inline constexpr Posicao RodTipo{1, 1};
inline constexpr Posicao RodQuantidade{2, 10};
inline constexpr Posicao RodReservado{12, 3};
inline constexpr Posicao RodTotal{15, 12};
inline constexpr Campo<> Rodape[] = {
    {"TipoRegistro", RodTipo},
    {"Quantidade", RodQuantidade},
    {"Reservado", RodReservado},
    {"Total", RodTotal},
};
static_assert(Contiguo(Rodape, 26));

// An instalment line, 200 positions. The import reads the key, the code, the amount and the
// counters, and copies most of the rest into the result file without interpreting it; the names
// of those fields say what the party puts there.
inline constexpr Posicao Tipo{1, 1};
inline constexpr Posicao Nome{2, 40};
inline constexpr Posicao Cpf{42, 11};
inline constexpr Posicao Registro{53, 15};  // registration number field; the key is its tail
inline constexpr Posicao Contrato{68, 8};
inline constexpr Posicao Proposta{76, 6};
inline constexpr Posicao Reservado82{82, 6};
inline constexpr Posicao CampoCodigo{88, 8};  // the deduction code and the party's bank number
inline constexpr Posicao Consignataria{96, 44};
inline constexpr Posicao Parcela{140, 15};
inline constexpr Posicao ValorTotal{155, 15};
inline constexpr Posicao ContadorPerc{170, 3};
inline constexpr Posicao ContadorQuant{173, 3};
inline constexpr Posicao Reservado176{176, 14};
inline constexpr Posicao DataContrato{190, 8};
inline constexpr Posicao Reservado198{198, 3};
// What the import makes of a field of an instalment line; the others it copies, or passes over.
enum class Leitura { Copiado, Chave, Codigo, Valor, Perc, Quant };
inline constexpr Campo<Leitura> Detalhe[] = {
    {"TipoRegistro", Tipo},
    {"NomeServidor", Nome},
    {"CPF", Cpf},
    {"Matricula", Registro, Leitura::Chave},
    {"Contrato", Contrato},
    {"Proposta", Proposta},
    {"Reservado1", Reservado82},
    {"Codigo", CampoCodigo, Leitura::Codigo},
    {"Consignataria", Consignataria},
    {"ValorParcela", Parcela, Leitura::Valor},
    {"ValorTotal", ValorTotal},
    {"Parcela", ContadorPerc, Leitura::Perc},
    {"Prazo", ContadorQuant, Leitura::Quant},
    {"Reservado2", Reservado176},
    {"DataContrato", DataContrato},
    {"Reservado3", Reservado198},
};
static_assert(Contiguo(Detalhe, 200));

// Each reading belongs to one field, so the decoder and the import cannot disagree on where it is.
constexpr bool LeiturasUnicas() {
    for (const auto& a : Detalhe) {
        int vezes = 0;
        for (const auto& b : Detalhe) vezes += b.valor == a.valor;
        if (a.valor != Leitura::Copiado && vezes != 1) return false;
    }
    return true;
}
static_assert(LeiturasUnicas());

// Fields the import reads inside the ones above.
inline constexpr Posicao CabMesAno{82, 5};  // the header's month, mmyyy: the date covers the rest
static_assert(CabMesAno.inicio == CabCompetencia.inicio && CabMesAno.Fim() + 1 == CabData.inicio);
inline constexpr Posicao MatriculaNumero{61, 6};  // the six characters before the check digit
inline constexpr Posicao MatriculaDigito{67, 1};
inline constexpr Posicao CodigoDesconto{88, 2};
inline constexpr Posicao Contadores{170, 6};
inline constexpr Posicao FimDataContrato{192, 6};  // its last six characters
}  // namespace retorno

// "NNNNNN-D" from positions 61-66 and 67, compared with MATRICULA exactly as it stands.
std::u16string ChaveServidor(std::u16string_view linha);

// The instalment amount: the first "." becomes "," and the text is read with the Brazilian rule.
// Throws ErroConversao "'<text>' is not a valid floating point value".
double LerParcela(std::u16string_view linha);
// The same amount in cents, rounded half away from zero on the digits as written.
int64_t LerParcelaCentavos(std::u16string_view linha);

// A counter at 170-172 or 173-175, blanks trimmed. Throws "'<text>' is not a valid integer value".
int32_t LerContador(std::u16string_view linha, Posicao p);

// An amount as the party writes it, filling field `p`: digits, "." and two decimals.
std::u16string ValorNoCampo(int64_t centavos, Posicao p);

// The trailer `rodape` announcing `quantidade` instalments that sum `centavos`: the count with
// zeros to its width, the total as digits, "." and two decimals; the rest of the line as it was.
std::u16string RodapeCom(std::u16string_view rodape, int64_t quantidade, int64_t centavos);

// The deduction code at 88-89, blanks and control characters trimmed.
std::u16string CodigoDesconto(std::u16string_view linha);

// The instalment of a detail line in cents, as the import takes it: refused (ErroConversao) when
// it does not convert, is negative (it would credit the servant) or lies beyond what the result
// file's amount field holds (999999999999.99). Messages name the positions and quote the field as
// it stands in the file.
int64_t ParcelaDaLinha(std::u16string_view linha);

// What a posting stores besides its amount. A blank code (the slot would look free and be
// overwritten by the next posting) or a counter that does not convert is refused.
struct DadosDoLancamento {
    std::u16string codigo;
    int32_t quant;
    int32_t perc;
};
DadosDoLancamento DadosDaLinha(std::u16string_view linha);

// The return file, read in two passes so that it is never held whole. The first, before anything
// is posted, takes the SHA-256 of its bytes and of its lines, counts its lines (the roles are by
// place, and the last line is known only at the end) and gathers the servant keys of the
// instalment lines, each with the number of its last line, which tells the second pass when a
// servant's postings are complete. The second pass gives the lines again, one at a time, from the
// same open file, and fails when its bytes are no longer those of the first.
class ArquivoDeRetorno {
  public:
    // Called in the first pass with each instalment line and its 1-based number.
    using AoLerDetalhe = std::function<void(size_t numero, std::u16string_view linha)>;

    explicit ArquivoDeRetorno(const Caminho& caminho, const AoLerDetalhe& aoLerDetalhe = {},
                              std::function<void(std::string_view)> aoLerBytes = {});
    ~ArquivoDeRetorno();
    ArquivoDeRetorno(ArquivoDeRetorno&&) noexcept;
    ArquivoDeRetorno& operator=(ArquivoDeRetorno&&) noexcept;

    const std::string& Hash() const { return hash_; }
    // The SHA-256 of the lines as they are read: the byte-order mark and the encoding decoded and
    // every line end alike, so a file re-encoded (Windows-1252 or UTF-8 with its mark) or sent with
    // other line ends (CR LF, LF, CR) is the same file. Each line goes in as UTF-16 LE followed by
    // an LF, which no line holds.
    const std::string& HashConteudo() const { return hashConteudo_; }
    size_t Linhas() const { return linhas_; }
    // Whether the file was cut: every instalment line has the same record type (position 1, not
    // blank) and the last line has it too, so the last line is an instalment and no trailer
    // follows. Read as the design reads it, that instalment would be taken for the trailer and
    // lost.
    bool Cortado() const;
    // The keys of the instalment lines, each valued with its last line; the trailer's key too,
    // valued 0 unless an instalment line has it, so its row can be looked up as well.
    const ConjuntoDeChaves& Chaves() const { return chaves_; }
    // The first and the last line (empty when the file has none).
    const std::u16string& Cabecalho() const { return cabecalho_; }
    const std::u16string& Rodape() const { return rodape_; }

    // The second pass: every line in file order with its 1-based number. When the bytes turn out
    // not to be those of the first pass (checked at the end, and when `visitar` fails), it throws
    // the error of Mudou instead.
    void Percorrer(const std::function<void(size_t numero, std::u16string_view linha)>& visitar);
    // During Percorrer: the line being visited as its bytes stand in the file, line end included.
    std::string BytesDaLinha() const;
    // Its line end alone (empty for a last line without one).
    std::string_view FimDaLinha() const { return leitor_->FimDaLinha(); }
    // The file's byte-order mark (empty without one), and text in the file's encoding.
    std::string_view Marca() const { return leitor_->Marca(); }
    std::string Codificar(std::u16string_view texto) const { return leitor_->Codificar(texto); }
    // The failure of a file that changed between the passes.
    [[noreturn]] void Mudou() const;

  private:
    Caminho caminho_;
    std::unique_ptr<LeitorDeLinhas> leitor_;
    std::string hash_, hashConteudo_;
    size_t linhas_ = 0;
    char16_t tipoDosDetalhes_ = 0;  // the record type every instalment line has; 0 when they differ
    ConjuntoDeChaves chaves_;
    std::u16string cabecalho_, rodape_;
};

}  // namespace kavlo
