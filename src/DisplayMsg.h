// The line writer, silenced by -Q, and what is written through it.
#pragma once

#include <string>

// Writes Text and CR LF to standard output unless quiet; raises EInOutError
// when the write fails.
void ShowLine(const std::string& Text);
void ShowBanner();
void ShowHelp();
// True when halt-on-errors is on: the first error ends the process.
bool HaltsOnErrors();
// Shows Text; with halt-on-errors on, then shows "  Process halted" and ends
// the process with Code (never returning).
void ReportError(const std::string& Text, int Code);
