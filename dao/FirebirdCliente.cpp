// Where the Firebird client library comes from. Linux links libfbclient; the Windows build loads
// fbclient.dll at run time so that a missing client is a clear error, not a failed load.
#include <firebird/Interface.h>

#include "dao/Firebird.h"
#include "util/Erros.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kavlo::fb {

Firebird::IMaster* Mestre() {
#ifdef _WIN32
    using Funcao = Firebird::IMaster*(ISC_EXPORT*)();
    static Funcao funcao = [] {
        HMODULE dll = LoadLibraryW(L"fbclient.dll");
        return dll ? reinterpret_cast<Funcao>(GetProcAddress(dll, "fb_get_master_interface"))
                   : nullptr;
    }();
    if (!funcao)
        throw ErroBanco(
            "A biblioteca cliente do Firebird (fbclient.dll) não foi encontrada: instale-a ao lado "
            "de DllKavlo.dll.");
    return funcao();
#else
    static Firebird::IMaster* mestre = Firebird::fb_get_master_interface();
    return mestre;
#endif
}

}  // namespace kavlo::fb
