#include "entry/Conexao.h"

namespace kavlo {
namespace {
// Constructed when the library is loaded; its destructor closes the connection at unload.
TdmConexao modulo;
}  // namespace

TdmConexao& dmConexao() {
    return modulo;
}

}  // namespace kavlo
