// Demo payroll: a municipal payroll of two consecutive months with the awkward data real payrolls
// hold (long accented names, NULL dates and margins, full deduction slots, transfers, new hires,
// dismissals and overlapping leaves), and the return file a loan-management party would send back.
// Every value is drawn from the seed and the servant's index, so a demo is reproducible and a small
// demo is the beginning of a large one.
#include "cli/BancoDemo.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "cli/EsquemaFolha.h"
#include "dao/Firebird.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo::demo {
namespace {

// ---------------------------------------------------------------------------------------------
// Deterministic draws (splitmix64): the same on every platform and standard library.

class Sorteio {
  public:
    explicit Sorteio(uint64_t semente) : estado_(semente) {}
    Sorteio(uint32_t semente, uint64_t fluxo, uint64_t indice)
        : estado_((uint64_t{semente} << 32) ^ (fluxo * 0xD1B54A32D192ED03ull) ^
                  (indice * 0x9E3779B97F4A7C15ull)) {
        Proximo();
    }

    uint64_t Proximo() {
        uint64_t z = (estado_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // An integer in [a, b].
    int Entre(int a, int b) {
        return a + static_cast<int>(Proximo() % static_cast<uint64_t>(b - a + 1));
    }
    int64_t Entre64(int64_t a, int64_t b) {
        return a + static_cast<int64_t>(Proximo() % static_cast<uint64_t>(b - a + 1));
    }
    bool Chance(double p) { return static_cast<double>(Proximo() >> 11) * 0x1.0p-53 < p; }
    template <class T>
    const T& Um(std::span<const T> itens) {
        return itens[static_cast<size_t>(Entre(0, static_cast<int>(itens.size()) - 1))];
    }
    // An item chosen by the weights its `peso` member gives.
    template <class T>
    const T& Pesado(std::span<const T> itens) {
        int total = 0;
        for (const auto& i : itens) total += i.peso;
        int r = Entre(1, total);
        for (const auto& i : itens)
            if ((r -= i.peso) <= 0) return i;
        return itens.back();
    }

  private:
    uint64_t estado_;
};

// Independent streams, so that adding draws to one table does not move the values of another.
enum Fluxo : uint64_t {
    kFluxoServidor = 1,
    kFluxoAnterior,
    kFluxoEventos,
    kFluxoRetorno,
    kFluxoDesconhecidos
};

// ---------------------------------------------------------------------------------------------
// Fixed tables of the municipality.

constexpr std::u16string_view kEmpregador = u"PREFEITURA MUNICIPAL DE SÃO JOÃO DO ARAGUAIA";

struct Banco {
    int numero;
    std::u16string_view nome;
    int peso;
};
constexpr Banco kBancos[] = {
    {1, u"BANCO DO BRASIL S.A.", 30},
    {37, u"BANCO DO ESTADO DO PARÁ S.A.", 25},
    {104, u"CAIXA ECONÔMICA FEDERAL", 20},
    {237, u"BANCO BRADESCO S.A.", 10},
    {341, u"ITAÚ UNIBANCO S.A.", 6},
    {33, u"BANCO SANTANDER (BRASIL) S.A.", 4},
    {756, u"BANCO COOPERATIVO SICOOB S.A.", 3},
    {748, u"BANCO COOPERATIVO SICREDI S.A.", 2},
};

struct TipoAfastamento {
    int codigo;
    std::u16string_view descricao;
    int peso;  // how often the leave is drawn; 0 for types that only end a link
};
constexpr int kCodigoDemissao = 22;
constexpr TipoAfastamento kAfastamentos[] = {
    {1, u"LICENÇA PARA TRATAMENTO DE SAÚDE", 30},
    {2, u"LICENÇA-MATERNIDADE", 12},
    {3, u"LICENÇA-PATERNIDADE", 4},
    {4, u"AUXÍLIO-DOENÇA (INSS)", 15},
    {5, u"ACIDENTE DE TRABALHO", 4},
    {6, u"LICENÇA SEM VENCIMENTOS", 8},
    {7, u"LICENÇA-PRÊMIO", 10},
    {8, u"CESSÃO A OUTRO ÓRGÃO", 5},
    {9, u"AFASTAMENTO PARA MANDATO ELETIVO", 2},
    {10, u"SERVIÇO MILITAR OBRIGATÓRIO", 1},
    {kCodigoDemissao, u"DEMISSÃO", 0},
    {23, u"EXONERAÇÃO A PEDIDO", 0},
    {24, u"APOSENTADORIA", 0},
    {25, u"FALECIMENTO", 0},
};
// Event code of a function designation (tipo '2'); deliberately not a leave type.
constexpr int kCodigoFuncao = 90;

struct Funcao {
    int codigo;
    std::u16string_view cargo;
    int salario;  // base salary in reais
    int peso;
};
constexpr Funcao kFuncoes[] = {
    {1, u"PROFESSOR(A) DE EDUCAÇÃO BÁSICA I", 2600, 20},
    {2, u"PROFESSOR(A) DE EDUCAÇÃO BÁSICA II", 3300, 10},
    {3, u"AUXILIAR DE SERVIÇOS GERAIS", 1412, 15},
    {4, u"AGENTE COMUNITÁRIO DE SAÚDE", 2824, 8},
    {5, u"TÉCNICO(A) EM ENFERMAGEM", 2100, 5},
    {6, u"ENFERMEIRO(A)", 4200, 3},
    {7, u"MÉDICO(A) CLÍNICO GERAL", 12000, 1},
    {8, u"MOTORISTA", 1800, 5},
    {9, u"VIGIA", 1412, 6},
    {10, u"MERENDEIRO(A)", 1412, 6},
    {11, u"ASSISTENTE ADMINISTRATIVO", 1900, 8},
    {12, u"AGENTE DE COMBATE ÀS ENDEMIAS", 2824, 3},
    {13, u"OPERADOR(A) DE MÁQUINAS PESADAS", 2500, 2},
    {14, u"SECRETÁRIO(A) MUNICIPAL", 8000, 1},
    {15, u"DIRETOR(A) DE DEPARTAMENTO", 4500, 2},
    {16, u"COORDENADOR(A) PEDAGÓGICO(A)", 3800, 2},
    {17, u"CONTADOR(A)", 6000, 1},
    {18, u"PSICÓLOGO(A)", 4000, 1},
    {19, u"ASSISTENTE SOCIAL", 4000, 1},
    {20, u"GARI", 1412, 5},
};

struct Unidade {
    std::u16string_view secretaria;  // CDSECRETA, 2 characters
    std::u16string_view setor;       // CDSETOR, 3 characters
    std::u16string_view descricao;
    int peso;
};
constexpr Unidade kUnidades[] = {
    {u"01", u"001", u"GABINETE DO PREFEITO", 2},
    {u"01", u"002", u"PROCURADORIA-GERAL DO MUNICÍPIO", 1},
    {u"02", u"001", u"SECRETARIA MUNICIPAL DE ADMINISTRAÇÃO", 3},
    {u"02", u"002", u"DEPARTAMENTO DE RECURSOS HUMANOS", 2},
    {u"02", u"003", u"DEPARTAMENTO DE LICITAÇÕES E CONTRATOS", 1},
    {u"03", u"001", u"SECRETARIA MUNICIPAL DE FINANÇAS", 2},
    {u"03", u"002", u"DEPARTAMENTO DE TRIBUTAÇÃO", 1},
    {u"04", u"001", u"SECRETARIA MUNICIPAL DE EDUCAÇÃO", 4},
    {u"04", u"002", u"E.M.E.F. SÃO FRANCISCO DE ASSIS", 8},
    {u"04", u"003", u"E.M.E.F. PROFª MARIA JOSÉ DE ARAÚJO", 8},
    {u"04", u"004", u"E.M.E.I. PEQUENO PRÍNCIPE", 6},
    {u"04", u"005", u"E.M.E.F. JOÃO PAULO II", 7},
    {u"04", u"006", u"TRANSPORTE ESCOLAR", 3},
    {u"05", u"001", u"SECRETARIA MUNICIPAL DE SAÚDE", 3},
    {u"05", u"002", u"HOSPITAL MUNICIPAL SÃO LUCAS", 8},
    {u"05", u"003", u"UNIDADE BÁSICA DE SAÚDE DO CENTRO", 4},
    {u"05", u"004", u"UNIDADE BÁSICA DE SAÚDE VILA CRAVO", 3},
    {u"05", u"005", u"VIGILÂNCIA EM SAÚDE", 2},
    {u"06", u"001", u"SECRETARIA MUNICIPAL DE OBRAS E SERVIÇOS URBANOS", 3},
    {u"06", u"002", u"LIMPEZA URBANA", 5},
    {u"06", u"003", u"MANUTENÇÃO DE ESTRADAS VICINAIS", 2},
    {u"07", u"001", u"SECRETARIA MUNICIPAL DE ASSISTÊNCIA SOCIAL", 2},
    {u"07", u"002", u"CENTRO DE REFERÊNCIA DE ASSISTÊNCIA SOCIAL - CRAS", 2},
    {u"07", u"003", u"CONSELHO TUTELAR", 1},
    {u"08", u"001", u"SECRETARIA MUNICIPAL DE AGRICULTURA", 2},
    {u"08", u"002", u"FEIRA DO PRODUTOR RURAL", 1},
};

// Employment types; CONFIG_KAVLO 1 to 7, and two local types the payroll left unconfigured.
struct Vinculo {
    int id;
    std::optional<int> config;
    int peso;
};
const Vinculo kVinculos[] = {
    {1, 6, 55}, {2, 1, 10}, {3, 2, 12},           {4, 3, 8}, {5, 4, 4},
    {6, 5, 1},  {7, 7, 6},  {8, std::nullopt, 2}, {9, 0, 2},
};
constexpr int kVinculoSemConfig = 8;

constexpr std::u16string_view kPrenomesMasculinos[] = {
    u"JOÃO",    u"JOSÉ",     u"ANTÔNIO", u"FRANCISCO", u"CARLOS",   u"PAULO",   u"PEDRO",
    u"LUCAS",   u"LUIZ",     u"MARCOS",  u"LUÍS",      u"GABRIEL",  u"RAFAEL",  u"DANIEL",
    u"MARCELO", u"BRUNO",    u"EDUARDO", u"FELIPE",    u"RAIMUNDO", u"RODRIGO", u"SEBASTIÃO",
    u"ADÃO",    u"SIMÃO",    u"JOAQUIM", u"BENEDITO",  u"FÁBIO",    u"MÁRCIO",  u"CLÁUDIO",
    u"SÉRGIO",  u"VINÍCIUS", u"CAIO",    u"OTÁVIO"};
constexpr std::u16string_view kPrenomesFemininos[] = {
    u"MARIA",    u"ANA",      u"FRANCISCA", u"ANTÔNIA",   u"ADRIANA", u"JULIANA", u"MÁRCIA",
    u"FERNANDA", u"PATRÍCIA", u"ALINE",     u"SANDRA",    u"CAMILA",  u"AMANDA",  u"BRUNA",
    u"JÉSSICA",  u"LETÍCIA",  u"JÚLIA",     u"LUCIANA",   u"VANESSA", u"MARIANA", u"GABRIELA",
    u"VERÔNICA", u"LÚCIA",    u"MÔNICA",    u"ROSÂNGELA", u"CLÁUDIA", u"SÔNIA",   u"GLÓRIA",
    u"INÊS",     u"DÉBORA",   u"RAIMUNDA",  u"CONCEIÇÃO"};
// Every length from 2 to 10 is present, so a name can be completed to an exact length.
constexpr std::u16string_view kSobrenomes[] = {
    u"SÁ",         u"LUZ",       u"PAZ",       u"LIMA",      u"DIAS",      u"REIS",
    u"LEÃO",       u"MELO",      u"SILVA",     u"SOUZA",     u"COSTA",     u"ALVES",
    u"GOMES",      u"ROCHA",     u"NUNES",     u"RAMOS",     u"ROMÃO",     u"SANTOS",
    u"MENDES",     u"VIEIRA",    u"SIMÕES",    u"FALCÃO",    u"CORRÊA",    u"ARAÚJO",
    u"RIBEIRO",    u"MARTINS",   u"MACHADO",   u"FREITAS",   u"BRANDÃO",   u"MARQUES",
    u"PEREIRA",    u"MOREIRA",   u"CARDOSO",   u"D'ÁVILA",   u"OLIVEIRA",  u"FERREIRA",
    u"CARVALHO",   u"MEDEIROS",  u"TEIXEIRA",  u"ASSUNÇÃO",  u"BRAGANÇA",  u"RODRIGUES",
    u"FERNANDES",  u"GONÇALVES", u"CONCEIÇÃO", u"MAGALHÃES", u"GUIMARÃES", u"NASCIMENTO",
    u"CAVALCANTI", u"FIGUEIREDO"};
constexpr int kPrazos[] = {12, 24, 36, 48, 60, 72, 84, 96};
constexpr std::u16string_view kLigacoes[] = {u"DA", u"DE", u"DOS", u"DAS", u"DO"};

constexpr std::u16string_view kRuas[] = {u"RUA SÃO SEBASTIÃO",          u"AVENIDA JOÃO PESSOA",
                                         u"TRAVESSA SANTA TEREZINHA",   u"RUA DA CONCEIÇÃO",
                                         u"AVENIDA BRASÍLIA",           u"RUA TIRADENTES",
                                         u"RUA PADRE JOSÉ DE ANCHIETA", u"ALAMEDA DAS PALMEIRAS",
                                         u"RUA MARECHAL DEODORO",       u"VICINAL DO KM 12"};
constexpr std::u16string_view kBairros[] = {u"CENTRO",         u"VILA SÃO JOSÉ", u"JARDIM AMÉRICA",
                                            u"NOVA ESPERANÇA", u"SÃO FÉLIX",     u"BELA VISTA",
                                            u"CIDADE NOVA",    u"ZONA RURAL"};
struct Cidade {
    std::u16string_view nome, uf, cep;
    int peso;
};
constexpr Cidade kCidades[] = {{u"SÃO JOÃO DO ARAGUAIA", u"PA", u"68518-000", 80},
                               {u"MARABÁ", u"PA", u"68500-000", 15},
                               {u"SÃO GERALDO DO ARAGUAIA", u"PA", u"68570-000", 4},
                               {u"ARAGUATINS", u"TO", u"77950-000", 1}};
constexpr std::u16string_view kDominios[] = {u"gmail.com", u"hotmail.com", u"yahoo.com.br",
                                             u"outlook.com", u"saojoaodoaraguaia.pa.gov.br"};

// Deductions already in the payroll: consigned loans (same codes as the return file's) and others.
constexpr std::u16string_view kCodigosConsignacao[] = {u"41", u"43", u"45"};
constexpr std::u16string_view kCodigoPensao = u"310";
constexpr std::u16string_view kCodigoPlanoSaude = u"320";
constexpr std::u16string_view kCodigoSlot10 = u"150";  // union fee; slot 10 belongs to it
// The slots the loan posting uses, in the order it tries them.
constexpr std::array<int, 16> kSlotsConsignaveis = {1, 2,  3,  4,  5,  6,  7,  8,
                                                    9, 11, 12, 13, 14, 15, 16, 17};

struct Consignataria {
    std::u16string_view codigo;  // deduction code, 2 digits
    int banco;
    std::u16string_view nome;
    int peso;
};
constexpr Consignataria kConsignatarias[] = {
    {u"41", 1, u"BANCO DO BRASIL S.A.", 40},
    {u"43", 37, u"BANCO DO ESTADO DO PARÁ S.A.", 35},
    {u"45", 104, u"CAIXA ECONÔMICA FEDERAL", 25},
};

// ---------------------------------------------------------------------------------------------
// Servants whose index forces a case, so that even a demo of 50 holds every case the library has
// to survive; larger demos add more of each by chance.
enum Garantido : int {
    kGDemitidoNoMes = 2,
    kGNome40 = 3,
    kGNomeLongo = 5,
    kGInstrucaoA = 6,
    kGSemNascimento = 8,
    kGInstrucaoB = 9,
    kGInativo = 11,
    kGSlotsCheios = 13,
    kGTransferido = 17,
    kGNovo = 19,
    kGMargemNegativa = 23,
    kGSemAdmissao = 27,
    kGMargemNula = 29,
    kGMargemZero = 31,
    kGSegundaParcela = 33,
    kGDemitidoAntes = 37,
    kGAfastadoSemFim = 41,
    kGVariosAfastamentos = 43,
    kGVinculoSemConfig = 47,
};

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
    int numero = 0;  // the six digits of the registration
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

// ---------------------------------------------------------------------------------------------
// Helpers

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

std::u16string MatriculaDe(int numero) {
    const std::u16string seis = FormatarZeros(numero, 6);
    return seis + u"-" + static_cast<char16_t>(u'0' + DigitoModulo11(seis, 7));
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

std::u16string Centavos(int64_t centavos, int inteiros) {
    return FormatarZeros(centavos / 100, inteiros) + u"." + FormatarZeros(centavos % 100, 2);
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

template <class T, size_t N>
std::span<const T> Span(const T (&a)[N]) {
    return {a, N};
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
        const auto w = s.Um(Span(kSobrenomes));
        if (falta >= w.size() + 1 + 3 && !nome.ends_with(w)) nome += u" " + std::u16string(w);
    }
}

std::u16string Prenome(Sorteio& s, bool feminino) {
    return std::u16string(feminino ? s.Um(Span(kPrenomesFemininos))
                                   : s.Um(Span(kPrenomesMasculinos)));
}

std::u16string NomeComum(Sorteio& s, bool feminino) {
    std::u16string nome = Prenome(s, feminino);
    if (s.Chance(0.35)) nome += u" " + Prenome(s, feminino);
    const int sobrenomes = s.Entre(1, 3);
    for (int k = 0; k < sobrenomes; ++k) {
        if (k > 0 && s.Chance(0.3)) nome += u" " + std::u16string(s.Um(Span(kLigacoes)));
        const auto w = s.Um(Span(kSobrenomes));
        if (!nome.ends_with(w)) nome += u" " + std::u16string(w);
    }
    while (nome.size() > 60) nome.erase(nome.rfind(u' '));
    return nome;
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

// ---------------------------------------------------------------------------------------------
// Drawing the servants

Servidor SortearServidor(uint32_t semente, int i, const Competencia& c) {
    Sorteio s(semente, kFluxoServidor, static_cast<uint64_t>(i));
    Servidor v;
    v.indice = i;
    v.numero = 10 + i * 9 + s.Entre(0, 8);  // gaps between registrations, as deleted servants leave
    v.matricula = MatriculaDe(v.numero);

    const int sexo = s.Chance(0.02) ? 0 : s.Chance(0.58) ? 2 : 1;
    const bool feminino = sexo == 2 || (sexo == 0 && s.Chance(0.5));
    v.sexo = FormatarZeros(sexo, 1);
    if (i == kGNome40 || s.Chance(0.03))
        v.nome = NomeComTamanho(s, Prenome(s, feminino), 40);
    else if (i == kGNomeLongo || s.Chance(0.03))
        v.nome = NomeComTamanho(s, Prenome(s, feminino), static_cast<size_t>(s.Entre(41, 60)));
    else
        v.nome = NomeComum(s, feminino);
    v.cpf = Cpf(semente, i);
    v.identidade = Digitos(s, 7) + u" SSP/PA";
    v.titulo = Digitos(s, 12);
    v.zona = FormatarZeros(s.Entre(1, 99), 4);
    v.secao = FormatarZeros(s.Entre(1, 400), 4);
    v.estCivil = FormatarZeros(s.Entre(0, 6), 1);
    if (i != kGSemNascimento && !s.Chance(0.015))
        v.nascimento = CodificaData(c.ano - s.Entre(19, 68), s.Entre(1, 12), s.Entre(1, 28));
    const auto sobrenome = v.nome.substr(v.nome.rfind(u' ') + 1);
    if (!s.Chance(0.1))
        v.pai =
            Prenome(s, false) + u" " + std::u16string(s.Um(Span(kSobrenomes))) + u" " + sobrenome;
    if (!s.Chance(0.01)) v.mae = Prenome(s, true) + u" " + std::u16string(s.Um(Span(kSobrenomes)));
    v.dependentes = s.Chance(0.6) ? 0 : s.Entre(1, 4);
    if (s.Chance(0.7)) {
        const auto prenome = v.nome.substr(0, v.nome.find(u' '));
        v.email = SemAcentos(prenome) + u"." + SemAcentos(sobrenome) +
                  FormatarZeros(s.Entre(0, 99), 1) + u"@" + std::u16string(s.Um(Span(kDominios)));
    }
    if (s.Chance(0.5)) v.fone = u"(94) 3" + Digitos(s, 3) + u"-" + Digitos(s, 4);
    if (s.Chance(0.15)) v.fone2 = u"(94) 3" + Digitos(s, 3) + u"-" + Digitos(s, 4);
    if (s.Chance(0.9)) v.celular = u"(94) 9" + Digitos(s, 4) + u"-" + Digitos(s, 4);
    v.endereco = std::u16string(s.Um(Span(kRuas))) + u", " + FormatarZeros(s.Entre(1, 2500), 1);
    if (s.Chance(0.1))
        v.endereco += u" - QUADRA " + FormatarZeros(s.Entre(1, 40), 2) + u", LOTE " + Digitos(s, 2);
    v.bairro = s.Um(Span(kBairros));
    const auto& cidade = s.Pesado(Span(kCidades));
    v.cidade = cidade.nome;
    v.uf = cidade.uf;
    v.cep = cidade.cep;

    v.banco = s.Pesado(Span(kBancos)).numero;
    v.agencia = Digitos(s, 4);
    v.dvAgencia = s.Chance(0.05) ? u"X" : Digitos(s, 1);
    v.conta = FormatarZeros(s.Entre(1000, 99999999), 5);
    v.dvConta = s.Chance(0.04) ? u"X" : Digitos(s, 1);
    v.instrucao = i == kGInstrucaoA   ? u"A"
                  : i == kGInstrucaoB ? u"B"
                  : s.Chance(0.02)    ? (s.Chance(0.5) ? u"A" : u"B")
                                      : FormatarZeros(s.Entre(0, 9), 1);

    const auto& funcao = s.Pesado(Span(kFuncoes));
    v.funcao = funcao.codigo;
    v.vinculo = i == kGVinculoSemConfig ? kVinculoSemConfig : s.Pesado(Span(kVinculos)).id;
    v.unidade = static_cast<int>(&s.Pesado(Span(kUnidades)) - kUnidades);
    v.unidadeAnterior = v.unidade;

    v.novo = i == kGNovo || (i != kGTransferido && s.Chance(0.02));
    if (v.novo)
        v.admissao = c.inicio + s.Entre(0, 9);
    else if (i != kGSemAdmissao && !s.Chance(0.005))
        v.admissao = CodificaData(s.Entre(1986, c.ano - 1), s.Entre(1, 12), s.Entre(1, 28));
    v.ativo = i != kGInativo && (i == kGTransferido || i == kGNovo || !s.Chance(0.05));
    v.linhaInativaExtra = v.ativo && s.Chance(0.01);
    if (i == kGTransferido || (v.ativo && !v.novo && s.Chance(0.03))) {
        while (v.unidadeAnterior == v.unidade)
            v.unidadeAnterior = static_cast<int>(&s.Pesado(Span(kUnidades)) - kUnidades);
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
            d.codigo = s.Um(Span(kCodigosConsignacao));
            d.centavos = s.Entre64(3000, std::max<int64_t>(3001, margemTotal / 3));
            d.quant = s.Um(Span(kPrazos));
            d.perc = s.Entre(1, d.quant);
            consignado += d.centavos;
        } else {
            d.codigo = s.Chance(0.5) ? kCodigoPensao : kCodigoPlanoSaude;
            d.centavos = s.Entre64(5000, 60000);
        }
        return d;
    };
    if (i == kGSlotsCheios || s.Chance(0.003)) {
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
    if (i != kGSlotsCheios && s.Chance(0.1))
        v.slots[10] = Desconto{std::u16string(kCodigoSlot10), v.salario / 100};

    v.tipoMargem = i == kGMargemNegativa ? Margem::Negativa
                   : i == kGMargemNula   ? Margem::Nula
                   : i == kGMargemZero   ? Margem::Zero
                   : s.Chance(0.01)      ? Margem::Nula
                   : s.Chance(0.04)      ? Margem::Zero
                                         : Margem::Positiva;
    v.margem = margemTotal - consignado;
    if (v.tipoMargem == Margem::Zero) v.margem = 0;
    if (v.tipoMargem == Margem::Negativa && v.margem >= 0) v.margem = -s.Entre64(1000, 30000);
    if (v.tipoMargem == Margem::Positiva && v.margem <= 0)
        v.margem = s.Entre64(1000, std::max<int64_t>(1001, margemTotal));
    return v;
}

// Events of the servant in SFP017: function designations, dismissals and leaves.
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

    if (i == kGDemitidoNoMes || s.Chance(0.01)) {
        const TDateTime inicio = c.inicio + s.Entre(0, static_cast<int>(c.fim - c.inicio));
        std::optional<TDateTime> aviso;
        if (s.Chance(0.6)) aviso = inicio - 30;
        eventos.push_back(
            {v.matricula, kCodigoDemissao, u'1', c.mes, c.ano, inicio, std::nullopt, aviso});
    } else if (i == kGDemitidoAntes || (!v.novo && s.Chance(0.01))) {
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
        const int codigo = s.Pesado(Span(kAfastamentos)).codigo;
        eventos.push_back(
            {v.matricula, codigo, u'1', mesDe(inicio), anoDe(inicio), inicio, fim, {}});
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
    if (i == kGAfastadoSemFim) {
        afastamentoNoMes(true);
    } else if (i == kGVariosAfastamentos) {
        afastamento(c.inicio - 200, c.inicio - 150);
        afastamentoNoMes(false);
        afastamentoNoMes(false);
    } else if (s.Chance(0.06)) {
        if (s.Chance(0.3))
            afastamento(c.inicio - s.Entre(60, 400), c.inicio - s.Entre(1, 59));  // an old one
        afastamentoNoMes(s.Chance(0.2));
        if (s.Chance(0.15)) afastamentoNoMes(s.Chance(0.2));
    } else if (s.Chance(0.03)) {
        afastamento(c.inicio - s.Entre(60, 400),
                    c.inicio - s.Entre(1, 59));  // over before the month
    }
}

// ---------------------------------------------------------------------------------------------
// Return file layout: fixed positions, 1-based, as the loan-management party writes them.

struct Campo {
    std::string_view nome;
    int inicio;
    int largura;
};
constexpr int kLarguraLinha = 200;

constexpr Campo kRetornoCabecalho[] = {
    {"TipoRegistro", 1, 1}, {"Consignante", 2, 50},
    {"Layout", 52, 30},     {"Competencia", 82, 6},  // mmyyyy; its last digit lies under the date
    {"DataGeracao", 87, 8},                          // ddmmyyyy, written last
};
constexpr Campo kRetornoDetalhe[] = {
    {"TipoRegistro", 1, 1},    {"NomeServidor", 2, 40}, {"CPF", 42, 11},
    {"Matricula", 53, 15},     {"Contrato", 68, 8},     {"Proposta", 76, 6},
    {"Reservado1", 82, 6},     {"Codigo", 88, 8},       {"Consignataria", 96, 44},
    {"ValorParcela", 140, 15}, {"ValorTotal", 155, 15}, {"Parcela", 170, 3},
    {"Prazo", 173, 3},         {"Reservado2", 176, 14}, {"DataContrato", 190, 8},
    {"Reservado3", 198, 3},
};
constexpr Campo kRetornoRodape[] = {
    {"TipoRegistro", 1, 1},
    {"Quantidade", 2, 10},
    {"Reservado", 12, 3},
    {"ValorTotal", 15, 12},
};

template <size_t N>
constexpr bool Contiguo(const Campo (&campos)[N], int largura) {
    int proximo = 1;
    for (const auto& c : campos) {
        if (c.inicio != proximo) return false;
        proximo += c.largura;
    }
    return proximo == largura + 1;
}
static_assert(Contiguo(kRetornoDetalhe, kLarguraLinha));
static_assert(Contiguo(kRetornoRodape, 26));

// Puts each value at its field's position; a value of the wrong width is a fault of this builder.
template <size_t N>
std::u16string Montar(const Campo (&campos)[N], const std::array<std::u16string, N>& valores) {
    std::u16string linha(kLarguraLinha, u' ');
    for (size_t k = 0; k < N; ++k) {
        if (static_cast<int>(valores[k].size()) != campos[k].largura)
            throw Erro("Erro interno do banco de demonstração: o campo " +
                       std::string(campos[k].nome) + " do retorno recebeu '" +
                       ParaMensagem(valores[k]) + "', de largura diferente de " +
                       std::to_string(campos[k].largura) + ".");
        linha.replace(static_cast<size_t>(campos[k].inicio - 1), valores[k].size(), valores[k]);
    }
    return linha;
}

struct Parcela {
    std::u16string nome, cpf, numero, digito;  // registration as the party has it
    int64_t centavos = 0;
    int quant = 0, perc = 0;
    const Consignataria* consignataria = nullptr;
    int64_t contrato = 0;
    int proposta = 0;
    TDateTime dataContrato = 0;
};

Parcela SortearParcela(Sorteio& s, const Servidor& v, const Competencia& c, bool acimaDaMargem) {
    Parcela p;
    p.nome = v.nome;
    p.cpf = v.cpf;
    p.numero = FormatarZeros(v.numero, 6);
    p.digito = v.matricula.substr(7, 1);
    const int64_t m = v.tipoMargem == Margem::Nula ? 0 : v.margem;
    if (m <= 0)
        p.centavos = s.Entre64(2000, 50000);
    else if (acimaDaMargem)
        p.centavos = m + s.Entre64(1, std::max<int64_t>(2, m * 8 / 10)) + 100;
    else
        p.centavos = std::max<int64_t>(1000, m * s.Entre(20, 95) / 100);
    p.consignataria = &s.Pesado(Span(kConsignatarias));
    p.quant = s.Um(Span(kPrazos));
    p.perc = s.Entre(1, p.quant);
    p.contrato = s.Entre64(10000000, 99999999);
    p.proposta = s.Entre(100000, 999999);
    p.dataContrato = c.inicio - (p.perc - 1) * 30 - s.Entre(1, 25);
    return p;
}

std::u16string LinhaDetalhe(const Parcela& p) {
    const Consignataria& k = *p.consignataria;
    return Montar(kRetornoDetalhe,
                  {u"D", AjustaTexto(p.nome, 40), p.cpf, u"00000000" + p.numero + p.digito,
                   FormatarZeros(p.contrato, 8), FormatarZeros(p.proposta, 6), Espacos(6),
                   std::u16string(k.codigo) + FormatarZeros(k.banco, 6), AjustaTexto(k.nome, 44),
                   Centavos(p.centavos, 12), Centavos(p.centavos * p.quant, 12),
                   FormatarZeros(p.perc, 3), FormatarZeros(p.quant, 3), Espacos(14),
                   FormatarData(p.dataContrato, u"ddmmyyyy"), Espacos(3)});
}

struct Retorno {
    std::vector<std::u16string> linhas;  // header, details, trailer
    int detalhes = 0, desconhecidas = 0, inativos = 0;
};

Retorno MontarRetorno(uint32_t semente, const std::vector<Servidor>& servidores,
                      const Competencia& c) {
    Retorno r;
    std::u16string cabecalho(kLarguraLinha, u' ');
    const std::u16string valores[] = {
        u"H", AjustaTexto(kEmpregador, 50), AjustaTexto(u"RETORNO", 30),
        FormatarData(c.inicio, u"mmyyyy"), FormatarData(c.inicio - 10, u"ddmmyyyy")};
    for (size_t k = 0; k < std::size(kRetornoCabecalho); ++k)
        cabecalho.replace(static_cast<size_t>(kRetornoCabecalho[k].inicio - 1), valores[k].size(),
                          valores[k]);
    r.linhas.push_back(cabecalho);

    int64_t total = 0;
    auto detalhe = [&](const Parcela& p) {
        r.linhas.push_back(LinhaDetalhe(p));
        total += p.centavos;
        ++r.detalhes;
    };
    Sorteio desconhecidos(semente, kFluxoDesconhecidos, 0);
    for (const auto& v : servidores) {
        Sorteio s(semente, kFluxoRetorno, static_cast<uint64_t>(v.indice));
        if (v.ativo) {
            const bool primeira =
                v.indice == kGSegundaParcela || v.indice == kGMargemNegativa || s.Chance(0.6);
            if (primeira) detalhe(SortearParcela(s, v, c, s.Chance(0.12)));
            if (primeira &&
                (v.indice == kGSegundaParcela || s.Chance(1.0 / 6)))  // about 10% of the actives
                detalhe(SortearParcela(s, v, c, false));
        } else if (v.indice == kGInativo || s.Chance(0.4)) {
            detalhe(SortearParcela(s, v, c, false));
            ++r.inativos;
        }
        // Now and then a line the payroll cannot match: a mistyped check digit or a number it never
        // had.
        if (v.indice == 1 || desconhecidos.Chance(0.004)) {
            Parcela p = SortearParcela(s, v, c, false);
            if (desconhecidos.Chance(0.5) || v.indice == 1) {
                p.digito =
                    std::u16string(1, static_cast<char16_t>(u'0' + (p.digito[0] - u'0' + 1) % 10));
            } else {
                p.numero = FormatarZeros(desconhecidos.Entre(990000, 999999), 6);
                p.nome = NomeComum(desconhecidos, desconhecidos.Chance(0.5));
                p.cpf = Cpf(semente + 1, desconhecidos.Entre(0, 999999));
            }
            detalhe(p);
            ++r.desconhecidas;
        }
    }
    r.linhas.push_back(Montar(
        kRetornoRodape, {u"T", FormatarZeros(r.detalhes, 10), Espacos(3), Centavos(total, 9)}));
    return r;
}

// ---------------------------------------------------------------------------------------------
// Writing the database

fb::Parametro Texto(std::u16string_view t) {
    return std::u16string(t);
}
fb::Parametro TextoOuNulo(std::u16string_view t) {
    if (t.empty()) return fb::Nulo{};
    return std::u16string(t);
}
fb::Parametro Inteiro(int64_t v) {
    return v;
}
fb::Parametro Reais(int64_t centavos) {
    return static_cast<double>(centavos) / 100.0;
}
fb::Parametro InteiroOuNulo(const std::optional<int>& v) {
    if (!v) return fb::Nulo{};
    return int64_t{*v};
}
fb::Parametro ReaisOuNulo(const std::optional<int64_t>& centavos) {
    if (!centavos) return fb::Nulo{};
    return static_cast<double>(*centavos) / 100.0;
}
fb::Parametro DataOuNula(const std::optional<TDateTime>& d) {
    if (!d) return fb::Nulo{};
    return fb::Data{*d};
}

std::string Insert(std::string_view tabela, const std::vector<std::string>& colunas) {
    std::string sql = "insert into " + std::string(tabela) + " (";
    std::string marcas;
    for (size_t k = 0; k < colunas.size(); ++k) {
        sql += (k ? ", " : "") + colunas[k];
        marcas += k ? ", ?" : "?";
    }
    return sql + ") values (" + marcas + ")";
}

void ExecutarScript(fb::Transacao& t, const std::string& script) {
    size_t inicio = 0;
    for (size_t fim; (fim = script.find(';', inicio)) != std::string::npos; inicio = fim + 1)
        fb::Comando(t, std::string_view(script).substr(inicio, fim - inicio),
                    "criar as tabelas da folha")
            .Executar();
}

void GravarTabelasFixas(fb::Transacao& t) {
    fb::Comando(t, "insert into SFP003 (DESCRICAO) values (?)", "gravar o empregador")
        .Executar({Texto(kEmpregador)});
    fb::Comando bancos(t, "insert into SFPD9911 (NUMBANCO, NOMEBANCO) values (?, ?)",
                       "gravar os bancos");
    for (const auto& b : kBancos) bancos.Executar({Inteiro(b.numero), Texto(b.nome)});
    fb::Comando tipos(t, "insert into AFASTFOLHA (CODIGO, DESCRICAO) values (?, ?)",
                      "gravar os tipos de afastamento");
    for (const auto& a : kAfastamentos) tipos.Executar({Inteiro(a.codigo), Texto(a.descricao)});
}

void GravarTabelasDoMes(fb::Transacao& t, const std::string& m) {
    fb::Comando funcoes(t, "insert into SFP005" + m + " (CODIGO, CARGO) values (?, ?)",
                        "gravar as funções");
    for (const auto& f : kFuncoes) funcoes.Executar({Inteiro(f.codigo), Texto(f.cargo)});
    fb::Comando unidades(
        t,
        "insert into SFP006" + m + " (CDSECRETA, CDSETOR, CODORGAO, DESCRICAO) values (?, ?, ?, ?)",
        "gravar as unidades");
    for (const auto& u : kUnidades)
        unidades.Executar({Texto(u.secretaria), Texto(u.setor),
                           Texto(std::u16string(u.secretaria) + u"." + std::u16string(u.setor)),
                           Texto(u.descricao)});
    fb::Comando vinculos(t,
                         "insert into CFG_VINC" + m + " (ID_VINCULO, CONFIG_KAVLO) values (?, ?)",
                         "gravar os vínculos");
    std::vector<fb::Parametro> p;
    for (const auto& v : kVinculos) {
        p.assign(1, Inteiro(v.id));
        p.push_back(InteiroOuNulo(v.config));
        vinculos.Executar(p);
    }
}

class GravadorServidores {
  public:
    GravadorServidores(fb::Transacao& t, const std::string& m)
        : cadastro_(
              t,
              Insert("SFP001" + m,
                     {"MATRICULA",  "NOME",      "CPF",     "IDENTIDADE", "TITELEITOR", "ZONA",
                      "SECAO",      "ESTCIVIL",  "SEXO",    "DTNASC",     "NOMEPAI",    "NOMEMAE",
                      "NUMDEPIR",   "EMAIL",     "FONE",    "FONE2",      "FONECEL",    "ENDERECO",
                      "BAIRRO",     "CEP",       "CIDADE",  "UF",         "BANCO",      "AGENCIA",
                      "DVAGENCIA",  "CONTA",     "DVCONTA", "GRINSTR",    "SISTEMA",    "FUNCAO",
                      "DTADMISSAO", "CDSECRETA", "CDSETOR"}),
              "gravar o cadastro de servidores de " + m),
          folha_(t, Insert("SFPDXX02" + m, ColunasFolha()), "gravar a folha de " + m) {}

    void Cadastro(const Servidor& v, bool mesAtual) {
        const Unidade& u = kUnidades[mesAtual ? v.unidade : v.unidadeAnterior];
        cadastro_.Executar({Texto(v.matricula),     Texto(v.nome),
                            Texto(v.cpf),           Texto(v.identidade),
                            Texto(v.titulo),        Texto(v.zona),
                            Texto(v.secao),         Texto(v.estCivil),
                            Texto(v.sexo),          DataOuNula(v.nascimento),
                            TextoOuNulo(v.pai),     TextoOuNulo(v.mae),
                            Inteiro(v.dependentes), TextoOuNulo(v.email),
                            TextoOuNulo(v.fone),    TextoOuNulo(v.fone2),
                            TextoOuNulo(v.celular), Texto(v.endereco),
                            Texto(v.bairro),        Texto(v.cep),
                            Texto(v.cidade),        Texto(v.uf),
                            Inteiro(v.banco),       Texto(v.agencia),
                            Texto(v.dvAgencia),     Texto(v.conta),
                            Texto(v.dvConta),       Texto(v.instrucao),
                            Inteiro(v.vinculo),     Inteiro(v.funcao),
                            DataOuNula(v.admissao), Texto(u.secretaria),
                            Texto(u.setor)});
    }

    // One payroll row; `variacao` shifts the variable pay so that the two months differ.
    void Folha(const Servidor& v, bool ativo, int64_t variacao) {
        const int64_t extras = std::max<int64_t>(0, v.extras + variacao);
        const int64_t bruto = v.salario + extras + v.extra1.value_or(0) + v.adNoturno;
        int64_t descontos = v.inss + v.irrf + v.faltas + v.sindical;
        for (const auto& d : v.slots)
            if (d) descontos += d->centavos;
        std::vector<fb::Parametro> p;
        p.reserve(101);
        p.insert(
            p.end(),
            {Texto(v.matricula), Texto(ativo ? u"T" : u"F"),
             ReaisOuNulo(v.tipoMargem == Margem::Nula ? std::nullopt : std::optional(v.margem)),
             Reais(v.baseIncide), Reais(bruto), Reais(bruto - descontos), Reais(descontos),
             Reais(v.salario), Reais(extras), ReaisOuNulo(v.extra1), Reais(v.adNoturno),
             Reais(v.irrf), Reais(v.inss), Reais(v.faltas), Reais(v.sindical)});
        for (size_t n = 1; n <= 17; ++n) {
            const auto& d = v.slots[n];
            if (!d) {
                p.insert(p.end(), 5, fb::Nulo{});
                continue;
            }
            p.push_back(Texto(d->codigo));
            p.push_back(Reais(d->centavos));
            if (d->quant) {
                p.insert(p.end(),
                         {Inteiro(d->quant), Inteiro(d->perc), Inteiro(d->quant - d->perc + 1)});
            } else {
                p.insert(p.end(), 3, fb::Nulo{});
            }
        }
        p.push_back(Texto(u"N"));
        folha_.Executar(p);
    }

  private:
    static std::vector<std::string> ColunasFolha() {
        std::vector<std::string> c = {"MATRICULA", "ATIVO",     "MCVALOR",  "MCBASEINCIDE",
                                      "REMUNTOT",  "LIQUIDO",   "TOTDESC",  "SALARIO",
                                      "VALEXTRAS", "VALEXTRA1", "VALADNOT", "IRRF",
                                      "INSS",      "VALFALTAS", "VALCS"};
        for (int n = 1; n <= 17; ++n)
            for (const char* stem : {"COD", "VALOR", "QUANT", "PERC", "TEMPO"})
                c.push_back(stem + std::to_string(n));
        c.push_back("RECALCULAR");
        return c;
    }
    fb::Comando cadastro_;
    fb::Comando folha_;
};

void ValidarOpcoes(const OpcoesDemo& o) {
    if (o.banco.empty()) throw Erro("Informe o arquivo do banco de demonstração a criar.");
    if (o.servidores < 1 || o.servidores > 100000)
        throw Erro("Quantidade de servidores inválida: " + std::to_string(o.servidores) +
                   " (use de 1 a 100000).");
    if (o.mes < 1 || o.mes > 12)
        throw Erro("Mês da folha inválido: " + std::to_string(o.mes) + " (use de 1 a 12).");
    if (o.ano < 1901 || o.ano > 9998)
        throw Erro("Ano da folha inválido: " + std::to_string(o.ano) + ".");
}

// Removes the unfinished database when the build fails.
struct RemoverSeFalhar {
    Caminho caminho;
    bool concluido = false;
    ~RemoverSeFalhar() {
        std::error_code ec;
        if (!concluido) std::filesystem::remove(caminho, ec);
    }
};

// What marks a database as one this builder made: kavlo demo replaces nothing else. It is found
// in the file's bytes, not by attaching: an attachment writes to the database, and a file that is
// not the demo's must come out of the check untouched.
constexpr std::string_view kMarcaDemo =
    "CREATE TABLE KAVLO_DEMO (MARCA VARCHAR(60), SEMENTE DOUBLE PRECISION, SERVIDORES INTEGER)";
constexpr std::string_view kTextoDaMarca =
    "Folha de demonstracao criada por kavlo demo (KAVLO_DEMO)";

bool BancoDeDemonstracao(const Caminho& banco) {
    std::FILE* f = std::fopen(NomeParaMensagem(banco).c_str(), "rb");
    if (!f) return false;
    std::string janela;
    char buf[1 << 16];
    bool achou = false;
    for (size_t n; !achou && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) {
        janela.append(buf, n);
        achou = janela.find(kTextoDaMarca) != std::string::npos;
        janela.erase(0, janela.size() - std::min(janela.size(), kTextoDaMarca.size()));
    }
    std::fclose(f);
    return achou;
}

bool RetornoDeDemonstracao(const Caminho& retorno) {
    try {
        const auto linhas = LerLinhas(retorno);
        return !linhas.empty() && linhas.front().starts_with(u"H" + AjustaTexto(kEmpregador, 50));
    } catch (const Erro&) {
        return false;
    }
}

// An existing file is replaced only when asked to, and only when it is the demo's own.
void ConferirSubstituicao(const OpcoesDemo& o, const Caminho& banco) {
    std::error_code ec;
    if (std::filesystem::exists(banco, ec)) {
        if (!o.substituir)
            throw ErroArquivo(
                "O arquivo '" + NomeParaMensagem(banco) +
                "' já existe e não foi substituído. Escolha outro arquivo, ou use "
                "--substituir se for um banco de demonstração criado por kavlo demo.");
        if (!BancoDeDemonstracao(banco))
            throw ErroArquivo("O arquivo '" + NomeParaMensagem(banco) +
                              "' não é um banco de demonstração criado por kavlo demo (que se "
                              "reconhece pela marca que ele grava na tabela KAVLO_DEMO) e não será "
                              "substituído, nem com --substituir.");
    }
    if (o.retorno.empty()) return;
    const Caminho retorno = CaminhoDe(DeUtf8(o.retorno));
    if (!std::filesystem::exists(retorno, ec)) return;
    if (!o.substituir)
        throw ErroArquivo("O arquivo '" + NomeParaMensagem(retorno) +
                          "' já existe e não foi substituído. Escolha outro arquivo, ou use "
                          "--substituir se for um retorno de demonstração criado por kavlo demo.");
    if (!RetornoDeDemonstracao(retorno))
        throw ErroArquivo("O arquivo '" + NomeParaMensagem(retorno) +
                          "' não é um arquivo de retorno criado por kavlo demo (cujo cabeçalho "
                          "traz o consignante da demonstração) e não será substituído, nem com "
                          "--substituir.");
}

}  // namespace

ResumoDemo CriarBancoDemo(const OpcoesDemo& opcoes) {
    ValidarOpcoes(opcoes);
    const Caminho destino = std::filesystem::absolute(CaminhoDe(DeUtf8(opcoes.banco)));
    if (!std::filesystem::is_directory(destino.parent_path()))
        throw ErroArquivo("A pasta '" + NomeParaMensagem(destino.parent_path()) +
                          "' do banco de demonstração não existe.");
    ConferirSubstituicao(opcoes, destino);

    Competencia c{opcoes.mes,
                  opcoes.ano,
                  opcoes.mes == 1 ? 12 : opcoes.mes - 1,
                  opcoes.mes == 1 ? opcoes.ano - 1 : opcoes.ano,
                  0,
                  0};
    c.inicio = CodificaData(c.ano, c.mes, 1);
    c.fim = UltimoDiaMes(c.inicio);
    const std::string mes = ParaUtf8(MesAbreviado(c.mes));
    const std::string mesAnt = ParaUtf8(MesAbreviado(c.mesAnt));

    std::vector<Servidor> servidores;
    servidores.reserve(static_cast<size_t>(opcoes.servidores));
    for (int i = 0; i < opcoes.servidores; ++i)
        servidores.push_back(SortearServidor(opcoes.semente, i, c));
    std::vector<Evento> eventos;
    for (const auto& v : servidores) SortearEventos(opcoes.semente, v, c, eventos);

    ResumoDemo resumo;
    resumo.servidores = opcoes.servidores;
    for (const auto& v : servidores) {
        resumo.ativos += v.ativo;
        resumo.novos += v.novo;
        resumo.transferidos += v.ativo && !v.novo && v.unidade != v.unidadeAnterior;
    }
    resumo.eventos = static_cast<int>(eventos.size());

    // Opened first, so that a return file that cannot be written stops the demo before the
    // database is touched.
    std::optional<ArquivoTemporario> retorno;
    if (!opcoes.retorno.empty()) retorno.emplace(CaminhoDe(DeUtf8(opcoes.retorno)));

    // Built under a temporary name: an existing database is replaced only by a complete one.
    RemoverSeFalhar temporario{destino};
    temporario.caminho += ".criando" + std::to_string(std::random_device{}() % 1000000);
    std::filesystem::remove(temporario.caminho);
    {
        fb::Conexao conexao;
        conexao.Criar(DeUtf8(temporario.caminho.string()), "SYSDBA", "quillbank");
        {
            fb::Transacao ddl(conexao, fb::ModoTransacao::Escrita);
            ExecutarScript(ddl, EsquemaFixo() + EsquemaDoMes(mes) + EsquemaDoMes(mesAnt) +
                                    std::string(kMarcaDemo) + ";\n");
            ddl.Commit();
        }
        fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
        GravarTabelasFixas(t);
        GravarTabelasDoMes(t, mes);
        GravarTabelasDoMes(t, mesAnt);
        GravadorServidores atual(t, mes), anterior(t, mesAnt);
        for (const auto& v : servidores) {
            Sorteio s(opcoes.semente, kFluxoAnterior, static_cast<uint64_t>(v.indice));
            atual.Cadastro(v, true);
            atual.Folha(v, v.ativo, 0);
            if (v.linhaInativaExtra) atual.Folha(v, false, 0);
            if (v.novo) continue;
            anterior.Cadastro(v, false);
            anterior.Folha(v, v.ativo || s.Chance(0.7),
                           s.Chance(0.3) ? s.Entre64(-5000, 20000) : 0);
        }
        fb::Comando evento(t,
                           Insert("SFP017", {"MATRICULA", "CODFOL", "TIPO", "MESREF", "ANOREF",
                                             "DTINICIO", "DTFIM", "DTAVISO"}),
                           "gravar os eventos dos servidores");
        for (const auto& e : eventos)
            evento.Executar({Texto(e.matricula), InteiroOuNulo(e.codfol),
                             Texto(std::u16string(1, e.tipo)), Inteiro(e.mesRef), Inteiro(e.anoRef),
                             fb::Data{e.inicio}, DataOuNula(e.fim), DataOuNula(e.aviso)});
        fb::Comando(t, std::string_view("INSERT INTO KAVLO_DEMO VALUES (?, ?, ?)"),
                    "marcar o banco de demonstração")
            .Executar({DeUtf8(kTextoDaMarca), static_cast<double>(opcoes.semente),
                       Inteiro(opcoes.servidores)});
        t.Commit();
        conexao.Fechar();
    }
    std::filesystem::rename(temporario.caminho, destino);
    temporario.concluido = true;

    if (retorno) {
        const Retorno r = MontarRetorno(opcoes.semente, servidores, c);
        for (const auto& linha : r.linhas) retorno->EscreverLinha(linha);
        retorno->Fechar();
        retorno->Confirmar();
        resumo.linhasRetorno = r.detalhes;
        resumo.linhasDesconhecidas = r.desconhecidas;
        resumo.linhasInativos = r.inativos;
    }
    return resumo;
}

}  // namespace kavlo::demo
