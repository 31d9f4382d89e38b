#include "dao/Firebird.h"

#include <firebird/Interface.h>
#include <ibase.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"

namespace kavlo::fb {

using namespace Firebird;

namespace {

constexpr unsigned kWin1252 = 53;
constexpr unsigned kOctets = 1;

std::string Maiusculas(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

template <class T>
T Ler(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void Gravar(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// Enough of a statement to recognise it; a batch of updates would bury the message.
std::string SqlParaMensagem(std::u16string_view sql) {
    constexpr size_t kLimite = 400;
    if (sql.size() <= kLimite) return ParaMensagem(sql);
    return ParaMensagem(sql.substr(0, kLimite)) + "...";
}

double Potencia10(int escala) {
    return std::pow(10.0, escala);
}

}  // namespace

// Owns an IStatus and the wrapper the OO API calls take.
class Status {
  public:
    Status() : status_(Mestre()->getStatus()), wrapper_(status_) {}
    ~Status() { status_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;

    CheckStatusWrapper* operator&() { return &wrapper_; }
    bool Falhou() const { return (wrapper_.getState() & IStatus::STATE_ERRORS) != 0; }
    std::string Mensagem() const {
        char buf[4096];
        Mestre()->getUtilInterface()->formatStatus(buf, sizeof buf, status_);
        // The server writes data in the connection's character set.
        std::string texto = ParaUtf8(DeWindows1252(buf));
        while (!texto.empty() && (texto.back() == '\n' || texto.back() == ' ')) texto.pop_back();
        for (char& c : texto)
            if (c == '\n') c = ' ';
        return texto;
    }

  private:
    IStatus* status_;
    CheckStatusWrapper wrapper_;
};

// ---------------------------------------------------------------------------------------------
// Conexao

Conexao::Conexao() = default;
Conexao::~Conexao() {
    Fechar();
}

void Conexao::Abrir(std::u16string_view local, std::string_view usuario, std::string_view senha) {
    Anexar(local, usuario, senha, false);
}

void Conexao::Criar(std::u16string_view local, std::string_view usuario, std::string_view senha) {
    Anexar(local, usuario, senha, true);
}

void Conexao::Anexar(std::u16string_view local, std::string_view usuario, std::string_view senha,
                     bool criar) {
    Fechar();
    Status st;
    auto falha = [&] {
        return ErroBanco(std::string(criar ? "Não foi possível criar o banco de dados '"
                                           : "Não foi possível conectar ao banco de dados '") +
                         ParaUtf8(local) + "': " + st.Mensagem());
    };
    IUtil* util = Mestre()->getUtilInterface();
    IXpbBuilder* dpb = util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    if (st.Falhou()) throw falha();
    const std::string caminho = ParaUtf8(local);
    dpb->insertString(&st, isc_dpb_user_name, std::string(usuario).c_str());
    dpb->insertString(&st, isc_dpb_password, std::string(senha).c_str());
    dpb->insertInt(&st, isc_dpb_sql_dialect, 1);
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1252");
    dpb->insertTag(&st, isc_dpb_utf8_filename);
    if (criar) {
        dpb->insertInt(&st, isc_dpb_page_size, 8192);
        dpb->insertInt(&st, isc_dpb_set_db_sql_dialect, 1);
        dpb->insertString(&st, isc_dpb_set_db_charset, "WIN1252");
    }
    if (st.Falhou()) {
        dpb->dispose();
        throw falha();
    }
    IProvider* provider = Mestre()->getDispatcher();
    // The builder owns the buffer: keep it alive until the attach returns.
    IAttachment* att =
        criar ? provider->createDatabase(&st, caminho.c_str(), dpb->getBufferLength(&st),
                                         dpb->getBuffer(&st))
              : provider->attachDatabase(&st, caminho.c_str(), dpb->getBufferLength(&st),
                                         dpb->getBuffer(&st));
    provider->release();
    dpb->dispose();
    if (st.Falhou()) {
        if (att) att->release();
        throw falha();
    }
    attachment_ = att;
    local_ = std::u16string(local);
}

void Conexao::Fechar() noexcept {
    if (!attachment_) return;
    IAttachment* att = attachment_;
    attachment_ = nullptr;
    try {
        Status st;
        att->detach(&st);  // releases the interface on success
        if (st.Falhou()) att->release();
    } catch (...) {
        att->release();
    }
}

// ---------------------------------------------------------------------------------------------
// Transacao

Transacao::Transacao(Conexao& conexao, ModoTransacao modo) : conexao_(conexao) {
    if (!conexao.Aberta()) throw ErroBanco("Não há conexão aberta com o banco de dados.");
    std::vector<unsigned char> tpb = {isc_tpb_version3, isc_tpb_concurrency};
    if (modo == ModoTransacao::Leitura) {
        tpb.push_back(isc_tpb_read);
        tpb.push_back(isc_tpb_nowait);
    } else {
        tpb.push_back(isc_tpb_write);
        tpb.push_back(isc_tpb_wait);
        tpb.push_back(isc_tpb_lock_timeout);
        tpb.push_back(4);
        for (int i = 0; i < 4; ++i)
            tpb.push_back(static_cast<unsigned char>(kEsperaPorBloqueio >> (8 * i)));
    }
    Status st;
    transaction_ =
        conexao.Handle()->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data());
    if (st.Falhou()) {
        transaction_ = nullptr;
        throw ErroBanco("Não foi possível iniciar uma transação no banco de dados: " +
                        st.Mensagem());
    }
}

Transacao::~Transacao() {
    try {
        Rollback();
    } catch (...) {
    }
}

ITransaction* Transacao::Handle() const {
    if (!transaction_) throw ErroBanco("A transação já foi encerrada.");
    return transaction_;
}

void Transacao::Commit() {
    Status st;
    Handle()->commit(&st);  // releases the interface on success
    if (st.Falhou())
        throw ErroBanco("Não foi possível confirmar a transação no banco de dados: " +
                        st.Mensagem());
    transaction_ = nullptr;
}

void Transacao::Rollback() {
    if (!transaction_) return;
    ITransaction* tra = transaction_;
    transaction_ = nullptr;
    Status st;
    tra->rollback(&st);
    if (st.Falhou()) {
        tra->release();
        throw ErroBanco("Não foi possível desfazer a transação no banco de dados: " +
                        st.Mensagem());
    }
}

// ---------------------------------------------------------------------------------------------
// Comando

Comando::Comando(Transacao& transacao, std::u16string_view sql, std::string oQue)
    : transacao_(transacao), sql_(sql), oQue_(std::move(oQue)) {
    Preparar();
}

Comando::Comando(Transacao& transacao, std::string_view sql, std::string oQue)
    : transacao_(transacao), sql_(DeUtf8(sql)), oQue_(std::move(oQue)) {
    Preparar();
}

Comando::~Comando() {
    if (entrada_) entrada_->release();
    if (entradaOriginal_) entradaOriginal_->release();
    if (saida_) saida_->release();
    if (statement_) {
        Status st;
        statement_->free(&st);  // releases the interface on success
        if (st.Falhou()) statement_->release();
    }
}

void Comando::Falhar(const Status& status) const {
    throw ErroBanco("Erro no banco de dados ao " + oQue_ + ": " + status.Mensagem() +
                    " [SQL: " + SqlParaMensagem(sql_) + "]");
}

void Comando::Preparar() {
    Status st;
    const std::string texto = ParaWindows1252(sql_);
    statement_ = transacao_.Dono().Handle()->prepare(&st, transacao_.Handle(), 0, texto.c_str(), 1,
                                                     IStatement::PREPARE_PREFETCH_METADATA);
    if (st.Falhou()) {
        statement_ = nullptr;
        Falhar(st);
    }
    entradaOriginal_ = statement_->getInputMetadata(&st);
    if (st.Falhou()) Falhar(st);
    saida_ = statement_->getOutputMetadata(&st);
    if (st.Falhou()) Falhar(st);
}

void Comando::MontarEntrada(const std::vector<Parametro>& parametros) {
    Status st;
    const unsigned n = entradaOriginal_->getCount(&st);
    if (parametros.size() != n)
        throw ErroBanco("Erro interno ao " + oQue_ + ": o comando espera " + std::to_string(n) +
                        " parâmetro(s), " + std::to_string(parametros.size()) + " informado(s).");
    if (n == 0) return;

    // Encode texts first: their lengths decide the message shape.
    std::vector<std::string> textos(n);
    std::vector<std::pair<unsigned, unsigned>> forma(n);
    for (unsigned i = 0; i < n; ++i) {
        const Parametro& p = parametros[i];
        if (auto* s = std::get_if<std::u16string>(&p)) {
            textos[i] = ParaWindows1252(*s);
            // Firebird checks the declared length against the parameter's own: declare the
            // parameter's length when the text fits, so a statement run per row keeps one shape.
            const unsigned tipoOriginal = entradaOriginal_->getType(&st, i);
            const unsigned original = tipoOriginal == SQL_TEXT || tipoOriginal == SQL_VARYING
                                          ? entradaOriginal_->getLength(&st, i)
                                          : 0;
            const auto tamanho = static_cast<unsigned>(textos[i].size());
            if (tamanho > 32000)
                throw ErroBanco("Erro ao " + oQue_ + ": texto longo demais para o banco.");
            forma[i] = {SQL_VARYING, std::max({tamanho, original, 1u})};
        } else if (auto* o = std::get_if<Octetos>(&p)) {
            forma[i] = {SQL_TEXT + 1000, static_cast<unsigned>(o->bytes.size())};
        } else if (std::holds_alternative<int64_t>(p)) {
            forma[i] = {SQL_INT64, 8};
        } else if (std::holds_alternative<double>(p)) {
            forma[i] = {SQL_DOUBLE, 8};
        } else if (std::holds_alternative<Data>(p)) {
            forma[i] = {SQL_TIMESTAMP, 8};
        } else if (i < formaEntrada_.size()) {
            // A NULL keeps the shape of the previous run: a column that alternates between NULL
            // and values must not rebuild the message row after row.
            forma[i] = formaEntrada_[i];
        } else {
            forma[i] = {SQL_VARYING, 1};
        }
    }
    if (forma != formaEntrada_ || !entrada_) {
        IMetadataBuilder* b = entradaOriginal_->getBuilder(&st);
        if (st.Falhou()) Falhar(st);
        for (unsigned i = 0; i < n && !st.Falhou(); ++i) {
            const auto [tipo, tamanho] = forma[i];
            if (tipo == SQL_TEXT + 1000) {
                b->setType(&st, i, SQL_TEXT);
                b->setCharSet(&st, i, kOctets);
            } else {
                b->setType(&st, i, tipo);
                if (tipo == SQL_VARYING) b->setCharSet(&st, i, kWin1252);
                if (tipo == SQL_INT64) b->setScale(&st, i, 0);
            }
            b->setLength(&st, i, tamanho);
        }
        IMessageMetadata* meta = st.Falhou() ? nullptr : b->getMetadata(&st);
        b->release();
        if (st.Falhou()) Falhar(st);
        if (entrada_) entrada_->release();
        entrada_ = meta;
        formaEntrada_ = forma;
        bufferEntrada_.assign(entrada_->getMessageLength(&st), 0);
    }
    unsigned char* buf = bufferEntrada_.data();
    for (unsigned i = 0; i < n; ++i) {
        unsigned char* v = buf + entrada_->getOffset(&st, i);
        auto* nulo = reinterpret_cast<short*>(buf + entrada_->getNullOffset(&st, i));
        *nulo = 0;
        const Parametro& p = parametros[i];
        if (std::holds_alternative<std::u16string>(p)) {
            Gravar<uint16_t>(v, static_cast<uint16_t>(textos[i].size()));
            std::memcpy(v + 2, textos[i].data(), textos[i].size());
        } else if (auto* o = std::get_if<Octetos>(&p)) {
            std::memcpy(v, o->bytes.data(), o->bytes.size());
        } else if (auto* inteiro = std::get_if<int64_t>(&p)) {
            Gravar<int64_t>(v, *inteiro);
        } else if (auto* real = std::get_if<double>(&p)) {
            Gravar<double>(v, *real);
        } else if (auto* data = std::get_if<Data>(&p)) {
            int32_t dias;
            uint32_t fracoes;
            ParaDataFirebird(data->valor, dias, fracoes);
            Gravar<int32_t>(v, dias);
            Gravar<uint32_t>(v + 4, fracoes);
        } else {
            if (forma[i].first == SQL_VARYING) Gravar<uint16_t>(v, 0);
            *nulo = -1;
        }
    }
    if (st.Falhou()) Falhar(st);
}

Cursor Comando::Abrir(const std::vector<Parametro>& parametros) {
    MontarEntrada(parametros);
    Status st;
    IResultSet* rs =
        statement_->openCursor(&st, transacao_.Handle(), parametros.empty() ? nullptr : entrada_,
                               parametros.empty() ? nullptr : bufferEntrada_.data(), saida_, 0);
    if (st.Falhou()) {
        if (rs) rs->release();
        Falhar(st);
    }
    return Cursor(*this, rs);
}

uint64_t Comando::Executar(const std::vector<Parametro>& parametros) {
    MontarEntrada(parametros);
    Status st;
    statement_->execute(&st, transacao_.Handle(), parametros.empty() ? nullptr : entrada_,
                        parametros.empty() ? nullptr : bufferEntrada_.data(), nullptr, nullptr);
    if (st.Falhou()) Falhar(st);
    const uint64_t n = statement_->getAffectedRecords(&st);
    if (st.Falhou()) Falhar(st);
    return n;
}

// ---------------------------------------------------------------------------------------------
// Cursor

Cursor::Cursor(Comando& comando, IResultSet* resultado)
    : comando_(&comando), resultado_(resultado) {
    Status st;
    IMessageMetadata* meta = comando.saida_;
    const unsigned n = meta->getCount(&st);
    colunas_.reserve(n);
    for (unsigned i = 0; i < n; ++i) {
        Coluna c;
        c.nome = Maiusculas(meta->getAlias(&st, i));
        c.tipo = meta->getType(&st, i);
        c.subtipo = static_cast<unsigned>(meta->getSubType(&st, i));
        c.tamanho = meta->getLength(&st, i);
        c.offset = meta->getOffset(&st, i);
        c.offsetNulo = meta->getNullOffset(&st, i);
        c.charset = meta->getCharSet(&st, i);
        c.escala = meta->getScale(&st, i);
        porNome_.emplace(c.nome, i);  // the first column of a name wins
        colunas_.push_back(std::move(c));
    }
    buffer_.assign(meta->getMessageLength(&st), 0);
    if (st.Falhou()) {
        Fechar();
        comando.Falhar(st);
    }
}

Cursor::Cursor(Cursor&& outro) noexcept
    : comando_(outro.comando_),
      resultado_(outro.resultado_),
      colunas_(std::move(outro.colunas_)),
      porNome_(std::move(outro.porNome_)),
      buffer_(std::move(outro.buffer_)),
      temLinha_(outro.temLinha_) {
    outro.resultado_ = nullptr;
}

Cursor::~Cursor() {
    try {
        Fechar();
    } catch (...) {
    }
}

void Cursor::Fechar() {
    if (!resultado_) return;
    IResultSet* rs = resultado_;
    resultado_ = nullptr;
    temLinha_ = false;
    Status st;
    rs->close(&st);  // releases the interface on success
    if (st.Falhou()) rs->release();
}

bool Cursor::Proximo() {
    if (!resultado_) return false;
    Status st;
    const int r = resultado_->fetchNext(&st, buffer_.data());
    if (st.Falhou()) comando_->Falhar(st);
    temLinha_ = r == IStatus::RESULT_OK;
    return temLinha_;
}

std::optional<unsigned> Cursor::IndiceSeHouver(std::string_view nome) const {
    auto it = porNome_.find(Maiusculas(nome));
    if (it == porNome_.end()) return std::nullopt;
    return it->second;
}

unsigned Cursor::Indice(std::string_view nome) const {
    if (auto i = IndiceSeHouver(nome)) return *i;
    throw ErroBanco("Erro no banco de dados ao " + comando_->OQue() + ": a coluna '" +
                    std::string(nome) +
                    "' não existe no resultado [SQL: " + SqlParaMensagem(comando_->Sql()) + "]");
}

const Cursor::Coluna& Cursor::Col(unsigned i) const {
    if (!temLinha_)
        throw ErroBanco("Erro interno ao " + comando_->OQue() + ": leitura sem linha corrente.");
    return colunas_.at(i);
}

bool Cursor::Nulo(unsigned i) const {
    const Coluna& c = Col(i);
    return Ler<short>(buffer_.data() + c.offsetNulo) != 0;
}

std::string_view Cursor::ValorTexto(const Coluna& c) const {
    const unsigned char* v = buffer_.data() + c.offset;
    if (c.tipo == SQL_VARYING) return {reinterpret_cast<const char*>(v + 2), Ler<uint16_t>(v)};
    return {reinterpret_cast<const char*>(v), c.tamanho};
}

std::string Cursor::Descrever(const Coluna& c) const {
    return "a coluna '" + c.nome + "'";
}

bool Cursor::TextoVazio(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return true;
    if (c.tipo != SQL_TEXT && c.tipo != SQL_VARYING) return Texto(i).empty();
    const std::string_view s = ValorTexto(c);
    return c.tipo == SQL_TEXT && c.charset != kOctets
               ? s.find_first_not_of(' ') == std::string_view::npos
               : s.empty();
}

std::string Cursor::Bytes(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return {};
    if (c.tipo != SQL_TEXT && c.tipo != SQL_VARYING)
        throw ErroBanco("Erro interno ao " + comando_->OQue() + ": " + Descrever(c) +
                        " não é texto.");
    return std::string(ValorTexto(c));
}

std::u16string Cursor::Texto(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return {};
    const unsigned char* v = buffer_.data() + c.offset;
    switch (c.tipo) {
        case SQL_TEXT:
        case SQL_VARYING: {
            std::string_view s = ValorTexto(c);
            if (c.charset == kOctets) return std::u16string(s.begin(), s.end());
            // A CHAR column comes padded with blanks to its width; the payroll application reads
            // it without them, and so does this library (an empty code in CHAR(2) is empty).
            if (c.tipo == SQL_TEXT) s = s.substr(0, s.find_last_not_of(' ') + 1);
            return DeWindows1252(s);
        }
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            if (c.escala == 0) {
                const int64_t n = c.tipo == SQL_SHORT  ? Ler<int16_t>(v)
                                  : c.tipo == SQL_LONG ? Ler<int32_t>(v)
                                                       : Ler<int64_t>(v);
                const std::string s = std::to_string(n);
                return std::u16string(s.begin(), s.end());
            }
            return FormatarGeral(Real(i));
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return FormatarGeral(Real(i));
        case SQL_TIMESTAMP:
        case SQL_TYPE_DATE: {
            const TDateTime d = Data(i);
            std::u16string s = FormatarData(d, u"dd/mm/yyyy");
            const double fracao = d - std::floor(d);
            if (fracao > 0) {
                const auto segundos = static_cast<int>(std::llround(fracao * 86400.0));
                char buf[16];
                std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", segundos / 3600 % 24,
                              segundos / 60 % 60, segundos % 60);
                s += DeUtf8(buf);
            }
            return s;
        }
        case SQL_BOOLEAN:
            return *v ? u"True" : u"False";
        default:
            throw ErroBanco("Erro ao " + comando_->OQue() + ": " + Descrever(c) +
                            " tem um tipo que não pode ser lido como texto.");
    }
}

double Cursor::Real(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return 0;
    const unsigned char* v = buffer_.data() + c.offset;
    switch (c.tipo) {
        case SQL_SHORT:
            return Ler<int16_t>(v) * Potencia10(c.escala);
        case SQL_LONG:
            return Ler<int32_t>(v) * Potencia10(c.escala);
        case SQL_INT64:
            return static_cast<double>(Ler<int64_t>(v)) * Potencia10(c.escala);
        case SQL_FLOAT:
            return Ler<float>(v);
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return Ler<double>(v);
        case SQL_TIMESTAMP:
        case SQL_TYPE_DATE:
            return Data(i);
        case SQL_TEXT:
        case SQL_VARYING:
            return StrToFloat(Texto(i));
        default:
            throw ErroBanco("Erro ao " + comando_->OQue() + ": " + Descrever(c) +
                            " não pode ser lida como número.");
    }
}

int32_t Cursor::Inteiro(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return 0;
    if (c.tipo == SQL_TEXT || c.tipo == SQL_VARYING) return StrToInt(Texto(i));
    const double r = std::round(Real(i));
    if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
        throw ErroConversao("Erro ao " + comando_->OQue() + ": " + Descrever(c) +
                            " excede o limite de um inteiro de 32 bits.");
    return static_cast<int32_t>(r);
}

TDateTime Cursor::Data(unsigned i) const {
    const Coluna& c = Col(i);
    if (Nulo(i)) return 0;
    const unsigned char* v = buffer_.data() + c.offset;
    switch (c.tipo) {
        case SQL_TIMESTAMP:
            return DeDataFirebird(Ler<int32_t>(v), Ler<uint32_t>(v + 4));
        case SQL_TYPE_DATE:
            return DeDataFirebird(Ler<int32_t>(v), 0);
        case SQL_TYPE_TIME:
            return DeDataFirebird(15018, Ler<uint32_t>(v));
        case SQL_TEXT:
        case SQL_VARYING:
            return LerData(Texto(i));
        default:
            return Real(i);
    }
}

}  // namespace kavlo::fb
