#include "util/Sha256.h"

#include <algorithm>
#include <array>

#include "util/Erros.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: wincrypt.h relies on its types.
#include <wincrypt.h>
#else
#include <nettle/sha2.h>
#endif

namespace kavlo {
namespace {

constexpr size_t kTamanho = 32;

std::string Hexadecimal(const std::array<unsigned char, kTamanho>& bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string r;
    r.reserve(2 * bytes.size());
    for (unsigned char b : bytes) {
        r += kHex[b >> 4];
        r += kHex[b & 0xF];
    }
    return r;
}

#ifdef _WIN32
[[noreturn]] void Falha() {
    throw Erro("Não foi possível calcular o SHA-256 do arquivo de retorno.");
}
#endif

}  // namespace

#ifdef _WIN32
// The CryptoAPI's provider and hash, both released with the object.
struct Sha256Incremental::Estado {
    HCRYPTPROV provedor = 0;
    HCRYPTHASH hash = 0;
    Estado() {
        if (!CryptAcquireContextW(&provedor, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
            Falha();
        if (!CryptCreateHash(provedor, CALG_SHA_256, 0, 0, &hash)) {
            CryptReleaseContext(provedor, 0);  // the destructor does not run for this object
            Falha();
        }
    }
    ~Estado() {
        if (hash) CryptDestroyHash(hash);
        if (provedor) CryptReleaseContext(provedor, 0);
    }
    Estado(const Estado&) = delete;
    Estado& operator=(const Estado&) = delete;
    void Novo() {
        if (hash) CryptDestroyHash(hash);
        hash = 0;
        if (!CryptCreateHash(provedor, CALG_SHA_256, 0, 0, &hash)) Falha();
    }
};
#else
struct Sha256Incremental::Estado {
    sha256_ctx ctx;
    Estado() { sha256_init(&ctx); }
};
#endif

Sha256Incremental::Sha256Incremental() : estado_(std::make_unique<Estado>()) {}
Sha256Incremental::~Sha256Incremental() = default;

void Sha256Incremental::Acrescentar(std::string_view bytes) {
#ifdef _WIN32
    for (size_t feito = 0; feito < bytes.size();) {
        const auto parte = static_cast<DWORD>(std::min<size_t>(bytes.size() - feito, 1u << 30));
        if (!CryptHashData(estado_->hash, reinterpret_cast<const BYTE*>(bytes.data() + feito),
                           parte, 0))
            Falha();
        feito += parte;
    }
#else
    sha256_update(&estado_->ctx, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
#endif
}

std::string Sha256Incremental::Concluir() {
    std::array<unsigned char, kTamanho> resumo{};
#ifdef _WIN32
    DWORD tamanho = static_cast<DWORD>(resumo.size());
    if (!CryptGetHashParam(estado_->hash, HP_HASHVAL, resumo.data(), &tamanho, 0)) Falha();
    estado_->Novo();
#else
    static_assert(SHA256_DIGEST_SIZE == kTamanho);
    // nettle starts the context again after a digest.
    sha256_digest(&estado_->ctx, resumo.size(), resumo.data());
#endif
    return Hexadecimal(resumo);
}

std::string Sha256(std::string_view bytes) {
    Sha256Incremental hash;
    hash.Acrescentar(bytes);
    return hash.Concluir();
}

}  // namespace kavlo
