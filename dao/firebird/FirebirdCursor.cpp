// The cursor: what it owns (an open result set and the row it fetched) and how a value of the row
// is read as text, number or date.
#include <firebird/Interface.h>
#include <ibase.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "dao/firebird/Firebird.h"
#include "dao/firebird/FirebirdInterno.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"

namespace kavlo::fb {

using namespace Firebird;

namespace {

double Potencia10(int escala) {
    return std::pow(10.0, escala);
}

// A byte per code unit: Latin-1, and octets shown as they are.
std::u16string PorByte(std::string_view bytes) {
    std::u16string r(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) r[i] = static_cast<unsigned char>(bytes[i]);
    return r;
}

}  // namespace

Cursor::Cursor(Comando& comando, Posse<IResultSet> resultado)
    : comando_(&comando), resultado_(std::move(resultado)), buffer_(comando.tamanhoSaida_, 0) {}

void Cursor::Fechar() {
    resultado_.reset();
    temLinha_ = false;
}

bool Cursor::Proximo() {
    if (!resultado_) return false;
    Status st(*comando_);
    const int r = resultado_->fetchNext(&st, buffer_.data());
    temLinha_ = r == IStatus::RESULT_OK;
    return temLinha_;
}

std::optional<unsigned> Cursor::IndiceSeHouver(std::string_view nome) const {
    auto it = comando_->porNome_.find(Maiusculas(nome));
    if (it == comando_->porNome_.end()) return std::nullopt;
    return it->second;
}

unsigned Cursor::Indice(std::string_view nome) const {
    if (auto i = IndiceSeHouver(nome)) return *i;
    comando_->Falhar("a coluna '" + std::string(nome) + "' não existe no resultado");
}

void Cursor::ConferirColunas(size_t esperadas) const {
    if (esperadas != Colunas())
        comando_->Falhar("o comando devolve " + std::to_string(Colunas()) +
                         " coluna(s), e a leitura da linha espera " + std::to_string(esperadas));
}

const Cursor::Coluna& Cursor::Col(unsigned i) const {
    if (!temLinha_)
        throw ErroBanco("Erro interno ao " + comando_->OQue() + ": leitura sem linha corrente.");
    return comando_->colunas_.at(i);
}

bool Cursor::Nulo(unsigned i) const {
    const Coluna& c = Col(i);
    return Ler<short>(buffer_.data() + c.offsetNulo) != 0;
}

std::string_view Cursor::ValorTexto(const Coluna& c) const {
    const unsigned char* v = buffer_.data() + c.offset;
    if (c.tipo == SQL_VARYING) return {reinterpret_cast<const char*>(v + 2), Ler<uint16_t>(v)};
    return {reinterpret_cast<const char*>(v), c.tamanho};
}

std::string Cursor::Descrever(const Coluna& c) const {
    return "a coluna '" + c.nome + "'";
}

bool Cursor::TextoVazio(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return true;
    if (c.tipo != SQL_TEXT && c.tipo != SQL_VARYING) return Texto(i).empty();
    const std::string_view s = ValorTexto(c);
    return c.tipo == SQL_TEXT && c.leitura != Comando::Leitura::Octetos
               ? s.find_first_not_of(' ') == std::string_view::npos
               : s.empty();
}

std::string Cursor::Bytes(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return {};
    if (c.tipo != SQL_TEXT && c.tipo != SQL_VARYING)
        throw ErroBanco("Erro interno ao " + comando_->OQue() + ": " + Descrever(c) +
                        " não é texto.");
    return std::string(ValorTexto(c));
}

std::u16string Cursor::TextoDaColuna(unsigned i, bool compor) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return {};
    const unsigned char* v = buffer_.data() + c.offset;
    switch (c.tipo) {
        case SQL_TEXT:
        case SQL_VARYING: {
            std::string_view s = ValorTexto(c);
            if (c.leitura == Comando::Leitura::Octetos) return PorByte(s);
            // A CHAR column comes padded with blanks to its width; the payroll application reads
            // it without them, and so does this library (an empty code in CHAR(2) is empty).
            if (c.tipo == SQL_TEXT) s = s.substr(0, s.find_last_not_of(' ') + 1);
            // Unicode columns may hold a letter and its accents apart (E + U+0301, as text
            // pasted from elsewhere comes); they are composed here, so that every width and
            // comparison counts what a person sees. Windows-1252 and Latin-1 have no such forms.
            switch (c.leitura) {
                case Comando::Leitura::Windows1252:
                    return DeWindows1252(s);
                case Comando::Leitura::Utf8:
                    return compor ? Compor(DeUtf8(s)) : DeUtf8(s);
                case Comando::Leitura::UnicodeFss:
                    return compor ? Compor(DeUtf8OuCesu8(s)) : DeUtf8OuCesu8(s);
                default:
                    return PorByte(s);
            }
        }
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            if (c.escala == 0) {
                const int64_t n = c.tipo == SQL_SHORT  ? Ler<int16_t>(v)
                                  : c.tipo == SQL_LONG ? Ler<int32_t>(v)
                                                       : Ler<int64_t>(v);
                const std::string s = std::to_string(n);
                return std::u16string(s.begin(), s.end());
            }
            return FormatarGeral(Real(i));
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return FormatarGeral(Real(i));
        case SQL_TIMESTAMP:
        case SQL_TYPE_DATE: {
            const TDateTime d = Data(i);
            std::u16string s = FormatarData(d, u"dd/mm/yyyy");
            const double fracao = d - std::floor(d);
            if (fracao > 0) {
                const auto segundos = static_cast<int>(std::llround(fracao * 86400.0));
                char buf[16];
                std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", segundos / 3600 % 24,
                              segundos / 60 % 60, segundos % 60);
                s += DeUtf8(buf);
            }
            return s;
        }
        case SQL_BOOLEAN:
            return *v ? u"True" : u"False";
        default:
            throw ErroBanco("Erro ao " + comando_->OQue() + ": " + Descrever(c) +
                            " tem um tipo que não pode ser lido como texto.");
    }
}

double Cursor::Real(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return 0;
    const unsigned char* v = buffer_.data() + c.offset;
    switch (c.tipo) {
        case SQL_SHORT:
            return Ler<int16_t>(v) * Potencia10(c.escala);
        case SQL_LONG:
            return Ler<int32_t>(v) * Potencia10(c.escala);
        case SQL_INT64:
            return static_cast<double>(Ler<int64_t>(v)) * Potencia10(c.escala);
        case SQL_FLOAT:
            return Ler<float>(v);
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return Ler<double>(v);
        case SQL_TIMESTAMP:
        case SQL_TYPE_DATE:
            return Data(i);
        case SQL_TEXT:
        case SQL_VARYING:
            return StrToFloat(Texto(i));
        default:
            throw ErroBanco("Erro ao " + comando_->OQue() + ": " + Descrever(c) +
                            " não pode ser lida como número.");
    }
}

int32_t Cursor::Inteiro(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return 0;
    if (c.tipo == SQL_TEXT || c.tipo == SQL_VARYING) return StrToInt(Texto(i));
    const double r = std::round(Real(i));
    if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
        throw ErroConversao("Erro ao " + comando_->OQue() + ": " + Descrever(c) +
                            " excede o limite de um inteiro de 32 bits.");
    return static_cast<int32_t>(r);
}

int64_t Cursor::Inteiro64(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return 0;
    const unsigned char* v = buffer_.data() + c.offset;
    if (c.tipo == SQL_TEXT || c.tipo == SQL_VARYING) return StrToInt64(Texto(i));
    // Exact where the column holds an integer: a double keeps only 53 bits.
    if (c.escala == 0 && c.tipo == SQL_INT64) return Ler<int64_t>(v);
    if (c.escala == 0 && c.tipo == SQL_LONG) return Ler<int32_t>(v);
    if (c.escala == 0 && c.tipo == SQL_SHORT) return Ler<int16_t>(v);
    const double r = std::round(Real(i));
    constexpr double kLimite = 9223372036854775808.0;  // 2^63
    if (!(r >= -kLimite && r < kLimite))               // a NaN too
        throw ErroConversao("Erro ao " + comando_->OQue() + ": " + Descrever(c) +
                            " excede o limite de um inteiro de 64 bits.");
    return static_cast<int64_t>(r);
}

TDateTime Cursor::Data(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return 0;
    const unsigned char* v = buffer_.data() + c.offset;
    switch (c.tipo) {
        case SQL_TIMESTAMP:
            return DeDataFirebird(Ler<int32_t>(v), Ler<uint32_t>(v + 4));
        case SQL_TYPE_DATE:
            return DeDataFirebird(Ler<int32_t>(v), 0);
        case SQL_TYPE_TIME:
            return DeDataFirebird(15018, Ler<uint32_t>(v));
        case SQL_TEXT:
        case SQL_VARYING:
            return LerData(Texto(i));
        default:
            return Real(i);
    }
}

}  // namespace kavlo::fb
