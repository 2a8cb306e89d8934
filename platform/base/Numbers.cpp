#include "platform/base/Numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    return text;
}

template <typename T>
std::optional<T> ParseWhole(std::string_view text)
{
    text = Trim(text);
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}
}

std::optional<double> ParseDouble(std::string_view text) { return ParseWhole<double>(text); }
std::optional<float> ParseFloat(std::string_view text) { return ParseWhole<float>(text); }
std::optional<long long> ParseInt(std::string_view text) { return ParseWhole<long long>(text); }

bool NextFloat(std::string_view text, size_t& pos, float& value)
{
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    if (pos >= text.size())
        return false;
    size_t end = pos;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    value = ParseFloat(text.substr(pos, end - pos)).value_or(0.0f);
    pos = end;
    return true;
}

std::string FormatG(double value)
{
    if (!std::isfinite(value))
        return "0";
    char buffer[64];
    // to_chars with general format and a precision is defined as printf's %.6g in the C locale.
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    if (ec != std::errc())
        return "0";
    return std::string(buffer, end);
}

int RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0;
    double r = std::nearbyint(value);
    if (r >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (r <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(r);
}
