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

}  // namespace

std::string Sha256(std::string_view bytes) {
    std::array<unsigned char, kTamanho> resumo{};
#ifdef _WIN32
    HCRYPTPROV provedor = 0;
    HCRYPTHASH hash = 0;
    DWORD tamanho = static_cast<DWORD>(resumo.size());
    bool ok = CryptAcquireContextW(&provedor, nullptr, nullptr, PROV_RSA_AES,
                                   CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
              CryptCreateHash(provedor, CALG_SHA_256, 0, 0, &hash);
    for (size_t feito = 0; ok && feito < bytes.size();) {
        const auto parte = static_cast<DWORD>(std::min<size_t>(bytes.size() - feito, 1u << 30));
        ok = CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data() + feito), parte, 0);
        feito += parte;
    }
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, resumo.data(), &tamanho, 0);
    if (hash) CryptDestroyHash(hash);
    if (provedor) CryptReleaseContext(provedor, 0);
    if (!ok) throw Erro("Não foi possível calcular o SHA-256 do arquivo de retorno.");
#else
    static_assert(SHA256_DIGEST_SIZE == kTamanho);
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
    sha256_digest(&ctx, resumo.size(), resumo.data());
#endif
    return Hexadecimal(resumo);
}

}  // namespace kavlo
