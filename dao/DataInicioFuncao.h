// The date that fills a margin record's end-of-function field: the DTINICIO of the servant's
// type '2' event registered for the payroll month (sfp017).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "dao/firebird/Firebird.h"
#include "util/Datas.h"

namespace kavlo {

// Reads the month's type '2' events once and answers per registration from memory, so a
// generation costs one query here however many servants it has. Year and month go in as
// parameters, compared by the database exactly as the texts the host passed.
class TDatasInicioFuncao {
  public:
    TDatasInicioFuncao(fb::Transacao& transacao, std::u16string_view ano, std::u16string_view mes);

    // The first DTINICIO the database delivered for the registration (trailing blanks do not
    // count, as in the database's own comparison); the zero date when there is none or it is null.
    TDateTime DataInicioFuncao(std::u16string_view matricula) const;

    size_t Quantidade() const { return FDatas.size(); }

  private:
    std::unordered_map<std::u16string, TDateTime> FDatas;
};

}  // namespace kavlo
