// The payroll's registration of the servants a return file names (SFP001 + month): whose CPF and
// name each key stands for, held against a line's CPF (positions 42-52) and name (2-41) so that an
// instalment is never posted to somebody else. Kept small, because the import and its check keep
// one entry per servant the file names: the CPF's digits as they are compared and a hash of the
// name as people write it. The texts themselves, which only a message quotes, are read again for
// the few servants that need them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/ConjuntoDeChaves.h"

namespace kavlo {

namespace fb {
class Conexao;
class Transacao;
}  // namespace fb

// Upper case without accents and with single blanks, for comparing names as people write them.
std::u16string NomeComparavel(std::u16string_view nome);

class CadastroServidores {
  public:
    // One pass over `tabela` (SFP001 + month), keeping the first row of each key of `chaves`
    // (MATRICULA compared exactly as it stands). Throws the ErroBanco of a table that cannot be
    // read. `transacao` and `chaves` must outlive the object.
    CadastroServidores(fb::Transacao& transacao, std::u16string tabela,
                       const ConjuntoDeChaves& chaves);

    // Whether the payroll has a row for the key.
    bool Tem(uint32_t indice) const { return entradas_[indice].presente; }
    // A line's CPF and name as they are compared, for holding a line's without its text.
    struct Pessoa {
        uint64_t nome = 0;
        uint64_t cpf : 40 = 0;
        uint64_t cpfValido : 1 = 0;  // 11 digits, nothing else
    };
    static Pessoa PessoaDe(std::u16string_view cpfArquivo, std::u16string_view nomeArquivo);

    // Whether the line's CPF is not the payroll's; false when the payroll has none to compare.
    bool CpfDifere(uint32_t indice, std::u16string_view cpfArquivo) const;
    bool NomeDifere(uint32_t indice, std::u16string_view nomeArquivo) const;
    bool CpfDifere(uint32_t indice, const Pessoa& p) const;
    bool NomeDifere(uint32_t indice, const Pessoa& p) const;
    // Both differ, the payroll having a CPF: the line is somebody else's. A name spelled another
    // way, or a CPF mistyped, alone is not.
    bool OutraPessoa(uint32_t indice, std::u16string_view linha) const;

    // The payroll's name and CPF of each of `indices`, as stored, read again in the same snapshot.
    std::map<uint32_t, std::pair<std::u16string, std::u16string>> Textos(
        std::vector<uint32_t> indices) const;

    const std::u16string& Tabela() const { return tabela_; }

  private:
    struct Entrada {
        uint64_t nome = 0;
        uint64_t cpf : 40 = 0;  // 11 digits
        uint64_t presente : 1 = 0;
        uint64_t temCpf : 1 = 0;
    };
    fb::Transacao& transacao_;
    std::u16string tabela_;
    const ConjuntoDeChaves& chaves_;
    std::vector<Entrada> entradas_;  // by key
};

// Whether the import can read `tabela` (SFP001 + month), without reading it; fails before anything
// is written, saying which month to check (`mes`: "3, MAR").
void ConferirCadastro(fb::Conexao& conexao, const std::u16string& tabela, std::u16string_view mes);

}  // namespace kavlo
