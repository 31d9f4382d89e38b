// A stand-in fbclient.dll for the wine host test, where no Windows Firebird client exists. It
// answers just the calls that opening a connection makes, and what it does depends on the
// database location the host passes:
//   "...recusado..."        the attach fails with a client error;
//   "...pontoflutuante..."  floating-point work that overflows and makes a NaN, on x87 and SSE,
//                           then no connection (the call returns without doing anything);
//   "...semconexao..."      no connection, no error;
//   anything else           an open connection; every other operation on it fails.
// The tables of function pointers are filled by hand: the OO API is a C-level table interface,
// and a stand-in needs only its few entries.
#include <firebird/Interface.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Firebird;

namespace {

// ---- status: keeps the error vector and the texts it points to
class Status : public IStatus {
  public:
    Status();
    std::vector<intptr_t> erros{isc_arg_gds, 0, isc_arg_end};
    std::vector<std::string> textos;
    unsigned estado = 0;
};

void CLOOP_CARG StatusDispose(IDisposable* self) throw() {
    delete static_cast<Status*>(self);
}
void CLOOP_CARG StatusInit(IStatus* self) throw() {
    auto* s = static_cast<Status*>(self);
    s->erros = {isc_arg_gds, 0, isc_arg_end};
    s->textos.clear();
    s->estado = 0;
}
unsigned CLOOP_CARG StatusGetState(const IStatus* self) throw() {
    return static_cast<const Status*>(self)->estado;
}
void CLOOP_CARG StatusSetErrors2(IStatus* self, unsigned n, const intptr_t* v) throw() {
    auto* s = static_cast<Status*>(self);
    s->textos.clear();
    s->erros.clear();
    for (unsigned i = 0; i < n && v[i] != isc_arg_end; i += 2) {
        s->erros.push_back(v[i]);
        if (v[i] == isc_arg_string) {
            s->textos.emplace_back(reinterpret_cast<const char*>(v[i + 1]));
            s->erros.push_back(0);  // pointed at the copy below
        } else {
            s->erros.push_back(v[i + 1]);
        }
    }
    s->erros.push_back(isc_arg_end);
    size_t t = 0;
    for (size_t i = 0; i + 1 < s->erros.size(); i += 2)
        if (s->erros[i] == isc_arg_string)
            s->erros[i + 1] = reinterpret_cast<intptr_t>(s->textos[t++].c_str());
    s->estado = IStatus::STATE_ERRORS;
}
void CLOOP_CARG StatusSetErrors(IStatus* self, const intptr_t* v) throw() {
    unsigned n = 0;
    while (v[n] != isc_arg_end) n += 2;
    StatusSetErrors2(self, n + 1, v);
}
void CLOOP_CARG StatusSetWarnings2(IStatus*, unsigned, const intptr_t*) throw() {}
void CLOOP_CARG StatusSetWarnings(IStatus*, const intptr_t*) throw() {}
const intptr_t* CLOOP_CARG StatusGetErrors(const IStatus* self) throw() {
    return static_cast<const Status*>(self)->erros.data();
}
const intptr_t* CLOOP_CARG StatusGetWarnings(const IStatus*) throw() {
    static const intptr_t vazio[] = {isc_arg_gds, 0, isc_arg_end};
    return vazio;
}
IStatus* CLOOP_CARG StatusClone(const IStatus*) throw() {
    return new Status;
}

IStatus::VTable* TabelaStatus() {
    static IStatus::VTable t = [] {
        IStatus::VTable v{};
        v.version = IStatus::VERSION;
        v.dispose = StatusDispose;
        v.init = StatusInit;
        v.getState = StatusGetState;
        v.setErrors2 = StatusSetErrors2;
        v.setWarnings2 = StatusSetWarnings2;
        v.setErrors = StatusSetErrors;
        v.setWarnings = StatusSetWarnings;
        v.getErrors = StatusGetErrors;
        v.getWarnings = StatusGetWarnings;
        v.clone = StatusClone;
        return v;
    }();
    return &t;
}

Status::Status() : IStatus(DoNotInherit()) {
    cloopVTable = TabelaStatus();
}

void Falhar(IStatus* status, const char* texto) {
    const intptr_t v[] = {isc_arg_gds, isc_random, isc_arg_string,
                          reinterpret_cast<intptr_t>(texto), isc_arg_end};
    status->setErrors(v);
}

// ---- parameter buffer builder: only the calls of an attach, the bytes are not kept
class Construtor : public IXpbBuilder {
  public:
    Construtor();
    unsigned char buffer[1] = {isc_dpb_version1};
};
void CLOOP_CARG ConstrutorDispose(IDisposable* self) throw() {
    delete static_cast<Construtor*>(self);
}
void CLOOP_CARG InsertInt(IXpbBuilder*, IStatus*, unsigned char, int) throw() {}
void CLOOP_CARG InsertString(IXpbBuilder*, IStatus*, unsigned char, const char*) throw() {}
void CLOOP_CARG InsertTag(IXpbBuilder*, IStatus*, unsigned char) throw() {}
unsigned CLOOP_CARG GetBufferLength(IXpbBuilder*, IStatus*) throw() {
    return 1;
}
const unsigned char* CLOOP_CARG GetBuffer(IXpbBuilder* self, IStatus*) throw() {
    return static_cast<Construtor*>(self)->buffer;
}
Construtor::Construtor() : IXpbBuilder(DoNotInherit()) {
    static IXpbBuilder::VTable t = [] {
        IXpbBuilder::VTable v{};
        v.version = IXpbBuilder::VERSION;
        v.dispose = ConstrutorDispose;
        v.insertInt = InsertInt;
        v.insertString = InsertString;
        v.insertTag = InsertTag;
        v.getBufferLength = GetBufferLength;
        v.getBuffer = GetBuffer;
        return v;
    }();
    cloopVTable = &t;
}

// ---- attachment: open until detached; everything else is refused
class Anexo : public IAttachment {
  public:
    Anexo();
    int referencias = 1;
};
void CLOOP_CARG AnexoAddRef(IReferenceCounted* self) throw() {
    ++static_cast<Anexo*>(self)->referencias;
}
int CLOOP_CARG AnexoRelease(IReferenceCounted* self) throw() {
    auto* a = static_cast<Anexo*>(self);
    const int r = --a->referencias;
    if (r == 0) delete a;
    return r;
}
void CLOOP_CARG Desanexar(IAttachment* self, IStatus*) throw() {
    AnexoRelease(self);
}
// Every other entry takes the status second; cdecl leaves the arguments to the caller, so one
// function can stand for them all.
void* CLOOP_CARG NaoDisponivel(IAttachment*, IStatus* status) throw() {
    Falhar(status, "operação não disponível no cliente de teste");
    return nullptr;
}
Anexo::Anexo() : IAttachment(DoNotInherit()) {
    static IAttachment::VTable t = [] {
        IAttachment::VTable v{};
        void** entradas = reinterpret_cast<void**>(&v);
        const size_t primeira =
            static_cast<size_t>(reinterpret_cast<char*>(&v.getInfo) - reinterpret_cast<char*>(&v)) /
            sizeof(void*);
        for (size_t i = primeira; i < sizeof v / sizeof(void*); ++i)
            entradas[i] = reinterpret_cast<void*>(&NaoDisponivel);
        v.version = IAttachment::VERSION;
        v.addRef = AnexoAddRef;
        v.release = AnexoRelease;
        v.detach = Desanexar;
        return v;
    }();
    cloopVTable = &t;
}

// Work a client may do on numbers: harmless with the exceptions masked, a hardware exception
// with them unmasked as the host leaves them.
void ContasQueTransbordam() {
    volatile long double x87 = 1e4000L;
    x87 = x87 * x87;  // overflow on the x87 unit
    volatile double sse = 1e308;
    sse = sse * 10;   // overflow
    sse = sse - sse;  // inf - inf: invalid, a NaN
    volatile double zero = 0;
    sse = 1 / zero;  // division by zero
    (void)sse;
}

// ---- provider
IAttachment* CLOOP_CARG Anexar(IProvider*, IStatus* status, const char* local, unsigned,
                               const unsigned char*) throw() {
    const std::string s(local ? local : "");
    if (s.find("recusado") != std::string::npos) {
        Falhar(status, "banco recusado pelo cliente de teste");
        return nullptr;
    }
    if (s.find("pontoflutuante") != std::string::npos) {
        ContasQueTransbordam();
        return nullptr;
    }
    if (s.find("semconexao") != std::string::npos) return nullptr;
    return new Anexo;
}
IAttachment* CLOOP_CARG CriarBanco(IProvider*, IStatus* status, const char*, unsigned,
                                   const unsigned char*) throw() {
    Falhar(status, "operação não disponível no cliente de teste");
    return nullptr;
}
void CLOOP_CARG ProvedorAddRef(IReferenceCounted*) throw() {}
int CLOOP_CARG ProvedorRelease(IReferenceCounted*) throw() {
    return 1;
}

class Provedor : public IProvider {
  public:
    Provedor() : IProvider(DoNotInherit()) {
        static IProvider::VTable t = [] {
            IProvider::VTable v{};
            v.version = IProvider::VERSION;
            v.addRef = ProvedorAddRef;
            v.release = ProvedorRelease;
            v.attachDatabase = Anexar;
            v.createDatabase = CriarBanco;
            return v;
        }();
        cloopVTable = &t;
    }
};

// ---- util
IXpbBuilder* CLOOP_CARG NovoConstrutor(IUtil*, IStatus*, unsigned, const unsigned char*,
                                       unsigned) throw() {
    return new Construtor;
}
unsigned CLOOP_CARG FormatarStatus(IUtil*, char* buffer, unsigned tamanho,
                                   IStatus* status) throw() {
    std::string texto;
    const intptr_t* v = status->getErrors();
    for (size_t i = 0; v[i] != isc_arg_end; i += 2)
        if (v[i] == isc_arg_string) texto += reinterpret_cast<const char*>(v[i + 1]);
    if (tamanho == 0) return 0;
    const size_t n = std::min<size_t>(texto.size(), tamanho - 1);
    std::memcpy(buffer, texto.data(), n);
    buffer[n] = '\0';
    return static_cast<unsigned>(n);
}

class Utilitarios : public IUtil {
  public:
    Utilitarios() : IUtil(DoNotInherit()) {
        static IUtil::VTable t = [] {
            IUtil::VTable v{};
            v.version = IUtil::VERSION;
            v.getXpbBuilder = NovoConstrutor;
            v.formatStatus = FormatarStatus;
            return v;
        }();
        cloopVTable = &t;
    }
};

// ---- master
IStatus* CLOOP_CARG NovoStatus(IMaster*) throw() {
    return new Status;
}
IProvider* CLOOP_CARG Despachante(IMaster*) throw() {
    static Provedor provedor;
    return &provedor;
}
IUtil* CLOOP_CARG Util(IMaster*) throw() {
    static Utilitarios util;
    return &util;
}

class Mestre : public IMaster {
  public:
    Mestre() : IMaster(DoNotInherit()) {
        static IMaster::VTable t = [] {
            IMaster::VTable v{};
            v.version = IMaster::VERSION;
            v.getStatus = NovoStatus;
            v.getDispatcher = Despachante;
            v.getUtilInterface = Util;
            return v;
        }();
        cloopVTable = &t;
    }
};

}  // namespace

extern "C" IMaster* ISC_EXPORT fb_get_master_interface() {
    static Mestre mestre;
    return &mestre;
}
