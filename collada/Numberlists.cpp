// Whitespace-separated number lists of COLLADA arrays, read without the locale.
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

#include "collada/Geometry.h"
#include "platform/base/Numbers.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Walks the tokens of a number text.
class Tokens {
public:
    explicit Tokens(std::string_view text) : text_(text) {}
    bool Next(std::string_view& token)
    {
        while (pos_ < text_.size() && IsBlank(text_[pos_]))
            ++pos_;
        if (pos_ >= text_.size())
            return false;
        size_t start = pos_;
        while (pos_ < text_.size() && !IsBlank(text_[pos_]))
            ++pos_;
        token = text_.substr(start, pos_ - start);
        return true;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// The number of entries to make: count, but no more than the text has tokens, so that a count
// from the file can never make us allocate more than its own text could fill.
size_t EntriesFor(std::string_view text, long long count)
{
    if (count <= 0)
        return 0;
    Tokens tokens(text);
    std::string_view token;
    size_t n = 0;
    while (static_cast<long long>(n) < count && tokens.Next(token))
        ++n;
    return n;
}

std::string_view WithoutPlus(std::string_view token)
{
    if (token.size() > 1 && token[0] == '+' && token[1] != '-' && token[1] != '+')
        token.remove_prefix(1);
    return token;
}

bool ReadFloat(std::string_view token, float& value)
{
    token = WithoutPlus(token);
    const char* end = token.data() + token.size();
    auto [p, ec] = std::from_chars(token.data(), end, value);
    if (ec == std::errc::result_out_of_range) {
        // Beyond float but within double: tiny values become 0 or a denormal, huge ones fail.
        double wide = 0.0;
        auto [q, ec2] = std::from_chars(token.data(), end, wide);
        if (ec2 != std::errc() || q != end)
            return false;
        value = static_cast<float>(wide);
        return std::isfinite(value);
    }
    return ec == std::errc() && p == end && std::isfinite(value);
}

bool ReadInt(std::string_view token, int& value)
{
    token = WithoutPlus(token);
    const char* end = token.data() + token.size();
    auto [p, ec] = std::from_chars(token.data(), end, value);
    return ec == std::errc() && p == end;
}

template <typename T, typename Reader>
void ParseArray(std::vector<T>& array, std::string_view text, long long count, Reader read)
{
    array.assign(EntriesFor(text, count), T{});
    Tokens tokens(text);
    std::string_view token;
    for (T& entry : array) {
        if (!tokens.Next(token) || !read(token, entry)) {
            entry = T{};
            break;   // the rest stays 0
        }
    }
}
}

void ParseFloatArray(std::vector<float>& array, std::string_view text, long long count)
{
    ParseArray(array, text, count, ReadFloat);
}

void ParseIntArray(std::vector<int>& array, std::string_view text, long long count)
{
    ParseArray(array, text, count, ReadInt);
}

void CopyFloatArray(const std::vector<float>& source, std::vector<float>& target) { target = source; }

void CopyIntArray(const std::vector<int>& source, std::vector<int>& target) { target = source; }
