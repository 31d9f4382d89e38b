// The attachment and the transaction: what a connection owns, and how every owner of the layer
// ends what it owns.
#include <firebird/Interface.h>
#include <ibase.h>
#include <iberror.h>

#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "dao/firebird/Firebird.h"
#include "dao/firebird/FirebirdInterno.h"
#include "util/Codificacao.h"
#include "util/Configuracao.h"
#include "util/Erros.h"

namespace kavlo::fb {

using namespace Firebird;

namespace {

// Runs the call that ends an interface; if it fails, or throws, the reference is released. Its
// failure is looked at, not thrown: an owner ends what it owns while an error unwinds.
template <class T, class Fim>
void Terminar(T* p, Fim fim) noexcept {
    if (!p) return;
    try {
        StatusVerificado st;
        fim(p, &st);  // releases the interface when it succeeds
        if (!st.Falhou()) return;
    } catch (...) {
    }
    p->release();
}

// Runs `fim` when the scope ends, however it ends.
template <class Fim>
class AoSair {
  public:
    explicit AoSair(Fim fim) : fim_(std::move(fim)) {}
    ~AoSair() { fim_(); }
    AoSair(const AoSair&) = delete;
    AoSair& operator=(const AoSair&) = delete;

  private:
    Fim fim_;
};

// The attachments open in this process. Never destroyed: the library's own connection closes
// while the process ends, after other statics may be gone.
struct RegistroDeAnexos {
    std::mutex mutex;
    std::set<IAttachment*> abertos;
};
RegistroDeAnexos& Registro() {
    static RegistroDeAnexos* registro = new RegistroDeAnexos;
    return *registro;
}

}  // namespace

int AbortarAnexos() noexcept {
    RegistroDeAnexos& registro = Registro();
    std::lock_guard<std::mutex> trava(registro.mutex);
    int alcancados = 0;
    for (IAttachment* a : registro.abertos) {
        try {
            // Runs beside the attachment's own work, from a signal's thread: nothing to report.
            StatusVerificado st;
            a->cancelOperation(&st, fb_cancel_abort);
            ++alcancados;
        } catch (...) {
        }
    }
    return alcancados;
}

void Encerrar::operator()(IAttachment* p) const noexcept {
    Terminar(p, [](IAttachment* a, CheckStatusWrapper* st) { a->detach(st); });
}
void Encerrar::operator()(ITransaction* p) const noexcept {
    Terminar(p, [](ITransaction* t, CheckStatusWrapper* st) { t->rollback(st); });
}
void Encerrar::operator()(IStatement* p) const noexcept {
    Terminar(p, [](IStatement* s, CheckStatusWrapper* st) { s->free(st); });
}
void Encerrar::operator()(IResultSet* p) const noexcept {
    Terminar(p, [](IResultSet* r, CheckStatusWrapper* st) { r->close(st); });
}
void Encerrar::operator()(IMessageMetadata* p) const noexcept {
    if (p) p->release();
}

// ---------------------------------------------------------------------------------------------
// Conexao

Conexao::Conexao() = default;
Conexao::~Conexao() {
    Fechar();
}

void Conexao::Abrir(std::u16string_view local, std::string_view usuario, std::string_view senha,
                    EscritaForcada escrita, std::string_view papel, ConjuntoDaConexao conjunto) {
    Anexar(local, usuario, senha, false, escrita, papel, conjunto);
}

void Conexao::Criar(std::u16string_view local, std::string_view usuario, std::string_view senha,
                    EscritaForcada escrita) {
    Anexar(local, usuario, senha, true, escrita, {}, ConjuntoDaConexao::Nenhum);
}

void Conexao::Anexar(std::u16string_view local, std::string_view usuario, std::string_view senha,
                     bool criar, EscritaForcada escrita, std::string_view papel,
                     ConjuntoDaConexao conjunto) {
    Fechar();
    // With the client's codes: a refused login is told apart from an unreachable database.
    Status st(std::string(criar ? "Não foi possível criar o banco de dados '"
                                : "Não foi possível conectar ao banco de dados '") +
              ParaMensagem(local) + "'");
    IUtil* util = Mestre()->getUtilInterface();
    // The builder owns the buffer: it lives until the attach has returned.
    Descartavel<IXpbBuilder> dpb(util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0));
    dpb->insertString(&st, isc_dpb_user_name, std::string(usuario).c_str());
    {
        // The password stays in this process no longer than the attach needs it.
        std::string copia(senha);
        const AoSair apagar([&] { Apagar(copia); });
        dpb->insertString(&st, isc_dpb_password, copia.c_str());
    }
    if (!papel.empty()) dpb->insertString(&st, isc_dpb_sql_role_name, std::string(papel).c_str());
    dpb->insertInt(&st, isc_dpb_sql_dialect, 1);
    // NONE: every column comes in its own character set, which the statement's metadata names;
    // a WIN1252 connection would have the server convert each one, and fail on a letter of a UTF8
    // column that Windows-1252 lacks.
    dpb->insertString(&st, isc_dpb_lc_ctype,
                      conjunto == ConjuntoDaConexao::Win1252 ? "WIN1252" : "NONE");
    dpb->insertTag(&st, isc_dpb_utf8_filename);
    if (criar) {
        dpb->insertInt(&st, isc_dpb_page_size, 8192);
        dpb->insertInt(&st, isc_dpb_set_db_sql_dialect, 1);
        dpb->insertString(&st, isc_dpb_set_db_charset, "WIN1252");
    }
    if (escrita != EscritaForcada::Manter)
        dpb->insertInt(&st, isc_dpb_force_write, escrita == EscritaForcada::Ligar ? 1 : 0);
    const std::string caminho = ParaUtf8(local);
    const Referencia<IProvider> provedor(Mestre()->getDispatcher());
    const unsigned tamanho = dpb->getBufferLength(&st);
    const unsigned char* buffer = dpb->getBuffer(&st);
    {
        // The builder's buffer holds the password too; nobody reads it once the attach returned,
        // whether it succeeded or threw.
        const AoSair apagar([&] { std::memset(const_cast<unsigned char*>(buffer), 0, tamanho); });
#ifndef _WIN32
        const NomesDeArquivoEmUtf8 utf8;
#endif
        attachment_.reset(criar ? provedor->createDatabase(&st, caminho.c_str(), tamanho, buffer)
                                : provedor->attachDatabase(&st, caminho.c_str(), tamanho, buffer));
    }
    local_ = std::u16string(local);
    RegistroDeAnexos& registro = Registro();
    std::lock_guard<std::mutex> trava(registro.mutex);
    registro.abertos.insert(attachment_.get());
}

void Conexao::Fechar() noexcept {
    if (!attachment_) return;
    {
        // Out of reach of AbortarAnexos before it goes; the detach itself may take a while.
        RegistroDeAnexos& registro = Registro();
        std::lock_guard<std::mutex> trava(registro.mutex);
        registro.abertos.erase(attachment_.get());
    }
    attachment_.reset();
}

// ---------------------------------------------------------------------------------------------
// Transacao

Transacao::Transacao(Conexao& conexao, ModoTransacao modo) : conexao_(conexao) {
    if (!conexao.Aberta()) throw ErroBanco("Não há conexão aberta com o banco de dados.");
    std::vector<unsigned char> tpb = {isc_tpb_version3};
    if (modo == ModoTransacao::Leitura) {
        tpb.insert(tpb.end(), {isc_tpb_concurrency, isc_tpb_read, isc_tpb_nowait});
    } else {
        if (modo == ModoTransacao::Escrita)
            tpb.insert(tpb.end(), {isc_tpb_concurrency, isc_tpb_write});
        else
            tpb.insert(tpb.end(), {isc_tpb_read_committed, isc_tpb_no_rec_version, isc_tpb_read});
        tpb.push_back(isc_tpb_wait);
        tpb.push_back(isc_tpb_lock_timeout);
        tpb.push_back(4);
        for (int i = 0; i < 4; ++i)
            tpb.push_back(static_cast<unsigned char>(kEsperaPorBloqueio >> (8 * i)));
    }
    Status st("Não foi possível iniciar uma transação no banco de dados");
    transaction_.reset(
        conexao.Handle()->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data()));
}

// The owner rolls back what was not committed.
Transacao::~Transacao() = default;

ITransaction* Transacao::Handle() const {
    if (!transaction_) throw ErroBanco("A transação já foi encerrada.");
    return transaction_.get();
}

void Transacao::Commit() {
    // A commit that failed leaves the transaction to be rolled back by its owner.
    Status st("Não foi possível confirmar a transação no banco de dados");
    Handle()->commit(&st);
    (void)transaction_.release();  // the commit released it
}

void Transacao::Rollback() {
    if (!transaction_) return;
    Status st("Não foi possível desfazer a transação no banco de dados");
    try {
        transaction_->rollback(&st);
    } catch (const ErroBanco&) {
        transaction_.reset();  // tries once more, then lets go of it
        throw;
    }
    (void)transaction_.release();  // the rollback released it
}

}  // namespace kavlo::fb
