#include "serial/serial_link.hpp"

#include <limits>
#include <string>

namespace vardel {
namespace {

constexpr char CARRIAGE_RETURN = '\r';

// Time left until more than `timeoutMs` have passed.
std::uint32_t timeLeft(std::uint32_t elapsed, std::uint32_t timeoutMs) {
    std::uint32_t left = timeoutMs - elapsed;
    return left < std::numeric_limits<std::uint32_t>::max() ? left + 1 : left;
}

}  // namespace

CollectedReply collectReplyWithEnd(const ReplySource& source, std::uint32_t timeoutMs) {
    std::string buffer;
    const std::uint32_t start = source.clock();
    for (;;) {
        char byte = 0;
        const bool gotByte = source.bytesWaiting() > 0 && source.readOneByte(byte);
        if (gotByte) buffer.push_back(byte);
        if (!buffer.empty() && buffer.back() == CARRIAGE_RETURN) break;
        const std::uint32_t elapsed = source.clock() - start;
        if (elapsed > timeoutMs) break;
        if (!gotByte) source.waitForInput(timeLeft(elapsed, timeoutMs));
    }
    const auto end = buffer.find(CARRIAGE_RETURN);
    if (end == std::string::npos) return CollectedReply{std::string(), true, buffer};
    return CollectedReply{buffer.substr(0, end), false, std::string()};
}

std::optional<std::string> readReply(SerialLink& link) {
    ReplySource source{
        [&link] { return bytesWaiting(link); },
        [&link](char& byte) { return readOneByte(link, byte); },
        [&link](std::uint32_t milliseconds) { waitForInput(link, milliseconds); },
        [] { return tickCount(); },
    };
    const CollectedReply reply = collectReplyWithEnd(source, link.timeoutMs);
    if (reply.timedOut) {
        traceLink(link, "time-out after " + std::to_string(link.timeoutMs) + " ms; bytes without a carriage return: \"" +
                            escapedBytes(reply.unterminated) + "\"");
        return std::nullopt;
    }
    traceLink(link, "received \"" + escapedBytes(reply.text) + "\\r\"");
    return reply.text;
}

std::string writeTraceText(std::string_view text, std::size_t sent, std::string_view failure) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about a
    // literal added to a temporary string here under optimisation.
    std::string shown(1, '"');
    shown += escapedBytes(text);
    shown += '"';
    if (sent >= text.size()) return "sent " + shown;
    if (sent == 0) return "not sent (" + std::string(failure) + "): " + shown;
    return "sent in part, " + std::to_string(sent) + " of " + std::to_string(text.size()) + " bytes (" +
           std::string(failure) + "): " + shown;
}

std::string refusalTraceText(std::string_view setting, std::string_view failure) {
    return "the port refused the " + std::string(setting) + ": " + std::string(failure);
}

void traceLink(const SerialLink& link, std::string_view text) {
    if (isTracing(link.trace)) traceLine(link.trace, tickCount(), text);
}

}  // namespace vardel
