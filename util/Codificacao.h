// Conversions at the edges: inside, text is UTF-16; the payroll database, the host's files and
// the return files speak Windows-1252, UTF-8 or UTF-16. Every conversion is one pass over its
// input and never fails on content.
#pragma once

#include <string>
#include <string_view>

namespace kavlo {

// Windows-1252 bytes to UTF-16. The five bytes the code page leaves undefined map to the C1
// control of the same value, as Windows does, so no byte is ever lost.
std::u16string DeWindows1252(std::string_view bytes);

// UTF-16 to Windows-1252, exactly: a character the code page cannot hold becomes "?", one per
// UTF-16 code unit (a surrogate pair gives "??"). For what goes to the database, where a letter
// must not turn into another one (a key "Ł" must not find a servant "L").
std::string ParaWindows1252(std::u16string_view texto);

// UTF-16 to Windows-1252 as Windows' own conversion writes it (WideCharToMultiByte for code page
// 1252 with default flags), one code unit at a time: the exact byte where the code page has one,
// else the nearest character Windows picks for it, its "best fit" (Ł is L, ı is i, ∞ is 8), else
// "?" (ễ, CJK). One byte per code unit, so a surrogate pair gives "??" and a field fitted in code
// units keeps its width in bytes. For the files the library writes, so that they hold what the
// payroll application, a Windows-1252 program, would have written; never fails on content.
std::string ParaWindows1252MelhorAjuste(std::u16string_view texto);

// Whether every code unit of `texto` has a Windows-1252 byte.
bool CabeEmWindows1252(std::u16string_view texto);

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string DeUtf8(std::string_view bytes);
// The same, also taking a character outside the Basic Multilingual Plane written as its two
// surrogates of three bytes each (CESU-8), as Firebird stores such a character in UNICODE_FSS.
std::u16string DeUtf8OuCesu8(std::string_view bytes);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string ParaUtf8(std::u16string_view texto);

// The one way a value is quoted in an error message (a servant's name, a CPF, a key, a path, the
// text of a statement): UTF-8 with control characters (C0, DEL and C1: a NUL, a tab, a line end)
// shown as \xNN, so the message stays one readable line and is never cut at a NUL.
std::string ParaMensagem(std::u16string_view texto);
// The same for a value that is already UTF-8 (a file name on Linux, a text of the database client).
std::string ParaMensagem(std::string_view utf8);

// A value quoted in a message: ParaMensagem between single quotes.
std::string Aspas(std::u16string_view texto);

// UTF-16 code units stored as bytes in the given order.
std::u16string DeUtf16(std::string_view bytes, bool bigEndian);

// The text in Unicode Normalization Form C: a letter followed by combining accents becomes the
// one letter Unicode composes them into (E + U+0301 is É), so that widths count what a person sees
// and the Windows-1252 conversion finds the letter. For text that arrives as Unicode (UTF8 and
// UNICODE_FSS columns, return files with a byte-order mark); Windows-1252 text is composed
// already. A lone surrogate or a noncharacter (U+FFFF) is kept as it is. Uses ICU on Linux and the
// system's NormalizeString on Windows; throws Erro only when that library cannot work at all.
std::u16string Compor(std::u16string texto);

}  // namespace kavlo
