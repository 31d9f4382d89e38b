// The fixed tables of the demo's municipality: employer, banks, leave types, functions, units,
// employment types, the names and places servants are drawn from, and the deduction codes and
// loan parties of the payroll and its return file.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kavlo::demo {

inline constexpr std::u16string_view kEmpregador = u"PREFEITURA MUNICIPAL DE SÃO JOÃO DO ARAGUAIA";

struct Banco {
    int numero;
    std::u16string_view nome;
    int peso;
};
inline constexpr Banco kBancos[] = {
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
inline constexpr int kCodigoDemissao = 22;
inline constexpr TipoAfastamento kAfastamentos[] = {
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
inline constexpr int kCodigoFuncao = 90;

struct Funcao {
    int codigo;
    std::u16string_view cargo;
    int salario;  // base salary in reais
    int peso;
};
inline constexpr Funcao kFuncoes[] = {
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
inline constexpr Unidade kUnidades[] = {
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
inline const Vinculo kVinculos[] = {
    {1, 6, 55}, {2, 1, 10}, {3, 2, 12},           {4, 3, 8}, {5, 4, 4},
    {6, 5, 1},  {7, 7, 6},  {8, std::nullopt, 2}, {9, 0, 2},
};
inline constexpr int kVinculoSemConfig = 8;

inline constexpr std::u16string_view kPrenomesMasculinos[] = {
    u"JOÃO",    u"JOSÉ",     u"ANTÔNIO", u"FRANCISCO", u"CARLOS",   u"PAULO",   u"PEDRO",
    u"LUCAS",   u"LUIZ",     u"MARCOS",  u"LUÍS",      u"GABRIEL",  u"RAFAEL",  u"DANIEL",
    u"MARCELO", u"BRUNO",    u"EDUARDO", u"FELIPE",    u"RAIMUNDO", u"RODRIGO", u"SEBASTIÃO",
    u"ADÃO",    u"SIMÃO",    u"JOAQUIM", u"BENEDITO",  u"FÁBIO",    u"MÁRCIO",  u"CLÁUDIO",
    u"SÉRGIO",  u"VINÍCIUS", u"CAIO",    u"OTÁVIO"};
inline constexpr std::u16string_view kPrenomesFemininos[] = {
    u"MARIA",    u"ANA",      u"FRANCISCA", u"ANTÔNIA",   u"ADRIANA", u"JULIANA", u"MÁRCIA",
    u"FERNANDA", u"PATRÍCIA", u"ALINE",     u"SANDRA",    u"CAMILA",  u"AMANDA",  u"BRUNA",
    u"JÉSSICA",  u"LETÍCIA",  u"JÚLIA",     u"LUCIANA",   u"VANESSA", u"MARIANA", u"GABRIELA",
    u"VERÔNICA", u"LÚCIA",    u"MÔNICA",    u"ROSÂNGELA", u"CLÁUDIA", u"SÔNIA",   u"GLÓRIA",
    u"INÊS",     u"DÉBORA",   u"RAIMUNDA",  u"CONCEIÇÃO"};
// Every length from 2 to 10 is present, so a name can be completed to an exact length.
inline constexpr std::u16string_view kSobrenomes[] = {
    u"SÁ",         u"LUZ",       u"PAZ",       u"LIMA",      u"DIAS",      u"REIS",
    u"LEÃO",       u"MELO",      u"SILVA",     u"SOUZA",     u"COSTA",     u"ALVES",
    u"GOMES",      u"ROCHA",     u"NUNES",     u"RAMOS",     u"ROMÃO",     u"SANTOS",
    u"MENDES",     u"VIEIRA",    u"SIMÕES",    u"FALCÃO",    u"CORRÊA",    u"ARAÚJO",
    u"RIBEIRO",    u"MARTINS",   u"MACHADO",   u"FREITAS",   u"BRANDÃO",   u"MARQUES",
    u"PEREIRA",    u"MOREIRA",   u"CARDOSO",   u"D'ÁVILA",   u"OLIVEIRA",  u"FERREIRA",
    u"CARVALHO",   u"MEDEIROS",  u"TEIXEIRA",  u"ASSUNÇÃO",  u"BRAGANÇA",  u"RODRIGUES",
    u"FERNANDES",  u"GONÇALVES", u"CONCEIÇÃO", u"MAGALHÃES", u"GUIMARÃES", u"NASCIMENTO",
    u"CAVALCANTI", u"FIGUEIREDO"};
inline constexpr int kPrazos[] = {12, 24, 36, 48, 60, 72, 84, 96};
inline constexpr std::u16string_view kLigacoes[] = {u"DA", u"DE", u"DOS", u"DAS", u"DO"};

inline constexpr std::u16string_view kRuas[] = {
    u"RUA SÃO SEBASTIÃO",          u"AVENIDA JOÃO PESSOA",
    u"TRAVESSA SANTA TEREZINHA",   u"RUA DA CONCEIÇÃO",
    u"AVENIDA BRASÍLIA",           u"RUA TIRADENTES",
    u"RUA PADRE JOSÉ DE ANCHIETA", u"ALAMEDA DAS PALMEIRAS",
    u"RUA MARECHAL DEODORO",       u"VICINAL DO KM 12"};
inline constexpr std::u16string_view kBairros[] = {
    u"CENTRO",    u"VILA SÃO JOSÉ", u"JARDIM AMÉRICA", u"NOVA ESPERANÇA",
    u"SÃO FÉLIX", u"BELA VISTA",    u"CIDADE NOVA",    u"ZONA RURAL"};
struct Cidade {
    std::u16string_view nome, uf, cep;
    int peso;
};
inline constexpr Cidade kCidades[] = {{u"SÃO JOÃO DO ARAGUAIA", u"PA", u"68518-000", 80},
                                      {u"MARABÁ", u"PA", u"68500-000", 15},
                                      {u"SÃO GERALDO DO ARAGUAIA", u"PA", u"68570-000", 4},
                                      {u"ARAGUATINS", u"TO", u"77950-000", 1}};
inline constexpr std::u16string_view kDominios[] = {u"gmail.com", u"hotmail.com", u"yahoo.com.br",
                                                    u"outlook.com", u"saojoaodoaraguaia.pa.gov.br"};

// Deductions already in the payroll: consigned loans (same codes as the return file's) and others.
inline constexpr std::u16string_view kCodigosConsignacao[] = {u"41", u"43", u"45"};
inline constexpr std::u16string_view kCodigoPensao = u"310";
inline constexpr std::u16string_view kCodigoPlanoSaude = u"320";
inline constexpr std::u16string_view kCodigoSlot10 = u"150";  // union fee; slot 10 belongs to it
// The slots the loan posting uses, in the order it tries them.
inline constexpr std::array<int, 16> kSlotsConsignaveis = {1, 2,  3,  4,  5,  6,  7,  8,
                                                           9, 11, 12, 13, 14, 15, 16, 17};

struct Consignataria {
    std::u16string_view codigo;  // deduction code, 2 digits
    int banco;
    std::u16string_view nome;
    int peso;
};
inline constexpr Consignataria kConsignatarias[] = {
    {u"41", 1, u"BANCO DO BRASIL S.A.", 40},
    {u"43", 37, u"BANCO DO ESTADO DO PARÁ S.A.", 35},
    {u"45", 104, u"CAIXA ECONÔMICA FEDERAL", 25},
};

}  // namespace kavlo::demo
