#include "import/Verificacao.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "import/ArquivoRetorno.h"
#include "import/CadastroServidores.h"
#include "import/Lancamento.h"
#include "import/PassagemDoRetorno.h"
#include "import/TabelaDeducao.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Erros.h"
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

// A finding that quotes the payroll's CPF, name or both, completed once the texts are read again.
struct CitaCadastro {
    size_t achado;
    uint32_t indice;
    size_t linha;
    bool cpf, nome;
};

// The month asked for and its deduction table.
struct MesPedido {
    int32_t mes, ano;
    std::u16string sufixo, tabela;
};

MesPedido LerMes(const PedidoVerificacao& pedido) {
    const int32_t mes = StrToInt(pedido.mes);
    const std::u16string sufixo = MesAbreviado(mes);
    if (sufixo.empty())
        throw ErroConversao("Mês '" + ParaMensagem(pedido.mes) +
                            "' inválido: informe o número do mês, de 1 a 12");
    const int32_t ano = StrToInt(pedido.ano);
    return {mes, ano, sufixo, u"SFPDXX02" + sufixo};
}

// The month's payroll as the checks need it, in one snapshot: the deduction rows of the servants
// the file names, their registration when it reads, and the postings of the imports not undone.
// The registration that does not read and the same file imported before are findings.
struct Folha {
    fb::Transacao t;
    TabelaDeducao tabela;
    std::optional<CadastroServidores> cadastro;
    std::vector<Lancada> lancadas;

    Folha(fb::Conexao& conexao, const MesPedido& m, const ArquivoDeRetorno& arquivo,
          const std::u16string& retorno, Verificacao& v)
        : t(conexao, fb::ModoTransacao::Leitura), tabela(t, m.tabela, arquivo.Chaves()) {
        try {
            cadastro.emplace(t, u"SFP001" + m.sufixo, arquivo.Chaves());
        } catch (const ErroBanco& e) {
            Achar(v, 0, Gravidade::Aviso, TipoAchado::CadastroIlegivel,
                  "o cadastro do mês (SFP001" + ParaUtf8(m.sufixo) +
                      ") não pôde ser lido, e CPFs e nomes não foram conferidos: " + e.what());
        }
        if (DiarioExiste(t)) {
            v.anterior =
                ImportacaoDoMesmoArquivo(t, arquivo.HashConteudo(), arquivo.Hash(), m.tabela);
            lancadas = LancadasNaTabela(t, m.tabela, arquivo.Chaves());
        }
        if (v.anterior)
            Achar(v, 0, Gravidade::Impede, TipoAchado::JaImportado,
                  JaImportado(*v.anterior, retorno));
    }
};

// The instalment lines held against the payroll, one at a time in file order.
class Conferencia {
  public:
    Conferencia(Verificacao& v, PassagemDoRetorno& p, Folha& folha, bool estrito)
        : v_(v),
          p_(p),
          folha_(folha),
          estrito_(estrito),
          repeticao_(p.repeticoes.begin()),
          doArquivo_(p.daLinha.begin()) {}

    void Linha(size_t n, const DetalheLido& d) {
        ++v_.detalhes;
        const std::u16string chave = d.Chave();
        AcharPelaLinha(n, d, chave);
        const auto indice = folha_.tabela.Indice(chave);
        if (!indice) p_.arquivo->Mudou();
        if (folha_.cadastro && folha_.cadastro->Tem(*indice))
            ConferirCadastro(n, d, chave, *indice);
        if (folha_.tabela.EstadoDe(*indice) != TabelaDeducao::Estado::Ativa)
            AcharSemServidor(n, chave, *indice);
        else
            Lancar(n, d, chave, *indice);
    }

    size_t comCadastro = 0, cpfsDiferentes = 0, semServidor = 0;
    std::vector<CitaCadastro> citacoes;

  private:
    // What the line shows by itself or beside the others: its length, a repeat, an instalment
    // already posted.
    void AcharPelaLinha(size_t n, const DetalheLido& d, const std::u16string& chave) {
        if (d.comprimento != v_.comprimentoUsual)
            Achar(v_, n, Gravidade::Suspeita, TipoAchado::Comprimento,
                  "a linha tem " + std::to_string(d.comprimento) + " caracteres, e as demais " +
                      std::to_string(v_.comprimentoUsual) + ": os campos podem estar deslocados");
        if (repeticao_ != p_.repeticoes.end() && repeticao_->first == n) {
            Achar(v_, n, Gravidade::Suspeita, TipoAchado::Repetida,
                  "a mesma parcela da linha " + std::to_string(repeticao_->second) + " (servidor " +
                      ParaMensagem(chave) +
                      ", código, valor e parcela iguais): seria descontada duas vezes");
            ++repeticao_;
        }
        if (d.temLancamento) AcharJaLancada(n, d.lancamento, chave);
        for (; doArquivo_ != p_.daLinha.end() && doArquivo_->linha == n; ++doArquivo_)
            v_.achados.push_back(std::move(*doArquivo_));
    }

    void AcharJaLancada(size_t n, uint64_t lancamento, const std::u16string& chave) {
        const auto& lancadas = folha_.lancadas;
        const auto ja =
            std::lower_bound(lancadas.begin(), lancadas.end(), Lancada{lancamento, 0, 0});
        if (ja == lancadas.end() || ja->impressao != lancamento ||
            (v_.anterior && v_.anterior->id == ja->importacao))
            return;
        const std::string id = std::to_string(ja->importacao);
        Achar(v_, n, Gravidade::Impede, TipoAchado::JaLancada,
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

    // The file's CPF and name against the payroll's; the texts are quoted once the lines that
    // need them are read again.
    void ConferirCadastro(size_t n, const DetalheLido& d, const std::u16string& chave,
                          uint32_t indice) {
        ++comCadastro;
        const bool cpf = folha_.cadastro->CpfDifere(indice, d.pessoa);
        const bool nome = folha_.cadastro->NomeDifere(indice, d.pessoa);
        cpfsDiferentes += cpf;
        if (cpf || nome) citacoes.push_back({v_.achados.size(), indice, n, cpf, nome});
        if (cpf && nome)
            Achar(v_, n, Gravidade::Impede, TipoAchado::OutraPessoa, "", chave);
        else if (cpf)
            Achar(v_, n, Gravidade::Suspeita, TipoAchado::Cpf, "", chave);
        else if (nome)
            Achar(v_, n, Gravidade::Suspeita, TipoAchado::Nome, "", chave);
    }

    void AcharSemServidor(size_t n, const std::u16string& chave, uint32_t indice) {
        const bool inativa = folha_.tabela.EstadoDe(indice) == TabelaDeducao::Estado::Inativa;
        ++(inativa ? v_.inativas : v_.naoEncontradas);
        ++semServidor;
        Achar(v_, n, Gravidade::Aviso, inativa ? TipoAchado::Inativa : TipoAchado::NaoEncontrada,
              "servidor " + ParaMensagem(chave) +
                  (inativa ? " sem linha ativa na folha do mês: a parcela será ignorada"
                           : " não encontrado na folha do mês: a parcela será ignorada"),
              chave);
    }

    // What the import would do with it, against the margin the earlier lines leave.
    void Lancar(size_t n, const DetalheLido& d, const std::u16string& chave, uint32_t indice) {
        LinhaDeducao& row = folha_.tabela.Linha(indice);
        const auto valor = [&](uint32_t erro) {
            Achar(v_, n, Gravidade::Impede, TipoAchado::Valor,
                  p_.erros[erro] + " (servidor " + ParaMensagem(chave) + ")", chave);
        };
        if (d.erroParcela != DetalheLido::kSemErro) return valor(d.erroParcela);
        const Avaliacao a = Avaliar(row, d.parcela, estrito_);
        if (Lancado(a.desfecho.resultado)) {
            if (d.erroDados != DetalheLido::kSemErro) return valor(d.erroDados);
            Ocupar(row, a.slot, a.desfecho.novaMargem);
            ++v_.descontadas;
            v_.totalCentavos += a.desfecho.descontado;
        }
        v_.naoDescontadas += a.desfecho.resultado == Resultado::NaoDescontado;
        v_.semSlot += a.desfecho.resultado == Resultado::SemSlot;
    }

    Verificacao& v_;
    PassagemDoRetorno& p_;
    Folha& folha_;
    bool estrito_;
    std::vector<std::pair<uint32_t, uint32_t>>::const_iterator repeticao_;
    std::vector<Achado>::iterator doArquivo_;
};

// The file's CPFs and names the findings quote: only when there are any is the file read again,
// for those lines alone (failing if its bytes are no longer those read first). Then the payroll's
// texts, from the same rows in the same snapshot.
void Citar(Verificacao& v, ArquivoDeRetorno& arquivo, CadastroServidores& cadastro,
           const std::vector<CitaCadastro>& citacoes) {
    if (citacoes.empty()) return;
    auto cita = citacoes.begin();
    arquivo.Percorrer([&](size_t n, std::u16string_view linha) {
        for (; cita != citacoes.end() && cita->linha == n; ++cita) {
            Achado& achado = v.achados[cita->achado];
            const std::u16string_view cpfArquivo = LerCampo(linha, retorno::Cpf);
            const std::u16string_view nomeArquivo = LerCampo(linha, retorno::Nome);
            const std::string chave = ParaMensagem(achado.chave);
            if (cita->cpf && cita->nome)
                achado.texto = "o CPF " + Aspas(cpfArquivo) + " e o nome " +
                               Aspas(Aparar(nomeArquivo)) + " não são os do servidor " + chave +
                               ": a parcela é de outra pessoa, ou os campos da linha estão "
                               "deslocados, e a importação recusa o arquivo (na folha, ";
            else if (cita->cpf)
                achado.texto = "o CPF " + Aspas(cpfArquivo) + " (" + Posicoes(retorno::Cpf) +
                               ") não é o do servidor " + chave + " na folha (";
            else
                achado.texto = "o nome " + Aspas(Aparar(nomeArquivo)) +
                               " difere do nome do servidor " + chave + " na folha (";
        }
    });
    std::vector<uint32_t> quais;
    for (const CitaCadastro& c : citacoes) quais.push_back(c.indice);
    auto textos = cadastro.Textos(std::move(quais));
    for (const CitaCadastro& c : citacoes) {
        const auto& [nome, cpf] = textos[c.indice];
        std::string& texto = v.achados[c.achado].texto;
        if (c.cpf && c.nome)
            texto += "CPF " + Aspas(cpf) + " e nome " + Aspas(Aparar(nome)) + ")";
        else
            texto += ParaMensagem(c.cpf ? cpf : nome) + ")";
    }
}

// A file whose lines mostly name other people, or nobody, is not this payroll's file, or its
// fields are not where they should be.
void AcharMaiorias(Verificacao& v, const Conferencia& c) {
    if (c.comCadastro > 0 && c.cpfsDiferentes * 2 > c.comCadastro)
        Achar(v, 0, Gravidade::Suspeita, TipoAchado::CpfMaioria,
              std::to_string(c.cpfsDiferentes) + " de " + std::to_string(c.comCadastro) +
                  " linhas trazem um CPF que não é o do servidor da matrícula: os campos podem "
                  "estar deslocados, e as parcelas iriam para outras pessoas");
    if (v.detalhes > 0 && c.semServidor * 2 > v.detalhes)
        Achar(v, 0, Gravidade::Suspeita, TipoAchado::MaioriaSemServidor,
              std::to_string(c.semServidor) + " de " + std::to_string(v.detalhes) +
                  " linhas não correspondem a servidores ativos da folha do mês: é mesmo o "
                  "arquivo de retorno deste mês, no leiaute esperado?");
}

// Another file altogether (Margem.txt, a report, another layout): one finding says so, instead
// of every line's shifted fields, unknown servants and amounts that are no number.
void AcharOutroArquivo(Verificacao& v, const PassagemDoRetorno& p) {
    if (v.detalhes == 0 || p.foraDoLeiaute * 2 <= v.detalhes) return;
    std::erase_if(v.achados, [](const Achado& a) {
        return a.tipo != TipoAchado::JaImportado && a.tipo != TipoAchado::CadastroIlegivel &&
               a.tipo != TipoAchado::Codificacao;
    });
    const std::vector<size_t>& exemplos = p.exemplosForaDoLeiaute;
    std::string lista;
    for (size_t i = 0; i < exemplos.size(); ++i)
        lista += (i == 0                     ? ""
                  : i + 1 == exemplos.size() ? " e "
                                             : ", ") +
                 std::to_string(exemplos[i]);
    Achar(v, 0, Gravidade::Impede, TipoAchado::NaoERetorno,
          "não parece um arquivo de retorno: " + std::to_string(p.foraDoLeiaute) + " de " +
              std::to_string(v.detalhes) +
              " linhas de parcela não seguem o leiaute (são curtas demais para os campos, que "
              "vão até a posição " +
              std::to_string(kFimDosCampos) + ", ou o valor da parcela, nas " +
              Posicoes(retorno::Parcela) + ", não é um número), por exemplo " +
              (exemplos.size() == 1 ? "a linha " : "as linhas ") + lista +
              ". Confira se é o arquivo de retorno que a consignatária enviou para este mês, "
              "e não outro arquivo; a importação o recusa.");
}

// Gravest first, then by line; findings of one line in the order they were found.
void Ordenar(Verificacao& v) {
    std::stable_sort(v.achados.begin(), v.achados.end(), [](const Achado& a, const Achado& b) {
        return std::tie(a.gravidade, a.linha) < std::tie(b.gravidade, b.linha);
    });
}

}  // namespace

Verificacao VerificarRetorno(fb::Conexao& conexao, const PedidoVerificacao& pedido,
                             std::optional<ArquivoDeRetorno>* lido) {
    const MesPedido m = LerMes(pedido);
    Verificacao v;
    PassagemDoRetorno p = PercorrerRetorno(CaminhoDe(pedido.retorno));
    ArquivoDeRetorno& arquivo = *p.arquivo;
    v.linhas = arquivo.Linhas();
    AcharCodificacao(v, p.linhaUtf8);
    Folha folha(conexao, m, arquivo, pedido.retorno, v);
    const auto entregar = [&] {
        if (lido) lido->emplace(std::move(arquivo));
    };
    if (AcharVazio(v, arquivo.Linhas())) {
        entregar();
        return v;
    }
    AcharNoArquivo(v, p, m.mes, m.ano);

    Conferencia conferencia(v, p, folha, pedido.estrito);
    for (size_t i = 0; i < p.lidos.size(); ++i) conferencia.Linha(i + 2, p.lidos[i]);
    std::vector<DetalheLido>().swap(p.lidos);
    if (folha.cadastro) Citar(v, arquivo, *folha.cadastro, conferencia.citacoes);
    AcharMaiorias(v, conferencia);
    AcharOutroArquivo(v, p);
    Ordenar(v);
    entregar();
    return v;
}

}  // namespace kavlo
