// The command-line splitter. Besides comparing with a plain reading of the
// rules, each token is checked byte by byte: at most 4,096 bytes, and a
// byte up to 0x20 only where a quoted run put it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/command_line.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using vardel::escapedBytes;

constexpr std::size_t TOKEN_LIMIT = 4096;

struct Token {
    std::string bytes;
    std::vector<bool> quoted;  // per byte: taken inside a quoted run
};

bool isSeparator(unsigned char byte) { return byte >= 0x01 && byte <= 0x20; }

// The rules one byte at a time. Past the limit a quoted run still runs to
// its closing quote, its bytes dropped.
std::vector<Token> split(std::string_view line) {
    line = line.substr(0, line.find('\0'));
    std::vector<Token> tokens;
    std::size_t i = 0;
    for (;;) {
        for (;;) {
            if (i < line.size() && isSeparator(static_cast<unsigned char>(line[i]))) {
                ++i;
            } else if (i + 1 < line.size() && line[i] == '"' && line[i + 1] == '"') {
                i += 2;
            } else {
                break;
            }
        }
        if (i == line.size()) return tokens;
        Token token;
        bool inQuotes = false;
        while (i < line.size()) {
            const char c = line[i];
            if (inQuotes) {
                ++i;
                if (c == '"') {
                    inQuotes = false;
                } else if (token.bytes.size() < TOKEN_LIMIT) {
                    token.bytes += c;
                    token.quoted.push_back(true);
                }
                continue;
            }
            if (static_cast<unsigned char>(c) <= 0x20 || token.bytes.size() == TOKEN_LIMIT) break;
            ++i;
            if (c == '"') {
                inQuotes = true;
            } else {
                token.bytes += c;
                token.quoted.push_back(false);
            }
        }
        tokens.push_back(std::move(token));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> tokens = vardel::splitCommandLine(line);
    const std::vector<Token> expected = split(line);
    // Described only when a check fails.
    const auto context = [&] { return "line \"" + escapedBytes(line) + "\""; };
    FUZZ_CHECK(tokens.size() == expected.size(),
               context() + ": " + std::to_string(tokens.size()) + " tokens instead of " + std::to_string(expected.size()));
    std::size_t total = 0;
    for (std::size_t t = 0; t < tokens.size(); ++t) {
        const std::string& token = tokens[t];
        const auto where = [&] { return context() + ", token " + std::to_string(t) + " \"" + escapedBytes(token) + "\""; };
        FUZZ_CHECK(token.size() <= TOKEN_LIMIT, where() + ": longer than the limit");
        FUZZ_CHECK(token == expected[t].bytes, where() + ": expected \"" + escapedBytes(expected[t].bytes) + "\"");
        for (std::size_t b = 0; b < token.size(); ++b) {
            const auto byte = static_cast<unsigned char>(token[b]);
            FUZZ_CHECK(byte != 0, where() + ": holds a zero byte");
            FUZZ_CHECK(byte > 0x20 || expected[t].quoted[b], where() + ": separator byte outside quotes");
            FUZZ_CHECK(byte != '"', where() + ": holds a quote");
        }
        FUZZ_CHECK(!token.empty() || line.find('"') != std::string_view::npos, where() + ": empty token without quotes");
        total += token.size();
    }
    FUZZ_CHECK(total <= line.size(), context() + ": more token bytes than the line has");
    return 0;
}
