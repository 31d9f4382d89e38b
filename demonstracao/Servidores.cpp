#include "demonstracao/Servidores.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "demonstracao/Referencias.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo::demo {
namespace {

std::u16string Digitos(Sorteio& s, int n) {
    std::u16string r;
    for (int i = 0; i < n; ++i) r += static_cast<char16_t>(u'0' + s.Entre(0, 9));
    return r;
}

// Check digit modulo 11 with weights 2, 3, ... from the right; 10 and 11 become 0.
int DigitoModulo11(std::u16string_view numero, int pesoMaximo) {
    int soma = 0, peso = 2;
    for (auto it = numero.rbegin(); it != numero.rend(); ++it) {
        soma += (*it - u'0') * peso;
        peso = peso == pesoMaximo ? 2 : peso + 1;
    }
    const int d = 11 - soma % 11;
    return d >= 10 ? 0 : d;
}

// A phone number: `prefixo`, `digitos` digits, "-" and four more.
std::u16string Telefone(Sorteio& s, std::u16string_view prefixo, int digitos) {
    const std::u16string fim = Digitos(s, 4);
    return std::u16string(prefixo) + Digitos(s, digitos) + u"-" + fim;
}

std::u16string SemAcentos(std::u16string_view texto) {
    static constexpr std::u16string_view de = u"ÁÀÂÃÉÊÍÓÔÕÚÜÇ";
    static constexpr std::u16string_view para = u"aaaaeeiooouuc";
    std::u16string r;
    for (char16_t c : texto) {
        if (const auto p = de.find(c); p != de.npos)
            r += para[p];
        else if (c >= u'A' && c <= u'Z')
            r += static_cast<char16_t>(c - u'A' + u'a');
        else if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
            r += c;
    }
    return r;
}

// Adds surnames, then closes with a surname of exactly the length left, so that the name has
// exactly `alvo` characters. Needs `alvo` at least 4 beyond the start.
std::u16string NomeComTamanho(Sorteio& s, std::u16string nome, size_t alvo) {
    for (;;) {
        const size_t falta = alvo - nome.size();
        if (falta >= 3 && falta <= 11) {
            std::vector<std::u16string_view> cabem;
            for (auto w : kSobrenomes)
                if (w.size() == falta - 1) cabem.push_back(w);
            return nome + u" " + std::u16string(s.Um(std::span<const std::u16string_view>(cabem)));
        }
        const auto w = s.Um(Escolhas(kSobrenomes));
        if (falta >= w.size() + 1 + 3 && !nome.ends_with(w)) nome += u" " + std::u16string(w);
    }
}

std::u16string Prenome(Sorteio& s, bool feminino) {
    return std::u16string(feminino ? s.Um(Escolhas(kPrenomesFemininos))
                                   : s.Um(Escolhas(kPrenomesMasculinos)));
}

// Employee INSS of 2024, progressive by bands, capped at the ceiling.
int64_t Inss(int64_t bruto) {
    constexpr int64_t faixas[][2] = {{141200, 75}, {266668, 90}, {400003, 120}, {778602, 140}};
    int64_t devido = 0, anterior = 0;
    for (const auto& [teto, aliquotaMil] : faixas) {
        const int64_t parte = std::min(bruto, teto) - anterior;
        if (parte <= 0) break;
        devido += parte * aliquotaMil / 1000;
        anterior = teto;
    }
    return devido;
}

// Income tax withheld, table of 2024.
int64_t Irrf(int64_t base) {
    constexpr int64_t faixas[][3] = {{225920, 0, 0},
                                     {282665, 75, 16944},
                                     {375105, 150, 38144},
                                     {466468, 225, 66277},
                                     {INT64_MAX, 275, 89600}};
    for (const auto& [teto, aliquotaMil, deduzir] : faixas)
        if (base <= teto) return std::max<int64_t>(0, base * aliquotaMil / 1000 - deduzir);
    return 0;
}

// The first 100,000 servants take one number in each block of nine from 10, at a place the first
// draw of their stream picks: gaps between registrations, as deleted servants leave. Later servants
// take the numbers left free, so that 1,000,000 servants fill the six digits exactly: first 900010
// to 989999, then the gaps of the blocks in order, then 0 to 9, and last 990000 to 999999, the
// range the return file draws its unknown registrations from.
constexpr int kBlocos = 100000;
constexpr int kInicioBlocos = 10, kFimBlocos = kInicioBlocos + 9 * kBlocos;  // 900010
constexpr int kFimAcima = 990000;
constexpr int kLacunas = 8 * kBlocos;
constexpr int kAcima = kFimAcima - kFimBlocos;  // 89,990 numbers above the blocks

int PosicaoNoBloco(uint32_t semente, int bloco) {
    return Sorteio(semente, kFluxoServidor, static_cast<uint64_t>(bloco)).Entre(0, 8);
}

}  // namespace

std::u16string MatriculaDe(int numero) {
    const std::u16string seis = FormatarZeros(numero, 6);
    return seis + u"-" + static_cast<char16_t>(u'0' + DigitoModulo11(seis, 7));
}

int NumeroDaMatricula(uint32_t semente, int indice) {
    if (indice < kBlocos) return kInicioBlocos + 9 * indice + PosicaoNoBloco(semente, indice);
    int k = indice - kBlocos;
    if (k < kAcima) return kFimBlocos + k;
    k -= kAcima;
    if (k < kLacunas) {
        const int bloco = k / 8, livre = k % 8;
        const int posicao = livre < PosicaoNoBloco(semente, bloco) ? livre : livre + 1;
        return kInicioBlocos + 9 * bloco + posicao;
    }
    k -= kLacunas;
    if (k < kInicioBlocos) return k;
    return kFimAcima + (k - kInicioBlocos);
}

int IndiceDaMatricula(uint32_t semente, int numero) {
    int k;  // the place among the numbers after the blocks' own
    if (numero < 0 || numero > 999999) return -1;
    if (numero < kInicioBlocos) {
        k = kAcima + kLacunas + numero;
    } else if (numero < kFimBlocos) {
        const int bloco = (numero - kInicioBlocos) / 9, posicao = (numero - kInicioBlocos) % 9;
        const int sorteada = PosicaoNoBloco(semente, bloco);
        if (posicao == sorteada) return bloco;
        k = kAcima + 8 * bloco + (posicao < sorteada ? posicao : posicao - 1);
    } else if (numero < kFimAcima) {
        k = numero - kFimBlocos;
    } else {
        k = kAcima + kLacunas + kInicioBlocos + (numero - kFimAcima);
    }
    return kBlocos + k;
}

std::u16string Cpf(uint32_t semente, int indice) {
    // A multiplier coprime to 10 maps distinct indexes to distinct, scattered bases.
    const uint64_t base =
        (uint64_t{semente} * 7 + static_cast<uint64_t>(indice) * 387420489ull) % 1000000000ull;
    std::u16string cpf = FormatarZeros(static_cast<int64_t>(base), 9);
    cpf += static_cast<char16_t>(u'0' + DigitoModulo11(cpf, 100));
    cpf += static_cast<char16_t>(u'0' + DigitoModulo11(cpf, 100));
    return cpf;
}

std::u16string NomeComum(Sorteio& s, bool feminino) {
    std::u16string nome = Prenome(s, feminino);
    if (s.Chance(0.35)) nome += u" " + Prenome(s, feminino);
    const int sobrenomes = s.Entre(1, 3);
    for (int k = 0; k < sobrenomes; ++k) {
        if (k > 0 && s.Chance(0.3)) nome += u" " + std::u16string(s.Um(Escolhas(kLigacoes)));
        const auto w = s.Um(Escolhas(kSobrenomes));
        if (!nome.ends_with(w)) nome += u" " + std::u16string(w);
    }
    while (nome.size() > 60) nome.erase(nome.rfind(u' '));
    return nome;
}

Servidor SortearServidor(uint32_t semente, int i, const Competencia& c) {
    Sorteio s(semente, kFluxoServidor, static_cast<uint64_t>(i));
    Servidor v;
    v.indice = i;
    v.numero = NumeroDaMatricula(semente, i);
    s.Proximo();  // the stream's first draw placed the registration in its block
    v.matricula = MatriculaDe(v.numero);

    const int sexo = s.Chance(0.02) ? 0 : s.Chance(0.58) ? 2 : 1;
    const bool feminino = sexo == 2 || (sexo == 0 && s.Chance(0.5));
    v.sexo = FormatarZeros(sexo, 1);
    if (i == garantido::kNome40 || s.Chance(0.03))
        v.nome = NomeComTamanho(s, Prenome(s, feminino), 40);
    else if (i == garantido::kNomeLongo || s.Chance(0.03)) {
        const auto tamanho = static_cast<size_t>(s.Entre(41, 60));
        v.nome = NomeComTamanho(s, Prenome(s, feminino), tamanho);
    } else
        v.nome = NomeComum(s, feminino);
    v.cpf = Cpf(semente, i);
    v.identidade = Digitos(s, 7) + u" SSP/PA";
    v.titulo = Digitos(s, 12);
    v.zona = FormatarZeros(s.Entre(1, 99), 4);
    v.secao = FormatarZeros(s.Entre(1, 400), 4);
    v.estCivil = FormatarZeros(s.Entre(0, 6), 1);
    if (i != garantido::kSemNascimento && !s.Chance(0.015)) {
        const int dia = s.Entre(1, 28), mes = s.Entre(1, 12), idade = s.Entre(19, 68);
        v.nascimento = CodificaData(c.ano - idade, mes, dia);
    }
    const auto sobrenome = v.nome.substr(v.nome.rfind(u' ') + 1);
    if (!s.Chance(0.1)) {
        const std::u16string meio(s.Um(Escolhas(kSobrenomes)));
        v.pai = Prenome(s, false) + u" " + meio + u" " + sobrenome;
    }
    if (!s.Chance(0.01)) {
        const std::u16string ultimo(s.Um(Escolhas(kSobrenomes)));
        v.mae = Prenome(s, true) + u" " + ultimo;
    }
    v.dependentes = s.Chance(0.6) ? 0 : s.Entre(1, 4);
    if (s.Chance(0.7)) {
        const auto prenome = v.nome.substr(0, v.nome.find(u' '));
        const std::u16string dominio(s.Um(Escolhas(kDominios)));
        v.email = SemAcentos(prenome) + u"." + SemAcentos(sobrenome) +
                  FormatarZeros(s.Entre(0, 99), 1) + u"@" + dominio;
    }
    if (s.Chance(0.5)) v.fone = Telefone(s, u"(94) 3", 3);
    if (s.Chance(0.15)) v.fone2 = Telefone(s, u"(94) 3", 3);
    if (s.Chance(0.9)) v.celular = Telefone(s, u"(94) 9", 4);
    const std::u16string numero = FormatarZeros(s.Entre(1, 2500), 1);
    v.endereco = std::u16string(s.Um(Escolhas(kRuas))) + u", " + numero;
    if (s.Chance(0.1)) {
        const std::u16string lote = Digitos(s, 2);
        v.endereco += u" - QUADRA " + FormatarZeros(s.Entre(1, 40), 2) + u", LOTE " + lote;
    }
    v.bairro = s.Um(Escolhas(kBairros));
    const auto& cidade = s.Pesado(Escolhas(kCidades));
    v.cidade = cidade.nome;
    v.uf = cidade.uf;
    v.cep = cidade.cep;

    v.banco = s.Pesado(Escolhas(kBancos)).numero;
    v.agencia = Digitos(s, 4);
    v.dvAgencia = s.Chance(0.05) ? u"X" : Digitos(s, 1);
    v.conta = FormatarZeros(s.Entre(1000, 99999999), 5);
    v.dvConta = s.Chance(0.04) ? u"X" : Digitos(s, 1);
    v.instrucao = i == garantido::kInstrucaoA   ? u"A"
                  : i == garantido::kInstrucaoB ? u"B"
                  : s.Chance(0.02)              ? (s.Chance(0.5) ? u"A" : u"B")
                                                : FormatarZeros(s.Entre(0, 9), 1);

    const auto& funcao = s.Pesado(Escolhas(kFuncoes));
    v.funcao = funcao.codigo;
    v.vinculo =
        i == garantido::kVinculoSemConfig ? kVinculoSemConfig : s.Pesado(Escolhas(kVinculos)).id;
    v.unidade = static_cast<int>(&s.Pesado(Escolhas(kUnidades)) - kUnidades);
    v.unidadeAnterior = v.unidade;

    v.novo = i == garantido::kNovo || (i != garantido::kTransferido && s.Chance(0.02));
    if (v.novo)
        v.admissao = c.inicio + s.Entre(0, 9);
    else if (i != garantido::kSemAdmissao && !s.Chance(0.005)) {
        const int dia = s.Entre(1, 28), mes = s.Entre(1, 12), ano = s.Entre(1986, c.ano - 1);
        v.admissao = CodificaData(ano, mes, dia);
    }
    v.ativo = i != garantido::kInativo &&
              (i == garantido::kTransferido || i == garantido::kNovo || !s.Chance(0.05));
    v.linhaInativaExtra = v.ativo && s.Chance(0.01);
    if (i == garantido::kTransferido || (v.ativo && !v.novo && s.Chance(0.03))) {
        while (v.unidadeAnterior == v.unidade)
            v.unidadeAnterior = static_cast<int>(&s.Pesado(Escolhas(kUnidades)) - kUnidades);
    }

    // Pay: base salary raised by length of service, some overtime, night work, absences.
    v.salario = int64_t{funcao.salario} * 100 * (100 + s.Entre(0, 35)) / 100;
    v.extras = s.Chance(0.2) ? s.Entre64(5000, 80000) : 0;
    if (s.Chance(0.05)) v.extra1 = s.Entre64(1050, 30000);
    v.adNoturno =
        funcao.codigo == 9 || funcao.codigo == 5 || s.Chance(0.03) ? v.salario * 20 / 100 : 0;
    v.faltas = s.Chance(0.05) ? v.salario * s.Entre(1, 5) / 30 : 0;
    v.sindical = s.Chance(0.15) ? v.salario / 100 : 0;
    const int64_t bruto = v.salario + v.extras + v.extra1.value_or(0) + v.adNoturno;
    v.inss = Inss(bruto);
    v.irrf = Irrf(bruto - v.inss - v.dependentes * 18959);
    v.baseIncide = bruto - v.inss - v.irrf - v.faltas;
    const int64_t margemTotal = v.baseIncide * 30 / 100;

    // Deductions already in the payroll; consigned loans take part of the margin.
    int64_t consignado = 0;
    auto novoDesconto = [&](bool consignacao) {
        Desconto d;
        if (consignacao) {
            d.codigo = s.Um(Escolhas(kCodigosConsignacao));
            d.centavos = s.Entre64(3000, std::max<int64_t>(3001, margemTotal / 3));
            d.quant = s.Um(Escolhas(kPrazos));
            d.perc = s.Entre(1, d.quant);
            consignado += d.centavos;
        } else {
            d.codigo = s.Chance(0.5) ? kCodigoPensao : kCodigoPlanoSaude;
            d.centavos = s.Entre64(5000, 60000);
        }
        return d;
    };
    if (i == garantido::kSlotsCheios || s.Chance(0.003)) {
        for (int n : kSlotsConsignaveis)
            v.slots[static_cast<size_t>(n)] = novoDesconto(s.Chance(0.7));
    } else if (s.Chance(0.3)) {
        int quantos = s.Entre(1, 4);
        for (size_t k = 0; k < kSlotsConsignaveis.size() && quantos > 0; ++k) {
            if (s.Chance(0.2)) continue;  // a slot freed when an earlier loan ended
            v.slots[static_cast<size_t>(kSlotsConsignaveis[k])] = novoDesconto(s.Chance(0.75));
            --quantos;
        }
    }
    if (i != garantido::kSlotsCheios && s.Chance(0.1))
        v.slots[10] = Desconto{std::u16string(kCodigoSlot10), v.salario / 100};

    v.tipoMargem = i == garantido::kMargemNegativa ? Margem::Negativa
                   : i == garantido::kMargemNula   ? Margem::Nula
                   : i == garantido::kMargemZero   ? Margem::Zero
                   : s.Chance(0.01)                ? Margem::Nula
                   : s.Chance(0.04)                ? Margem::Zero
                                                   : Margem::Positiva;
    v.margem = margemTotal - consignado;
    if (v.tipoMargem == Margem::Zero) v.margem = 0;
    if (v.tipoMargem == Margem::Negativa && v.margem >= 0) v.margem = -s.Entre64(1000, 30000);
    if (v.tipoMargem == Margem::Positiva && v.margem <= 0)
        v.margem = s.Entre64(1000, std::max<int64_t>(1001, margemTotal));
    return v;
}

void SortearEventos(uint32_t semente, const Servidor& v, const Competencia& c,
                    std::vector<Evento>& eventos) {
    Sorteio s(semente, kFluxoEventos, static_cast<uint64_t>(v.indice));
    const int i = v.indice;
    auto mesDe = [](TDateTime d) { return DecodificaData(d).mes; };
    auto anoDe = [](TDateTime d) { return DecodificaData(d).ano; };

    if (s.Chance(0.08)) {  // a designated function, registered every month
        const TDateTime inicio = c.inicio - s.Entre(1, 900);
        eventos.push_back(
            {v.matricula, kCodigoFuncao, u'2', c.mes, c.ano, inicio, std::nullopt, std::nullopt});
        if (!v.novo)
            eventos.push_back(
                {v.matricula, kCodigoFuncao, u'2', c.mesAnt, c.anoAnt, inicio, {}, {}});
    } else if (!v.novo && s.Chance(0.01)) {  // a function that ended last month
        const TDateTime inicio = c.inicio - s.Entre(40, 900);
        eventos.push_back(
            {v.matricula, kCodigoFuncao, u'2', c.mesAnt, c.anoAnt, inicio, c.inicio - 1, {}});
    }

    if (i == garantido::kDemitidoNoMes || s.Chance(0.01)) {
        const TDateTime inicio = c.inicio + s.Entre(0, static_cast<int>(c.fim - c.inicio));
        std::optional<TDateTime> aviso;
        if (s.Chance(0.6)) aviso = inicio - 30;
        eventos.push_back(
            {v.matricula, kCodigoDemissao, u'1', c.mes, c.ano, inicio, std::nullopt, aviso});
    } else if (i == garantido::kDemitidoAntes || (!v.novo && s.Chance(0.01))) {
        const TDateTime inicio = c.inicio - s.Entre(1, 700);
        eventos.push_back({v.matricula,
                           kCodigoDemissao,
                           u'1',
                           mesDe(inicio),
                           anoDe(inicio),
                           inicio,
                           std::nullopt,
                           {}});
    }

    auto afastamento = [&](TDateTime inicio, std::optional<TDateTime> fim) {
        const int codigo = s.Pesado(Escolhas(kAfastamentos)).codigo;
        eventos.push_back(
            {v.matricula, codigo, u'1', mesDe(inicio), anoDe(inicio), inicio, fim, {}});
    };
    // One that ended before the month.
    auto afastamentoAntigo = [&] {
        const TDateTime fim = c.inicio - s.Entre(1, 59);
        afastamento(c.inicio - s.Entre(60, 400), fim);
    };
    const int duracaoMes = static_cast<int>(c.fim - c.inicio);
    auto afastamentoNoMes = [&](bool semFim) {
        // Started before the month or within it; ends within it, after it, or is still open.
        const TDateTime inicio =
            s.Chance(0.5) ? c.inicio - s.Entre(1, 180) : c.inicio + s.Entre(0, duracaoMes);
        std::optional<TDateTime> fim;
        if (!semFim) fim = std::max(inicio, c.inicio + s.Entre(0, duracaoMes + 60));
        afastamento(inicio, fim);
    };
    if (i == garantido::kAfastadoSemFim) {
        afastamentoNoMes(true);
    } else if (i == garantido::kVariosAfastamentos) {
        afastamento(c.inicio - 200, c.inicio - 150);
        afastamentoNoMes(false);
        afastamentoNoMes(false);
    } else if (s.Chance(0.06)) {
        if (s.Chance(0.3)) afastamentoAntigo();
        afastamentoNoMes(s.Chance(0.2));
        if (s.Chance(0.15)) afastamentoNoMes(s.Chance(0.2));
    } else if (s.Chance(0.03)) {
        afastamentoAntigo();
    }
}

}  // namespace kavlo::demo
