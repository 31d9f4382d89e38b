#include "demonstracao/RetornoDemo.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

#include "demonstracao/Referencias.h"
#include "import/ArquivoRetorno.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Layout.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo::demo {
namespace {

// Every line, the header and the trailer too, is as wide as an instalment line.
constexpr size_t kLarguraLinha = static_cast<size_t>(std::end(retorno::Detalhe)[-1].posicao.Fim());

// `valor` as it goes into field `campo`; a value of another width is a fault of this builder.
const std::u16string& DaLargura(const std::u16string& valor, std::string_view campo, Posicao p) {
    if (static_cast<int>(valor.size()) != p.largura)
        throw Erro("Erro interno do banco de demonstração: o campo " + std::string(campo) +
                   " do retorno (" + Posicoes(p) + ") recebeu " + Aspas(valor) +
                   ", de largura diferente de " + std::to_string(p.largura) + ".");
    return valor;
}

// A line of a return layout: the values in the table's order, each put in its field's place. The
// header's fields overlap (the date lies over the reference month's last digit), so the order
// counts.
template <class Campo, size_t N>
std::u16string Linha(const Campo (&campos)[N], const std::array<std::u16string, N>& valores) {
    std::u16string linha(kLarguraLinha, u' ');
    for (size_t k = 0; k < N; ++k) {
        const Posicao p = campos[k].posicao;
        linha.replace(static_cast<size_t>(p.inicio - 1), static_cast<size_t>(p.largura),
                      DaLargura(valores[k], campos[k].nome, p));
    }
    return linha;
}

std::u16string LinhaCabecalho(const Competencia& c) {
    return Linha(retorno::Cabecalho,
                 {u"H", AjustaTexto(kEmpregador, retorno::CabTexto.largura),
                  AjustaTexto(u"RETORNO", retorno::CabLayout.largura),
                  FormatarData(c.inicio, u"mmyyyy"), FormatarData(c.inicio - 10, u"ddmmyyyy")});
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
    p.consignataria = &s.Pesado(Escolhas(kConsignatarias));
    p.quant = s.Um(Escolhas(kPrazos));
    p.perc = s.Entre(1, p.quant);
    p.contrato = s.Entre64(10000000, 99999999);
    p.proposta = s.Entre(100000, 999999);
    p.dataContrato = c.inicio - (p.perc - 1) * 30 - s.Entre(1, 25);
    return p;
}

std::u16string LinhaDetalhe(const Parcela& p) {
    const Consignataria& k = *p.consignataria;
    return Linha(
        retorno::Detalhe,
        {u"D", AjustaTexto(p.nome, retorno::Nome.largura), p.cpf, u"00000000" + p.numero + p.digito,
         FormatarZeros(p.contrato, retorno::Contrato.largura),
         FormatarZeros(p.proposta, retorno::Proposta.largura),
         Espacos(retorno::Reservado82.largura),
         std::u16string(k.codigo) + FormatarZeros(k.banco, 6),
         AjustaTexto(k.nome, retorno::Consignataria.largura),
         ValorNoCampo(p.centavos, retorno::Parcela),
         ValorNoCampo(p.centavos * p.quant, retorno::ValorTotal),
         FormatarZeros(p.perc, retorno::ContadorPerc.largura),
         FormatarZeros(p.quant, retorno::ContadorQuant.largura),
         Espacos(retorno::Reservado176.largura), FormatarData(p.dataContrato, u"ddmmyyyy"),
         Espacos(retorno::Reservado198.largura)});
}

}  // namespace

RetornoDemo::RetornoDemo(uint32_t semente, const Competencia& c, int servidores)
    : semente_(semente),
      c_(c),
      servidores_(servidores),
      desconhecidos_(semente, kFluxoDesconhecidos, 0) {}

std::u16string RetornoDemo::Cabecalho() const {
    return LinhaCabecalho(c_);
}

void RetornoDemo::Detalhes(const Servidor& v, std::vector<std::u16string>& linhas) {
    auto detalhe = [&](const Parcela& p) {
        linhas.push_back(LinhaDetalhe(p));
        total_ += p.centavos;
        ++detalhes;
    };
    Sorteio s(semente_, kFluxoRetorno, static_cast<uint64_t>(v.indice));
    if (v.ativo) {
        const bool primeira = v.indice == garantido::kSegundaParcela ||
                              v.indice == garantido::kMargemNegativa || s.Chance(0.6);
        if (primeira) {
            const Parcela umaParcela = SortearParcela(s, v, c_, s.Chance(0.12));
            detalhe(umaParcela);
            if (v.indice == garantido::kSegundaParcela ||
                s.Chance(1.0 / 6)) {  // about 10% of the actives
                // A second instalment is another loan: one that repeated the first (same party,
                // amount and counter) would be a repeated line, which stops an import's check.
                Parcela outra = SortearParcela(s, v, c_, false);
                while (outra.consignataria->codigo == umaParcela.consignataria->codigo &&
                       outra.centavos == umaParcela.centavos && outra.perc == umaParcela.perc)
                    outra = SortearParcela(s, v, c_, false);
                detalhe(outra);
            }
        }
    } else if (v.indice == garantido::kInativo || s.Chance(0.4)) {
        detalhe(SortearParcela(s, v, c_, false));
        ++inativos;
    }
    // Now and then a line the payroll cannot match: a mistyped check digit or a number it never
    // had.
    if (v.indice == 1 || desconhecidos_.Chance(0.004)) {
        Parcela p = SortearParcela(s, v, c_, false);
        auto digitoErrado = [](std::u16string_view certo) {
            return std::u16string(1, static_cast<char16_t>(u'0' + (certo[0] - u'0' + 1) % 10));
        };
        if (desconhecidos_.Chance(0.5) || v.indice == 1) {
            p.digito = digitoErrado(p.digito);
        } else {
            const int numero = desconhecidos_.Entre(990000, 999999);
            p.numero = FormatarZeros(numero, 6);
            p.nome = NomeComum(desconhecidos_, desconhecidos_.Chance(0.5));
            p.cpf = Cpf(semente_ + 1, desconhecidos_.Entre(0, 999999));
            // Near 1,000,000 servants every number is someone's: the check digit makes it unknown.
            const std::u16string matricula = MatriculaDe(numero);
            if (IndiceDaMatricula(semente_, numero) < servidores_ &&
                p.digito == matricula.substr(7))
                p.digito = digitoErrado(matricula.substr(7));
        }
        detalhe(p);
        ++desconhecidas;
    }
}

std::u16string RetornoDemo::Rodape() const {
    return Linha(retorno::Rodape,
                 {u"T", FormatarZeros(detalhes, retorno::RodQuantidade.largura),
                  Espacos(retorno::RodReservado.largura), ValorNoCampo(total_, retorno::RodTotal)});
}

}  // namespace kavlo::demo
