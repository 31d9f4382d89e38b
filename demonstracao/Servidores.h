// The demo's servants: what is drawn for each (register, pay, deductions, margin) and their events
// of the month, every value from the seed and the servant's index, so that a small demo is the
// beginning of a large one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "demonstracao/Sorteio.h"
#include "util/Datas.h"

namespace kavlo::demo {

// Servants whose index forces a case, so that even a demo of 50 holds every case the library has
// to survive; larger demos add more of each by chance.
namespace garantido {
inline constexpr int kDemitidoNoMes = 2;
inline constexpr int kNome40 = 3;
inline constexpr int kNomeLongo = 5;
inline constexpr int kInstrucaoA = 6;
inline constexpr int kSemNascimento = 8;
inline constexpr int kInstrucaoB = 9;
inline constexpr int kInativo = 11;
inline constexpr int kSlotsCheios = 13;
inline constexpr int kTransferido = 17;
inline constexpr int kNovo = 19;
inline constexpr int kMargemNegativa = 23;
inline constexpr int kSemAdmissao = 27;
inline constexpr int kMargemNula = 29;
inline constexpr int kMargemZero = 31;
inline constexpr int kSegundaParcela = 33;
inline constexpr int kDemitidoAntes = 37;
inline constexpr int kAfastadoSemFim = 41;
inline constexpr int kVariosAfastamentos = 43;
inline constexpr int kVinculoSemConfig = 47;
}  // namespace garantido

struct Competencia {
    int mes, ano, mesAnt, anoAnt;
    TDateTime inicio, fim;  // first and last day of the payroll month
};

struct Desconto {
    std::u16string codigo;
    int64_t centavos = 0;
    int quant = 0, perc = 0;  // 0: not an instalment (QUANT, PERC and TEMPO stay NULL)
};

enum class Margem { Positiva, Zero, Negativa, Nula };

struct Servidor {
    int indice = 0;
    int numero = 0;  // the six digits of the registration (NumeroDaMatricula)
    std::u16string matricula;
    std::u16string nome, cpf, identidade, titulo, zona, secao, estCivil, sexo, pai, mae, email,
        fone, fone2, celular, endereco, bairro, cep, cidade, uf, agencia, dvAgencia, conta, dvConta,
        instrucao;
    std::optional<TDateTime> nascimento, admissao;
    int dependentes = 0, banco = 0, funcao = 0, vinculo = 0;
    int unidade = 0, unidadeAnterior = 0;
    bool novo = false, ativo = true, linhaInativaExtra = false;
    // Pay, in cents.
    int64_t salario = 0, extras = 0, adNoturno = 0, faltas = 0, sindical = 0, inss = 0, irrf = 0;
    std::optional<int64_t> extra1;
    Margem tipoMargem = Margem::Positiva;
    int64_t margem = 0;  // MCVALOR in cents when not NULL
    int64_t baseIncide = 0;
    std::array<std::optional<Desconto>, 18> slots;  // index 1..17
};

struct Evento {
    std::u16string matricula;
    std::optional<int> codfol;
    char16_t tipo;
    int mesRef, anoRef;
    TDateTime inicio;
    std::optional<TDateTime> fim, aviso;
};

Servidor SortearServidor(uint32_t semente, int i, const Competencia& c);
// Appends the servant's events in SFP017: function designations, dismissals and leaves.
void SortearEventos(uint32_t semente, const Servidor& v, const Competencia& c,
                    std::vector<Evento>& eventos);

// A name of one or two given names and up to three surnames, at most 60 characters.
std::u16string NomeComum(Sorteio& s, bool feminino);
// The six digits of servant `indice`'s registration: distinct for each index of a seed up to
// 1,000,000, which takes every number from 0 to 999999.
int NumeroDaMatricula(uint32_t semente, int indice);
// The servant whose registration has `numero` (its index); -1 for a number of more than six digits.
int IndiceDaMatricula(uint32_t semente, int numero);
// The registration as the payroll keeps it: the six digits, "-" and the check digit.
std::u16string MatriculaDe(int numero);
// A valid CPF, distinct for each index of a seed (up to 1,000,000,000).
std::u16string Cpf(uint32_t semente, int indice);

}  // namespace kavlo::demo
