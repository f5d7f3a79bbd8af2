#include "StdOut.h"

#include <algorithm>
#include <cstring>

#include "Failures.h"
#include "Platform.h"

namespace {

bool Opened = false;  // standard output is opened at the first write
int OpenError = 0;
Platform::TOutputKind Kind = Platform::TOutputKind::Stream;
int PendingError = 0;
char Buffer[128];
size_t Used = 0;

void Note(int Code) {
  if (Code != 0) PendingError = Code;
}

void FlushBuffer() {
  if (Used == 0) return;
  Note(Platform::WriteStdOut(Buffer, Used));
  Used = 0;
}

void Append(std::string_view Bytes) {
  while (!Bytes.empty()) {
    size_t Take = std::min(sizeof Buffer - Used, Bytes.size());
    std::memcpy(Buffer + Used, Bytes.data(), Take);
    Used += Take;
    Bytes.remove_prefix(Take);
    if (Used == sizeof Buffer) FlushBuffer();
  }
}

}  // namespace

void WriteStdOutLine(std::string_view Text) {
  if (!Opened) OpenError = Platform::OpenStdOut(Kind);
  Opened = true;
  if (OpenError != 0) return Note(OpenError);
  Append(Text);
  Append("\r\n");
  if (Kind == Platform::TOutputKind::Console) FlushBuffer();
}

int TakeStdOutError() {
  int Code = PendingError;
  PendingError = 0;
  return Code;
}

void CheckStdOut() {
  if (int Code = TakeStdOutError()) Raise<EInOutError>(Code);
}

bool CloseStdOut() {
  FlushBuffer();  // nothing is buffered unless it was opened
  return TakeStdOutError() == 0;
}
