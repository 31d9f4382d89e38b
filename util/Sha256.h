// SHA-256 of a file's bytes: how the import journal recognises a return file it has seen.
#pragma once

#include <string>
#include <string_view>

namespace kavlo {

// 64 lower-case hexadecimal digits.
std::string Sha256(std::string_view bytes);

}  // namespace kavlo
