// UTF-8 helpers shared by the string, the matcher and the JSON writer.
// A byte that does not start a valid sequence counts as one character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zr_utf8 {

// Code points of invalid bytes are mapped above the Unicode range so that
// they compare equal only to the same byte.
inline constexpr char32_t kInvalidBase = 0x110000;
inline constexpr char32_t kReplacement = 0xFFFD;

// Length in bytes of the character at p (1 to 4); 1 for an invalid byte.
// n is the number of bytes left, at least 1.
size_t SequenceLength(const unsigned char* p, size_t n);

// Decodes the character at text[i] and advances i past it. An invalid byte b
// yields kInvalidBase + b.
char32_t Next(std::string_view text, size_t& i);

// True when every byte is below 0x80.
bool IsAscii(std::string_view text);
// True when the text is well-formed UTF-8.
bool IsValid(std::string_view text);

// Number of characters.
size_t CountChars(std::string_view text);
// Byte offset after skipping count characters from byte offset from; stops
// at the end. skipped receives the characters actually skipped.
size_t Advance(std::string_view text, size_t from, size_t count, size_t* skipped);

void Append(std::string& out, char32_t cp);  // cp must be a valid scalar
// Appends text with each invalid byte replaced by U+FFFD.
void AppendSanitized(std::string& out, std::string_view text);

}  // namespace zr_utf8
