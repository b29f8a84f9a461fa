#pragma once
// What vardel-find needs from its platform besides the port library: who
// may open a port, the port an argument names, how to ask many ports at
// once, and how its findings are shown. One file per platform.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "find/finder.hpp"

namespace vardel::find {

// Settles what the output's encoding comes from (the locale, the console).
void prepareOutput();

// Whether this user may open the port, judged without opening it: the
// outcome Listed when nothing speaks against it.
OpenFailure accessOf(const PortEntry& entry);

// The port that a command-line argument names, found without opening
// anything; false, with the reason, when it names no port at all.
bool namedPort(const std::string& argument, const std::vector<PortEntry>& listed, PortEntry& entry,
               std::string& error);

// A file for the trace of one open, removed when closed; nullptr when none
// could be had.
std::FILE* scratchFile();

// Sends every opened question the identification request, then collects
// the replies together: the whole takes about one time-out, however many
// ports are silent.
void askAll(const std::vector<Question*>& questions);

Presentation platformPresentation();

void writeOut(std::string_view text);
void writeError(std::string_view text);

}  // namespace vardel::find
