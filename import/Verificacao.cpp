#include "import/Verificacao.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <tuple>

#include "import/ArquivoRetorno.h"
#include "import/CadastroServidores.h"
#include "import/Lancamento.h"
#include "import/TabelaDeducao.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Erros.h"
#include "util/Impressao.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {

bool Verificacao::Tem(Gravidade g) const {
    return std::any_of(achados.begin(), achados.end(),
                       [g](const Achado& a) { return a.gravidade == g; });
}

std::map<TipoAchado, size_t> Verificacao::Contagem(Gravidade g) const {
    std::map<TipoAchado, size_t> r;
    for (const Achado& a : achados)
        if (a.gravidade == g) ++r[a.tipo];
    return r;
}

namespace {

// Bytes without a byte-order mark that are valid UTF-8 with at least one letter of more than one
// byte: read as Windows-1252, each such letter takes two or three positions and shifts every
// field after it. Fed block by block as the file is read; Linha() is the 1-based line of the first
// such letter, or 0.
class DetectorUtf8SemMarca {
  public:
    void Acrescentar(std::string_view b) {
        for (const char byte : b) {
            const auto c = static_cast<unsigned char>(byte);
            if (inicio_.size() < 3) inicio_ += static_cast<char>(c);
            if (invalido_) return;
            if (faltam_ > 0) {
                if ((c & 0xC0) != 0x80) invalido_ = true;
                if (--faltam_ == 0 && !primeira_) primeira_ = linha_;
                continue;
            }
            if (c == '\n') ++linha_;
            if (c < 0x80) continue;
            const size_t n = c >= 0xF0 && c <= 0xF4  ? 4
                             : c >= 0xE0             ? 3
                             : c >= 0xC2 && c < 0xE0 ? 2
                                                     : 0;
            if (n == 0) invalido_ = true;
            faltam_ = n ? n - 1 : 0;
        }
    }
    // After the last block: a sequence cut at the end is no UTF-8.
    size_t Linha() const {
        const std::string_view b = inicio_;
        if (b.starts_with("\xEF\xBB\xBF") || b.starts_with("\xFF\xFE") || b.starts_with("\xFE\xFF"))
            return 0;
        return invalido_ || faltam_ > 0 ? 0 : primeira_;
    }

  private:
    std::string inicio_;
    bool invalido_ = false;
    size_t faltam_ = 0, linha_ = 1, primeira_ = 0;
};

bool SoDigitos(std::u16string_view texto) {
    return !texto.empty() && std::all_of(texto.begin(), texto.end(),
                                         [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// An amount as the party writes it: digits, one point and digits ("000000000150.00"), blanks
// around it aside. Anything else (an exponent, a comma, a sign, no point) the import reads by the
// design's looser rule, and may read as another amount than the party meant.
bool ValorNoFormato(std::u16string_view campo) {
    const std::u16string_view t = Aparar(campo);
    const size_t ponto = t.find(u'.');
    return ponto != std::u16string_view::npos && SoDigitos(t.substr(0, ponto)) &&
           SoDigitos(t.substr(ponto + 1));
}

// What makes two instalment lines the same instalment: the servant, the code, the amount and the
// counter, as they stand in the file.
using Parcela = std::tuple<std::u16string, std::u16string, std::u16string, std::u16string>;
Parcela ParcelaDa(std::u16string_view linha) {
    return {ChaveServidor(linha), CodigoDesconto(linha),
            std::u16string(LerCampo(linha, retorno::Parcela)),
            std::u16string(LerCampo(linha, retorno::ContadorPerc))};
}

// Only lines whose hashes meet are compared by their fields, so a line is never kept for the
// repeats it cannot have.
uint64_t Impressao(const Parcela& p) {
    return (Impressao64() << std::get<0>(p) << std::get<1>(p) << std::get<2>(p) << std::get<3>(p))
        .Valor();
}

// An instalment as a posting stores it: the servant, the code, the amount in cents and the two
// counters. Lines that do not convert have none.
uint64_t ImpressaoDoLancamento(std::u16string_view chave, std::u16string_view codigo,
                               int64_t centavos, int64_t quant, int64_t perc) {
    return (Impressao64() << chave << SemBrancosFinais(codigo) << centavos << quant << perc)
        .Valor();
}

std::optional<uint64_t> LancamentoDaLinha(std::u16string_view linha) {
    try {
        return ImpressaoDoLancamento(
            ChaveServidor(linha), CodigoDesconto(linha), LerParcelaCentavos(linha),
            LerContador(linha, retorno::ContadorQuant), LerContador(linha, retorno::ContadorPerc));
    } catch (const Erro&) {
        return std::nullopt;
    }
}

// The postings into `tabela` of the imports not undone, for the servants the file names: what
// each stored, and which import and line of its file posted it.
struct Lancada {
    uint64_t impressao;
    int32_t importacao;
    uint32_t linha;
    bool operator<(const Lancada& o) const {
        return std::tie(impressao, importacao, linha) <
               std::tie(o.impressao, o.importacao, o.linha);
    }
};

std::vector<Lancada> LancadasNaTabela(fb::Transacao& t, std::u16string_view tabela,
                                      const ConjuntoDeChaves& chaves) {
    fb::Comando c(t,
                  std::string_view("select l.MATRICULA, l.COD_DEPOIS, l.VALOR_DEPOIS, "
                                   "l.QUANT_DEPOIS, l.PERC_DEPOIS, l.ID_IMPORTACAO, "
                                   "l.LINHA_RETORNO from KAVLO_LANCAMENTO l join KAVLO_IMPORTACAO "
                                   "i on i.ID = l.ID_IMPORTACAO where i.TABELA = ? and "
                                   "i.ESTORNO_QUANDO is null"),
                  "consultar o diário de importações");
    fb::Cursor r = c.Abrir({std::u16string(tabela)});
    std::vector<Lancada> lancadas;
    while (r.Proximo()) {
        const std::u16string matricula = r.Texto(0u);
        if (!chaves.Contem(matricula) || r.Nulo(2u) || r.Nulo(3u) || r.Nulo(4u)) continue;
        try {
            lancadas.push_back({ImpressaoDoLancamento(
                                    matricula, DeWindows1252(r.Bytes(1u)), CentavosDe(r.Real(2u)),
                                    std::llround(r.Real(3u)), std::llround(r.Real(4u))),
                                r.Inteiro(5u), static_cast<uint32_t>(r.Inteiro(6u))});
        } catch (const ErroConversao&) {
        }
    }
    std::sort(lancadas.begin(), lancadas.end());
    return lancadas;
}

// The header's reference month, mmyyy: the year's last digit lies under the date.
constexpr Posicao kCompetencia{retorno::CabCompetencia.inicio,
                               retorno::CabData.inicio - retorno::CabCompetencia.inicio};

// "o cabeçalho indica 03/2024; foi informado 02/2024", or nothing when the header agrees or does
// not say. The header cannot show the year's last digit: where the rest agrees it is taken as the
// one informed.
std::optional<std::string> OutraCompetencia(std::u16string_view cabecalho, int32_t mes,
                                            int32_t ano) {
    const std::u16string_view competencia = LerCampo(cabecalho, kCompetencia);
    if (!SoDigitos(competencia) || competencia.size() != 5) return std::nullopt;
    char informada[32];
    std::snprintf(informada, sizeof informada, "%02d/%04d", mes, ano);
    const std::string c = ParaUtf8(competencia);
    const std::string anoInformado = std::string(informada + 3);
    const int mesDoCabecalho = std::stoi(c.substr(0, 2));
    const bool mesmaDecada = c.substr(2) == anoInformado.substr(0, 3);
    if (mesDoCabecalho == mes && mesmaDecada) return std::nullopt;
    return "o cabeçalho indica " + c.substr(0, 2) + "/" + c.substr(2) +
           (mesmaDecada ? anoInformado.substr(3) : "?") + "; foi informado " + informada + " (" +
           Posicoes(kCompetencia) + ": " + Aspas(competencia) +
           "). É mesmo o arquivo de retorno deste mês? Confira o mês e o ano informados";
}

// A finding that quotes the payroll's CPF, name or both, completed once the texts are read again.
struct CitaCadastro {
    size_t achado;
    uint32_t indice;
    bool cpf, nome;
};

}  // namespace

Verificacao VerificarRetorno(fb::Conexao& conexao, const PedidoVerificacao& pedido,
                             std::optional<ArquivoDeRetorno>* lido) {
    const int32_t mes = StrToInt(pedido.mes);
    const std::u16string sufixo = MesAbreviado(mes);
    if (sufixo.empty())
        throw ErroConversao("Mês '" + ParaMensagem(pedido.mes) +
                            "' inválido: informe o número do mês, de 1 a 12");
    const int32_t ano = StrToInt(pedido.ano);
    const std::u16string tabelaDoMes = u"SFPDXX02" + sufixo;

    Verificacao v;
    auto achar = [&v](size_t linha, Gravidade g, TipoAchado tipo, std::string texto,
                      std::u16string chave = {}) {
        v.achados.push_back({linha, g, tipo, std::move(texto), std::move(chave)});
    };

    // Read exactly as the import reads it: a first pass for the hashes, the keys and what the
    // checks of the file as a whole need, then the lines again one at a time.
    DetectorUtf8SemMarca utf8;
    std::map<size_t, size_t> comprimentos;  // the instalment lines of one file are all alike
    std::vector<uint64_t> impressoes;       // of every instalment line
    std::optional<int64_t> soma = 0;        // of the instalments, while every one converts
    ArquivoDeRetorno arquivo(
        CaminhoDe(pedido.retorno),
        [&](size_t, std::u16string_view linha) {
            ++comprimentos[linha.size()];
            impressoes.push_back(Impressao(ParcelaDa(linha)));
            if (soma) try {
                    *soma += LerParcelaCentavos(linha);
                } catch (const Erro&) {
                    soma.reset();
                }
        },
        [&utf8](std::string_view bytes) { utf8.Acrescentar(bytes); });
    v.linhas = arquivo.Linhas();
    if (const size_t l = utf8.Linha())
        achar(l, Gravidade::Suspeita, TipoAchado::Codificacao,
              "o arquivo parece estar em UTF-8 sem marca de ordem de bytes (BOM): lido como "
              "Windows-1252, cada letra acentuada ocupa mais de uma posição e desloca os campos "
              "seguintes da linha. Peça o arquivo em Windows-1252, ou em UTF-8 com BOM.");
    // The hashes more than one line has: only lines with one of them may repeat another.
    std::sort(impressoes.begin(), impressoes.end());
    std::vector<uint64_t> repetidas;
    for (size_t i = 1; i < impressoes.size(); ++i)
        if (impressoes[i - 1] == impressoes[i] &&
            (repetidas.empty() || repetidas.back() != impressoes[i]))
            repetidas.push_back(impressoes[i]);
    std::vector<uint64_t>().swap(impressoes);

    const ConjuntoDeChaves& chaves = arquivo.Chaves();
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    TabelaDeducao tabela(t, tabelaDoMes, chaves);
    std::optional<CadastroServidores> cadastro;
    try {
        cadastro.emplace(t, u"SFP001" + sufixo, chaves);
    } catch (const ErroBanco& e) {
        achar(0, Gravidade::Aviso, TipoAchado::CadastroIlegivel,
              "o cadastro do mês (SFP001" + ParaUtf8(sufixo) +
                  ") não pôde ser lido, e CPFs e nomes não foram conferidos: " + e.what());
    }
    std::vector<Lancada> lancadas;
    if (DiarioExiste(t)) {
        v.anterior =
            ImportacaoDoMesmoArquivo(t, arquivo.HashConteudo(), arquivo.Hash(), tabelaDoMes);
        lancadas = LancadasNaTabela(t, tabelaDoMes, chaves);
    }
    if (v.anterior)
        achar(0, Gravidade::Impede, TipoAchado::JaImportado,
              JaImportado(*v.anterior, pedido.retorno));

    const size_t linhas = arquivo.Linhas();
    if (linhas == 0)
        achar(0, Gravidade::Impede, TipoAchado::Vazio,
              "o arquivo está vazio, sem nenhuma linha: a importação o recusa. Confira se é o "
              "arquivo certo e se foi recebido por inteiro.");
    else if (linhas <= 2)
        achar(
            0, Gravidade::Suspeita, TipoAchado::Vazio,
            std::string(linhas == 1 ? "o arquivo tem uma linha só" : "o arquivo tem duas linhas") +
                " e nenhuma parcela: importá-lo não lança nada. Confira se é o arquivo certo e "
                "se foi recebido por inteiro.");
    if (linhas < 2) {
        if (lido) lido->emplace(std::move(arquivo));
        return v;
    }

    if (auto outra = OutraCompetencia(arquivo.Cabecalho(), mes, ano))
        achar(1, Gravidade::Suspeita, TipoAchado::Competencia, *outra);

    size_t maisComum = 0;
    for (const auto& [comprimento, quantas] : comprimentos)
        if (quantas > maisComum) {
            maisComum = quantas;
            v.comprimentoUsual = comprimento;
        }

    // The trailer announces the count of instalments and their total; a last line that is an
    // instalment means the file was cut and that instalment would be taken for the trailer.
    const std::u16string& rodape = arquivo.Rodape();
    const std::u16string_view quantidade = LerCampo(rodape, retorno::RodQuantidade);
    const std::u16string_view total = LerCampo(rodape, retorno::RodTotal);
    const int64_t detalhes = static_cast<int64_t>(linhas - 2);
    if (arquivo.Cortado())
        achar(linhas, Gravidade::Impede, TipoAchado::Cortado,
              "a última linha é uma parcela (servidor " + ParaMensagem(ChaveServidor(rodape)) +
                  ", tipo de registro " + Aspas(LerCampo(rodape, retorno::Tipo)) +
                  " como as demais parcelas), não um rodapé: o arquivo foi cortado, e a "
                  "importação o recusa. Peça à consignatária o arquivo completo.");
    else if (!SoDigitos(quantidade) || quantidade.size() != 10)
        achar(linhas, Gravidade::Suspeita, TipoAchado::Rodape,
              "a última linha não traz a quantidade de parcelas de um rodapé (" +
                  Posicoes(retorno::RodQuantidade) + ": " + Aspas(quantidade) +
                  "): o arquivo pode estar cortado ou sem o rodapé, e essa linha seria ignorada");
    else if (StrToInt64(quantidade) != detalhes)
        achar(linhas, Gravidade::Suspeita, TipoAchado::Rodape,
              "o rodapé anuncia " + std::to_string(StrToInt64(quantidade)) +
                  " parcelas, e o arquivo traz " + std::to_string(detalhes) +
                  ": pode estar incompleto, ou ter linhas a mais");
    else if (std::u16string texto(total); soma && ValorNoFormato(texto)) {
        texto[texto.find(u'.')] = u',';
        if (const int64_t anunciado = CentavosDoTexto(texto); anunciado != *soma)
            achar(linhas, Gravidade::Suspeita, TipoAchado::TotalDoRodape,
                  "o rodapé anuncia o total de R$ " + ReaisLegiveis(anunciado) + " (" +
                      Posicoes(retorno::RodTotal) + "), e as parcelas do arquivo somam R$ " +
                      ReaisLegiveis(*soma) + ": alguma linha pode estar deslocada ou alterada");
    }

    std::map<Parcela, size_t> vistas;  // of the lines that may repeat
    std::vector<CitaCadastro> citacoes;
    size_t comCadastro = 0, cpfsDiferentes = 0, semServidor = 0;
    arquivo.Percorrer([&](size_t n, std::u16string_view linha) {
        if (n == 1 || n == linhas) return;
        ++v.detalhes;
        if (linha.size() != v.comprimentoUsual)
            achar(n, Gravidade::Suspeita, TipoAchado::Comprimento,
                  "a linha tem " + std::to_string(linha.size()) + " caracteres, e as demais " +
                      std::to_string(v.comprimentoUsual) + ": os campos podem estar deslocados");
        const std::u16string chave = ChaveServidor(linha);
        const auto indice = tabela.Indice(chave);
        if (!indice) arquivo.Mudou();
        if (const Parcela parcela = ParcelaDa(linha);
            std::binary_search(repetidas.begin(), repetidas.end(), Impressao(parcela))) {
            const auto [repetida, nova] = vistas.try_emplace(parcela, n);
            if (!nova)
                achar(n, Gravidade::Suspeita, TipoAchado::Repetida,
                      "a mesma parcela da linha " + std::to_string(repetida->second) +
                          " (servidor " + ParaMensagem(chave) +
                          ", código, valor e parcela iguais): seria descontada duas vezes");
        }
        if (const auto lancamento = LancamentoDaLinha(linha)) {
            const auto ja =
                std::lower_bound(lancadas.begin(), lancadas.end(), Lancada{*lancamento, 0, 0});
            if (ja != lancadas.end() && ja->impressao == *lancamento &&
                !(v.anterior && v.anterior->id == ja->importacao)) {
                const std::string id = std::to_string(ja->importacao);
                achar(n, Gravidade::Impede, TipoAchado::JaLancada,
                      "a mesma parcela (servidor " + ParaMensagem(chave) +
                          ", código, valor e contadores iguais) já foi lançada nesta tabela pela "
                          "importação " +
                          id + ", linha " + std::to_string(ja->linha) +
                          " do arquivo dela, que não foi estornada: seria descontada duas vezes. "
                          "Estorne antes a importação " +
                          id + " (kavlo estornar --importacao " + id +
                          ") ou, se a intenção é lançá-la de novo, use kavlo importar "
                          "--reimportar",
                      chave);
            }
        }
        const std::u16string_view valor = LerCampo(linha, retorno::Parcela);
        if (!ValorNoFormato(valor))
            achar(
                n, Gravidade::Suspeita, TipoAchado::FormatoDoValor,
                "o valor da parcela " + Aspas(valor) + " (" + Posicoes(retorno::Parcela) +
                    ") não está escrito só com algarismos e um ponto antes dos centavos: a "
                    "importação o leria como R$ " +
                    [&] {
                        try {
                            return ReaisLegiveis(LerParcelaCentavos(linha));
                        } catch (const Erro&) {
                            return std::string("(valor inválido)");
                        }
                    }() +
                    ", o que pode não ser o valor que a consignatária quis dizer",
                chave);
        try {
            if (LerParcelaCentavos(linha) == 0)
                achar(n, Gravidade::Suspeita, TipoAchado::ValorZero,
                      "parcela de valor zero (" + Aspas(valor) + ", servidor " +
                          ParaMensagem(chave) +
                          "): ocuparia um slot de desconto sem descontar "
                          "nada",
                      chave);
        } catch (const Erro&) {
        }
        for (const Posicao p : {retorno::ContadorPerc, retorno::ContadorQuant}) try {
                if (LerContador(linha, p) < 0)
                    achar(n, Gravidade::Suspeita, TipoAchado::ContadorNegativo,
                          "contador de parcelas negativo " + Aspas(LerCampo(linha, p)) + " (" +
                              Posicoes(p) + ", servidor " + ParaMensagem(chave) + ")",
                          chave);
            } catch (const Erro&) {
            }

        if (cadastro && cadastro->Tem(*indice)) {
            ++comCadastro;
            const std::u16string_view cpfArquivo = LerCampo(linha, retorno::Cpf);
            const std::u16string_view nomeArquivo = LerCampo(linha, retorno::Nome);
            const bool cpf = cadastro->CpfDifere(*indice, cpfArquivo);
            const bool nome = cadastro->NomeDifere(*indice, nomeArquivo);
            cpfsDiferentes += cpf;
            if (cpf || nome) citacoes.push_back({v.achados.size(), *indice, cpf, nome});
            if (cpf && nome)
                achar(n, Gravidade::Impede, TipoAchado::OutraPessoa,
                      "o CPF " + Aspas(cpfArquivo) + " e o nome " + Aspas(Aparar(nomeArquivo)) +
                          " não são os do servidor " + ParaMensagem(chave) +
                          ": a parcela é de outra pessoa, ou os campos da linha estão deslocados, "
                          "e a importação recusa o arquivo (na folha, ",
                      chave);
            else if (cpf)
                achar(n, Gravidade::Suspeita, TipoAchado::Cpf,
                      "o CPF " + Aspas(cpfArquivo) + " (" + Posicoes(retorno::Cpf) +
                          ") não é o do servidor " + ParaMensagem(chave) + " na folha (",
                      chave);
            else if (nome)
                achar(n, Gravidade::Suspeita, TipoAchado::Nome,
                      "o nome " + Aspas(Aparar(nomeArquivo)) + " difere do nome do servidor " +
                          ParaMensagem(chave) + " na folha (",
                      chave);
        }

        if (tabela.EstadoDe(*indice) != TabelaDeducao::Estado::Ativa) {
            const bool inativa = tabela.EstadoDe(*indice) == TabelaDeducao::Estado::Inativa;
            ++(inativa ? v.inativas : v.naoEncontradas);
            ++semServidor;
            achar(n, Gravidade::Aviso, inativa ? TipoAchado::Inativa : TipoAchado::NaoEncontrada,
                  "servidor " + ParaMensagem(chave) +
                      (inativa ? " sem linha ativa na folha do mês: a parcela será ignorada"
                               : " não encontrado na folha do mês: a parcela será ignorada"),
                  chave);
            return;
        }
        // What the import would do with it, against the margin the earlier lines leave.
        LinhaDeducao& row = tabela.Linha(*indice);
        try {
            const Avaliacao a = Avaliar(row, linha, pedido.estrito);
            if (a.dados) {
                Ocupar(row, a.slot, a.desfecho.novaMargem);
                ++v.descontadas;
                v.totalCentavos += a.desfecho.descontado;
            }
            v.naoDescontadas += a.desfecho.resultado == Resultado::NaoDescontado;
            v.semSlot += a.desfecho.resultado == Resultado::SemSlot;
        } catch (const Erro& e) {
            achar(n, Gravidade::Impede, TipoAchado::Valor,
                  std::string(e.what()) + " (servidor " + ParaMensagem(chave) + ")", chave);
        }
    });

    // The payroll's texts the findings quote, from the same rows in the same snapshot.
    if (!citacoes.empty()) {
        std::vector<uint32_t> quais;
        for (const CitaCadastro& c : citacoes) quais.push_back(c.indice);
        auto textos = cadastro->Textos(std::move(quais));
        for (const CitaCadastro& cita : citacoes) {
            const auto& [nome, cpf] = textos[cita.indice];
            std::string& texto = v.achados[cita.achado].texto;
            if (cita.cpf && cita.nome)
                texto += "CPF " + Aspas(cpf) + " e nome " + Aspas(Aparar(nome)) + ")";
            else
                texto += ParaMensagem(cita.cpf ? cpf : nome) + ")";
        }
    }

    // A file whose lines mostly name other people, or nobody, is not this payroll's file, or its
    // fields are not where they should be.
    if (comCadastro > 0 && cpfsDiferentes * 2 > comCadastro)
        achar(0, Gravidade::Suspeita, TipoAchado::CpfMaioria,
              std::to_string(cpfsDiferentes) + " de " + std::to_string(comCadastro) +
                  " linhas trazem um CPF que não é o do servidor da matrícula: os campos podem "
                  "estar deslocados, e as parcelas iriam para outras pessoas");
    if (v.detalhes > 0 && semServidor * 2 > v.detalhes)
        achar(0, Gravidade::Suspeita, TipoAchado::MaioriaSemServidor,
              std::to_string(semServidor) + " de " + std::to_string(v.detalhes) +
                  " linhas não correspondem a servidores ativos da folha do mês: é mesmo o "
                  "arquivo de retorno deste mês, no leiaute esperado?");
    std::stable_sort(v.achados.begin(), v.achados.end(), [](const Achado& a, const Achado& b) {
        return std::tie(a.gravidade, a.linha) < std::tie(b.gravidade, b.linha);
    });
    if (lido) lido->emplace(std::move(arquivo));
    return v;
}

}  // namespace kavlo
