// Standard output as the tool writes it: opened at its first write; on a
// console every line goes out at its end, otherwise the bytes collect in a
// 128-byte buffer that is written out whenever it is full and at the close.
#pragma once

#include <string_view>

// Writes Text and CR LF. A failed write is kept for the next check.
void WriteStdOutLine(std::string_view Text);
// The error code of a write that failed since the last call, or 0.
int TakeStdOutError();
// Raises EInOutError when a write failed since the last check.
void CheckStdOut();
// Writes out what the buffer still holds. False when that write failed.
bool CloseStdOut();
