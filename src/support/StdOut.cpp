#include "StdOut.h"

#include <algorithm>
#include <cstring>

#include "Failures.h"
#include "Platform.h"

namespace {

enum class TState { NotOpened, Open, OpenFailed };

TState State = TState::NotOpened;
Platform::TOutputKind Kind = Platform::TOutputKind::Stream;
int OpenError = 0;
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
  if (State == TState::NotOpened) {
    OpenError = Platform::OpenStdOut(Kind);
    State = OpenError == 0 ? TState::Open : TState::OpenFailed;
  }
  if (State == TState::OpenFailed) {
    Note(OpenError);
    return;
  }
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
  if (State == TState::Open) FlushBuffer();
  return TakeStdOutError() == 0;
}
