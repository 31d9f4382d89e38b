#include "util/Datas.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "util/Codificacao.h"
#include "util/Erros.h"

namespace kavlo {
namespace {

constexpr int64_t kDias1970 = 25569;      // 30/12/1899 -> 01/01/1970
constexpr int64_t kDiasFirebird = 15018;  // 17/11/1858 -> 30/12/1899

// Days since 01/01/1970 of a civil date (proleptic Gregorian calendar).
int64_t DiasDeCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

DataCivil CivilDeDias(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

int DiasNoMes(int ano, int mes) {
    static constexpr int kDias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool bissexto = (ano % 4 == 0 && ano % 100 != 0) || ano % 400 == 0;
    return mes == 2 && bissexto ? 29 : kDias[mes - 1];
}

// Whole-day part of a date, counted toward zero as the payroll's runtime does.
int64_t ParteDia(TDateTime data) {
    return static_cast<int64_t>(std::trunc(data));
}

void Anexar(std::u16string& s, int valor, int digitos) {
    std::u16string d;
    bool negativo = valor < 0;
    auto v = static_cast<unsigned>(negativo ? -static_cast<int64_t>(valor) : valor);
    do {
        d.insert(d.begin(), static_cast<char16_t>(u'0' + v % 10));
        v /= 10;
    } while (v > 0);
    while (static_cast<int>(d.size()) < digitos) d.insert(d.begin(), u'0');
    if (negativo) s += u'-';
    s += d;
}

}  // namespace

bool DataValida(int ano, int mes, int dia) {
    return ano >= 1 && ano <= 9999 && mes >= 1 && mes <= 12 && dia >= 1 &&
           dia <= DiasNoMes(ano, mes);
}

TDateTime CodificaData(int ano, int mes, int dia) {
    if (!DataValida(ano, mes, dia))
        throw ErroConversao("data inválida: dia " + std::to_string(dia) + ", mês " +
                            std::to_string(mes) + ", ano " + std::to_string(ano));
    return static_cast<TDateTime>(
        DiasDeCivil(ano, static_cast<unsigned>(mes), static_cast<unsigned>(dia)) + kDias1970);
}

DataCivil DecodificaData(TDateTime data) {
    return CivilDeDias(ParteDia(data) - kDias1970);
}

TDateTime LerData(std::u16string_view texto) {
    auto falha = [&] { return ErroConversao(Aspas(texto) + " is not a valid date"); };
    size_t i = 0;
    auto pularBrancos = [&] {
        while (i < texto.size() && texto[i] == u' ') ++i;
    };
    auto numero = [&](size_t minimo, size_t maximo) {
        size_t inicio = i;
        int v = 0;
        while (i < texto.size() && texto[i] >= u'0' && texto[i] <= u'9' && i - inicio < maximo)
            v = v * 10 + (texto[i++] - u'0');
        if (i - inicio < minimo) throw falha();
        return v;
    };
    pularBrancos();
    const int dia = numero(1, 2);
    if (i >= texto.size() || texto[i++] != u'/') throw falha();
    const int mes = numero(1, 2);
    if (i >= texto.size() || texto[i++] != u'/') throw falha();
    const int ano = numero(4, 4);
    pularBrancos();
    if (i != texto.size() || !DataValida(ano, mes, dia)) throw falha();
    return CodificaData(ano, mes, dia);
}

std::u16string FormatarData(TDateTime data, std::u16string_view mascara) {
    const DataCivil c = DecodificaData(data);
    std::u16string r;
    for (size_t i = 0; i < mascara.size();) {
        auto sub = mascara.substr(i);
        if (sub.starts_with(u"yyyy")) {
            Anexar(r, c.ano, 4);
            i += 4;
        } else if (sub.starts_with(u"dd")) {
            Anexar(r, c.dia, 2);
            i += 2;
        } else if (sub.starts_with(u"mm")) {
            Anexar(r, c.mes, 2);
            i += 2;
        } else if (sub.starts_with(u"hh") || sub.starts_with(u"nn")) {
            const auto minutos = std::llround((data - std::floor(data)) * 1440.0);
            Anexar(r, static_cast<int>(sub[0] == u'h' ? minutos / 60 % 24 : minutos % 60), 2);
            i += 2;
        } else {
            r += mascara[i++];
        }
    }
    return r;
}

TDateTime UltimoDiaMes(TDateTime data) {
    const TDateTime t = data - DecodificaData(data).dia + 33;
    return t - DecodificaData(t).dia;
}

TDateTime Agora() {
    const std::time_t agora = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &agora);
#else
    localtime_r(&agora, &local);
#endif
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count() %
                    1000;
    const double segundos =
        local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ms / 1000.0;
    return CodificaData(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) + segundos / 86400.0;
}

TDateTime DeDataFirebird(int32_t dias, uint32_t fracoes) {
    return static_cast<TDateTime>(static_cast<int64_t>(dias) - kDiasFirebird) +
           fracoes / 864000000.0;
}

void ParaDataFirebird(TDateTime data, int32_t& dias, uint32_t& fracoes) {
    const double dia = std::floor(data);
    dias = static_cast<int32_t>(static_cast<int64_t>(dia) + kDiasFirebird);
    double f = std::round((data - dia) * 864000000.0);
    if (f >= 864000000.0) f = 863999999.0;
    fracoes = static_cast<uint32_t>(f);
}

}  // namespace kavlo
