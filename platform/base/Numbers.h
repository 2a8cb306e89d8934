#pragma once
// Locale-independent number text. Qt sets the C library's locale from the environment; a decimal
// comma must never change a mesh or a settings file, so nothing here consults the locale.
#include <optional>
#include <string>
#include <string_view>

// Whole text must be a number (leading '+' and surrounding blanks accepted); nullopt otherwise.
std::optional<double> ParseDouble(std::string_view text);
std::optional<float> ParseFloat(std::string_view text);
std::optional<long long> ParseInt(std::string_view text);

// Reads the next whitespace-separated token of `text` from `pos` as a float, moving `pos` past it.
// Returns false at the end of the text. A token that is not a number reads as 0.
bool NextFloat(std::string_view text, size_t& pos, float& value);

// Exactly C's "%g" (six significant digits) in the "C" locale; non-finite values give "0".
std::string FormatG(double value);

// (1 - f) * a + f * b in double, rounded to float: the blend the deformation and the texture fit
// are defined by (std::lerp rounds differently).
inline float BlendInDouble(float a, float b, float f)
{
    return static_cast<float>((1.0 - static_cast<double>(f)) * a + static_cast<double>(f) * b);
}

// Rounds halves to even, the way the program's integer pixel arithmetic expects.
int RoundHalfEven(double value);
