// The library's single database connection, created when the library is loaded and closed when
// it is unloaded. Every statement of a call runs on it.
#pragma once

#include "dao/firebird/Firebird.h"

namespace kavlo {

class TdmConexao {
  public:
    fb::Conexao fdConexao;
};

// The process-wide connection module.
TdmConexao& dmConexao();

}  // namespace kavlo
