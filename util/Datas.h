// Dates as the payroll keeps them: days since 30/12/1899 (0 means "no date"), the fraction being
// the time of day. The Brazilian rules are built in and never taken from the process locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavlo {

using TDateTime = double;

struct DataCivil {
    int ano = 1899;
    int mes = 12;
    int dia = 30;
};

bool DataValida(int ano, int mes, int dia);

// Throws ErroConversao for a day that does not exist.
TDateTime CodificaData(int ano, int mes, int dia);
DataCivil DecodificaData(TDateTime data);

// Reads a day/month/year text with "/" as separator (day and month of one or two digits, year of
// four; blanks around it are ignored). Throws "'<texto>' is not a valid date".
TDateTime LerData(std::u16string_view texto);

// Formats with a mask of "dd", "mm", "yyyy", "hh" (hour) and "nn" (minute) tokens; every other
// character is copied.
std::u16string FormatarData(TDateTime data, std::u16string_view mascara);

// Day of the month of the last day of that month, time of day kept.
TDateTime UltimoDiaMes(TDateTime data);

// The current local date and time.
TDateTime Agora();

// Firebird keeps dates as days since 17/11/1858 and times in units of 1/10000 s.
TDateTime DeDataFirebird(int32_t dias, uint32_t fracoes);
void ParaDataFirebird(TDateTime data, int32_t& dias, uint32_t& fracoes);

}  // namespace kavlo
