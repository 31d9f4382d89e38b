// The statement: what it owns (the prepared statement, its input and output metadata) and how
// its parameters are put into the input message.
#include <firebird/Interface.h>
#include <ibase.h>

#include <algorithm>

#include "dao/firebird/Firebird.h"
#include "dao/firebird/FirebirdInterno.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"

namespace kavlo::fb {

using namespace Firebird;

namespace {

// The most bytes a character takes in a character set of the catalogue (one for the rest).
unsigned BytesPorCaractere(unsigned cs) {
    switch (cs) {
        case charset::UnicodeFss:
            return 3;
        case charset::Utf8:
        case 69:  // GB18030
            return 4;
        case 5:   // SJIS_0208
        case 6:   // EUCJ_0208
        case 44:  // KSC_5601
        case 56:  // BIG_5
        case 57:  // GB_2312
        case 67:  // GBK
        case 68:  // CP943C
            return 2;
        default:
            return 1;
    }
}

}  // namespace

Comando::Comando(Transacao& transacao, std::u16string_view sql, std::string oQue)
    : transacao_(transacao), sql_(sql), oQue_(std::move(oQue)) {
    Preparar();
}

Comando::Comando(Transacao& transacao, std::string_view sql, std::string oQue)
    : transacao_(transacao), sql_(DeUtf8(sql)), oQue_(std::move(oQue)) {
    Preparar();
}

// Each owner ends its part; a half-built statement (a constructor that threw) is ended the same
// way, by the members already made.
Comando::~Comando() = default;

// The statement stays out of the message, for the operator reads it; it goes with the error.
void Comando::Falhar(const Status& status) const {
    throw status.Erro("Erro no banco de dados ao " + oQue_ + ": " + status.Mensagem(),
                      SqlParaMensagem(sql_));
}

void Comando::Falhar(const std::string& problema) const {
    throw ErroBanco("Erro no banco de dados ao " + oQue_ + ": " + problema, {}, {},
                    SqlParaMensagem(sql_));
}

void Comando::Preparar() {
    Status st;
    const std::string texto = TextoDoComando(sql_);
    statement_.reset(transacao_.Dono().Handle()->prepare(
        &st, transacao_.Handle(), static_cast<unsigned>(texto.size()), texto.data(), 1,
        IStatement::PREPARE_PREFETCH_METADATA));
    if (st.Falhou()) Falhar(st);
    entradaOriginal_.reset(statement_->getInputMetadata(&st));
    if (st.Falhou()) Falhar(st);
    DescreverSaida();
}

// Chooses, per text column, the form its value comes in: the column's own bytes where this layer
// decodes them exactly, else UTF-8 converted by the server. Nothing a column holds can then fail
// the fetch.
void Comando::DescreverSaida() {
    Status st;
    Posse<IMessageMetadata> original(statement_->getOutputMetadata(&st));
    if (st.Falhou()) Falhar(st);
    const unsigned n = original->getCount(&st);
    if (st.Falhou()) Falhar(st);
    std::vector<Leitura> leituras(n, Leitura::Windows1252);
    std::vector<unsigned> charsets(n, 0);
    Referencia<IMetadataBuilder> construtor;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned tipo = original->getType(&st, i);
        if (st.Falhou()) Falhar(st);
        if (tipo != SQL_TEXT && tipo != SQL_VARYING) continue;
        charsets[i] = original->getCharSet(&st, i);
        // The high byte names the collation; the decoding depends on the character set alone.
        const unsigned cs = original->getCharSet(&st, i) & 0xFF;
        switch (cs) {
            case charset::Nenhum:  // what the payroll application wrote: Windows-1252
            case charset::Win1252:
                leituras[i] = Leitura::Windows1252;
                break;
            case charset::Octetos:
                leituras[i] = Leitura::Octetos;
                break;
            // ISO8859_1 is read by the byte: the server will not convert its bytes 0x80-0x9F
            // to WIN1252.
            case charset::Ascii:
            case charset::Latin1:
                leituras[i] = Leitura::Latin1;
                break;
            case charset::Utf8:
                leituras[i] = Leitura::Utf8;
                break;
            // UNICODE_FSS is read by the byte too: a character outside the Basic Multilingual
            // Plane may be in it as four bytes of UTF-8 (which the server's conversion to UTF8
            // garbles) or as two surrogates (as the server writes it from a UTF8 text).
            case charset::UnicodeFss:
                leituras[i] = Leitura::UnicodeFss;
                break;
            default: {
                // WIN1250, KOI8R, ...: the server converts them to UTF-8 exactly.
                leituras[i] = Leitura::Utf8;
                if (!construtor) construtor.reset(original->getBuilder(&st));
                if (st.Falhou()) Falhar(st);
                const unsigned caracteres = original->getLength(&st, i) / BytesPorCaractere(cs);
                const unsigned limite = tipo == SQL_VARYING ? 32765 : 32767;
                construtor->setCharSet(&st, i, charset::Utf8);
                construtor->setLength(&st, i, std::min(caracteres * 4, limite));
                if (st.Falhou()) Falhar(st);
            }
        }
    }
    if (construtor) {
        saida_.reset(construtor->getMetadata(&st));
        if (st.Falhou()) Falhar(st);
    } else {
        saida_ = std::move(original);
    }
    colunas_.reserve(n);
    for (unsigned i = 0; i < n; ++i) {
        Coluna c;
        c.nome = Maiusculas(saida_->getAlias(&st, i));
        c.tipo = saida_->getType(&st, i);
        c.tamanho = saida_->getLength(&st, i);
        c.offset = saida_->getOffset(&st, i);
        c.offsetNulo = saida_->getNullOffset(&st, i);
        c.escala = saida_->getScale(&st, i);
        c.leitura = leituras[i];
        c.charset = charsets[i];
        porNome_.emplace(c.nome, i);  // the first column of a name wins
        colunas_.push_back(std::move(c));
    }
    tamanhoSaida_ = saida_->getMessageLength(&st);
    if (st.Falhou()) Falhar(st);
}

std::optional<Comando::Colacao> Comando::ColacaoDoTexto(unsigned i) const {
    if (i >= colunas_.size()) return std::nullopt;
    const Coluna& c = colunas_[i];
    if (c.tipo != SQL_TEXT && c.tipo != SQL_VARYING) return std::nullopt;
    return Colacao{c.charset & 0xFF, c.charset >> 8};
}

unsigned Comando::Parametros() const {
    Status st;
    const unsigned n = entradaOriginal_->getCount(&st);
    if (st.Falhou()) Falhar(st);
    return n;
}

std::optional<Comando::Colacao> Comando::ColacaoDoParametro(unsigned i) const {
    if (i >= Parametros()) return std::nullopt;
    Status st;
    const unsigned tipo = entradaOriginal_->getType(&st, i);
    const unsigned charset = entradaOriginal_->getCharSet(&st, i);
    if (st.Falhou()) Falhar(st);
    if (tipo != SQL_TEXT && tipo != SQL_VARYING) return std::nullopt;
    return Colacao{charset & 0xFF, charset >> 8};
}

void Comando::MontarEntrada(const std::vector<Parametro>& parametros) {
    Status st;
    const unsigned n = entradaOriginal_->getCount(&st);
    if (st.Falhou()) Falhar(st);
    if (parametros.size() != n)
        throw ErroBanco("Erro interno ao " + oQue_ + ": o comando espera " + std::to_string(n) +
                        " parâmetro(s), " + std::to_string(parametros.size()) + " informado(s).");
    if (n == 0) return;

    // Encode texts first: their lengths decide the message shape.
    std::vector<std::string> textos(n);
    std::vector<Forma> forma(n);
    for (unsigned i = 0; i < n; ++i) {
        const Parametro& p = parametros[i];
        if (auto* s = std::get_if<std::u16string>(&p)) {
            const unsigned tipoOriginal = entradaOriginal_->getType(&st, i);
            const bool ehTexto = tipoOriginal == SQL_TEXT || tipoOriginal == SQL_VARYING;
            const unsigned cs = ehTexto ? entradaOriginal_->getCharSet(&st, i) : charset::Nenhum;
            // A UTF8 or UNICODE_FSS place takes any text as it is. Anywhere else the text goes in
            // Windows-1252, as it always did: the server converts it exactly to a WIN1252 or
            // ISO8859_1 column and copies it byte for byte to a NONE one, where it meets the
            // bytes the payroll application wrote.
            const bool utf8 = cs == charset::Utf8 || cs == charset::UnicodeFss;
            textos[i] = utf8 ? ParaUtf8(*s) : ParaWindows1252(*s);
            // Firebird checks the declared length against the parameter's own: declare the
            // parameter's length when the text fits, so a statement run per row keeps one shape.
            const unsigned original = ehTexto ? entradaOriginal_->getLength(&st, i) : 0;
            const auto tamanho = static_cast<unsigned>(textos[i].size());
            if (tamanho > 32000) Falhar("texto longo demais para o banco");
            forma[i] = {SQL_VARYING, std::max({tamanho, original, 1u}),
                        utf8 ? charset::Utf8 : charset::Win1252};
        } else if (auto* o = std::get_if<Octetos>(&p)) {
            forma[i] = {SQL_TEXT, static_cast<unsigned>(o->bytes.size()), charset::Octetos};
        } else if (std::holds_alternative<int64_t>(p)) {
            forma[i] = {SQL_INT64, 8, 0};
        } else if (std::holds_alternative<double>(p)) {
            forma[i] = {SQL_DOUBLE, 8, 0};
        } else if (std::holds_alternative<Data>(p)) {
            forma[i] = {SQL_TIMESTAMP, 8, 0};
        } else if (i < formaEntrada_.size()) {
            // A NULL keeps the shape of the previous run: a column that alternates between NULL
            // and values must not rebuild the message row after row.
            forma[i] = formaEntrada_[i];
        } else {
            forma[i] = {SQL_VARYING, 1, charset::Win1252};
        }
    }
    if (st.Falhou()) Falhar(st);
    if (forma != formaEntrada_ || !entrada_) {
        Referencia<IMetadataBuilder> b(entradaOriginal_->getBuilder(&st));
        if (st.Falhou()) Falhar(st);
        for (unsigned i = 0; i < n && !st.Falhou(); ++i) {
            b->setType(&st, i, forma[i].tipo);
            if (forma[i].tipo == SQL_TEXT || forma[i].tipo == SQL_VARYING)
                b->setCharSet(&st, i, forma[i].charset);
            if (forma[i].tipo == SQL_INT64) b->setScale(&st, i, 0);
            b->setLength(&st, i, forma[i].tamanho);
        }
        if (st.Falhou()) Falhar(st);
        entrada_.reset(b->getMetadata(&st));
        if (st.Falhou()) Falhar(st);
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
            if (forma[i].tipo == SQL_VARYING) Gravar<uint16_t>(v, 0);
            *nulo = -1;
        }
    }
    if (st.Falhou()) Falhar(st);
}

Cursor Comando::Abrir(const std::vector<Parametro>& parametros) {
    MontarEntrada(parametros);
    Status st;
    Posse<IResultSet> resultado(statement_->openCursor(
        &st, transacao_.Handle(), parametros.empty() ? nullptr : entrada_.get(),
        parametros.empty() ? nullptr : bufferEntrada_.data(), saida_.get(), 0));
    if (st.Falhou()) Falhar(st);
    return Cursor(*this, std::move(resultado));
}

uint64_t Comando::Executar(const std::vector<Parametro>& parametros) {
    MontarEntrada(parametros);
    Status st;
    statement_->execute(&st, transacao_.Handle(), parametros.empty() ? nullptr : entrada_.get(),
                        parametros.empty() ? nullptr : bufferEntrada_.data(), nullptr, nullptr);
    if (st.Falhou()) Falhar(st);
    const uint64_t n = statement_->getAffectedRecords(&st);
    if (st.Falhou()) Falhar(st);
    return n;
}

}  // namespace kavlo::fb
