#include "dao/DataInicioFuncao.h"

#include "util/Utils.h"

namespace kavlo {

TDatasInicioFuncao::TDatasInicioFuncao(fb::Transacao& transacao, std::u16string_view ano,
                                       std::u16string_view mes) {
    fb::Comando comando(transacao,
                        "select MATRICULA, DTINICIO from sfp017 where tipo = '2' and anoref = ? "
                        "and mesref = ?",
                        "ler as datas de início de função (sfp017)");
    fb::Cursor cursor = comando.Abrir({std::u16string(ano), std::u16string(mes)});
    while (cursor.Proximo()) {
        const auto [matricula, inicio] = cursor.Valores<std::optional<std::u16string>, fb::Data>();
        if (!matricula) continue;  // "matricula = ?" never matches a null
        // emplace keeps the first row of a registration, as a lookup of the first row would.
        FDatas.emplace(SemBrancosFinais(*matricula), inicio.valor);
    }
}

TDateTime TDatasInicioFuncao::DataInicioFuncao(std::u16string_view matricula) const {
    auto it = FDatas.find(std::u16string(SemBrancosFinais(matricula)));
    return it == FDatas.end() ? 0 : it->second;
}

}  // namespace kavlo
