#include "text/command_line.hpp"

namespace vardel {

namespace {

constexpr std::size_t TOKEN_LIMIT = 4096;

bool isSeparator(unsigned char byte) { return byte >= 0x01 && byte <= 0x20; }

// Skips separators and "" pairs; returns the position of the next token.
std::size_t skipSeparators(std::string_view line, std::size_t pos) {
    while (pos < line.size()) {
        if (isSeparator(static_cast<unsigned char>(line[pos]))) {
            ++pos;
        } else if (line.compare(pos, 2, "\"\"") == 0) {
            pos += 2;
        } else {
            break;
        }
    }
    return pos;
}

// Takes a quoted run starting after its opening quote. Bytes beyond the
// token limit are dropped; the run still ends at its closing quote.
std::size_t takeQuotedRun(std::string_view line, std::size_t pos, std::string& token) {
    while (pos < line.size() && line[pos] != '"' && line[pos] != '\0') {
        if (token.size() < TOKEN_LIMIT) token += line[pos];
        ++pos;
    }
    return pos < line.size() && line[pos] == '"' ? pos + 1 : pos;
}

std::size_t takeToken(std::string_view line, std::size_t pos, std::string& token) {
    while (pos < line.size() && token.size() < TOKEN_LIMIT) {
        const unsigned char byte = static_cast<unsigned char>(line[pos]);
        if (byte <= 0x20) break;
        if (byte == '"') {
            pos = takeQuotedRun(line, pos + 1, token);
        } else {
            token += static_cast<char>(byte);
            ++pos;
        }
    }
    return pos;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view commandLine) {
    const std::string_view line = commandLine.substr(0, commandLine.find('\0'));
    std::vector<std::string> tokens;
    std::size_t pos = skipSeparators(line, 0);
    while (pos < line.size()) {
        std::string token;
        pos = takeToken(line, pos, token);
        tokens.push_back(std::move(token));
        pos = skipSeparators(line, pos);
    }
    return tokens;
}

}  // namespace vardel
