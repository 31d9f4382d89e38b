#include "dao/Direitos.h"

#include <ibase.h>
#include <iberror.h>

#include <algorithm>

namespace kavlo {

std::string VerboDoDireito(std::string_view privilegio) {
    struct Verbo {
        std::string_view privilegio, verbo;
    };
    static constexpr Verbo kVerbos[] = {
        {"SELECT", "ler"},
        {"INSERT", "incluir linhas em"},
        {"UPDATE", "alterar"},
        {"DELETE", "excluir linhas de"},
        {"USAGE", "usar"},
        {"EXECUTE", "executar"},
        {"REFERENCES", "referenciar"},
    };
    std::string_view verbo = "usar";
    for (const Verbo& v : kVerbos)
        if (v.privilegio == privilegio) verbo = v.verbo;
    return std::string(verbo) + " (" + std::string(privilegio) + ")";
}

std::string DescreverDireito(std::string_view privilegio, std::string_view tipo,
                             std::string_view objeto) {
    std::string o(objeto);
    if (tipo == "COLUMN") {
        const size_t ponto = o.rfind('.');
        if (ponto != std::string::npos)
            o = "a coluna " + o.substr(ponto + 1) + " da tabela " + o.substr(0, ponto);
        else
            o = "a coluna " + o;
    } else if (tipo == "TABLE") {
        o = "a tabela " + o;
    } else if (tipo == "VIEW") {
        o = "a visão " + o;
    } else if (tipo == "GENERATOR" || tipo == "SEQUENCE") {
        o = "o gerador " + o;
    } else if (tipo == "PROCEDURE") {
        o = "o procedimento " + o;
    } else if (tipo == "FUNCTION") {
        o = "a função " + o;
    } else if (tipo == "ROLE") {
        o = "o papel " + o;
    } else if (!tipo.empty()) {
        o = std::string(tipo) + " " + o;
    }
    return VerboDoDireito(privilegio) + " " + o;
}

bool SemDireito(const ErroBanco& erro) {
    return erro.Tem(isc_no_priv);
}

bool TentouGravarSemPoder(const ErroBanco& erro) {
    return erro.Tem(isc_read_only_trans);
}

std::string ExplicarFaltaDeDireito(const std::vector<long>& codigos,
                                   const std::vector<std::string>& semPermissao) {
    auto tem = [&](long c) {
        return std::find(codigos.begin(), codigos.end(), c) != codigos.end();
    };
    constexpr std::string_view kComoConceder =
        "; o dono do banco de dados concede o que a DllKavlo precisa com kavlo preparar";
    if (tem(isc_no_priv) && semPermissao.size() >= 3)
        return "o usuário do banco de dados não tem o direito de " +
               DescreverDireito(semPermissao[0], semPermissao[1], semPermissao[2]) +
               std::string(kComoConceder);
    if (tem(isc_no_priv))
        return "o usuário do banco de dados não tem permissão para isso" +
               std::string(kComoConceder);
    if (tem(isc_dyn_no_priv))
        return "o usuário do banco de dados não tem o direito de criar ou alterar tabelas, "
               "geradores e papéis neste banco" +
               std::string(kComoConceder);
    if (tem(isc_read_only_trans))
        return "o comando tentou gravar numa transação somente de leitura";
    return {};
}

}  // namespace kavlo
