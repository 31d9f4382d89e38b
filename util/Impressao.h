// A 64-bit fingerprint of texts (FNV-1a, each text after its length), for keeping what a run
// compares small: two texts whose fingerprints differ are different, and only the rare ones whose
// fingerprints meet need comparing whole.
#pragma once

#include <cstdint>
#include <string_view>

namespace kavlo {

class Impressao64 {
  public:
    Impressao64& operator<<(std::u16string_view t) {
        Mais(t.size());
        for (char16_t c : t) Mais(c);
        return *this;
    }
    Impressao64& operator<<(int64_t v) {
        Mais(static_cast<uint64_t>(v));
        return *this;
    }
    uint64_t Valor() const { return h_; }

  private:
    void Mais(uint64_t v) {
        h_ ^= v;
        h_ *= 1099511628211u;
    }
    uint64_t h_ = 14695981039346656037u;
};

}  // namespace kavlo
