#include "DisplayMsg.h"

#include "Globals.h"
#include "Options.h"
#include "support/Process.h"
#include "support/StdOut.h"

void ShowLine(const std::string& Text) {
  if (OptionTable[optQuiet].Enabled) return;
  WriteStdOutLine(Text);
  CheckStdOut();
}

void ShowBanner() {
  ShowLine(SBanner);
  ShowLine("");
}

void ShowHelp() {
  ShowBanner();
  for (const char* Line : HelpPage) ShowLine(Line);
}

bool HaltsOnErrors() { return OptionTable[optHaltOnErrors].Enabled; }

void ReportError(const std::string& Text, int Code) {
  ShowLine(Text);
  if (!HaltsOnErrors()) return;
  ShowLine(SProcessHalted);
  EndProcess(Code);
}
