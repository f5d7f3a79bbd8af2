// The Win32 calls the tool is built on.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#define _WIN32_WINNT 0x0602
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <cstring>

#include "CommandLine.h"
#include "Platform.h"

namespace Platform {

namespace {

int LastError() { return static_cast<int>(GetLastError()); }

std::string AfterLastBackslash(const std::string& Path) {
  return Path.substr(Path.rfind('\\') + 1);
}

std::string ModuleFileName(HMODULE Module) {
  char Name[MAX_PATH];
  DWORD Length = GetModuleFileNameA(Module, Name, sizeof Name);
  return AfterLastBackslash(std::string(Name, std::min<DWORD>(Length, sizeof Name)));
}

// The lead-byte ranges of the ANSI code page, when the system has double-byte
// characters at all.
TLeadBytes ReadLeadBytes() {
  TLeadBytes LeadBytes;
  CPINFO Info;
  if (GetSystemMetrics(SM_DBCSENABLED) == 0 || !GetCPInfo(CP_ACP, &Info)) return LeadBytes;
  for (int I = 0; I + 1 < MAX_LEADBYTES && (Info.LeadByte[I] || Info.LeadByte[I + 1]); I += 2)
    for (int Byte = Info.LeadByte[I]; Byte <= Info.LeadByte[I + 1]; ++Byte) LeadBytes.set(Byte);
  return LeadBytes;
}

std::wstring Widen(UINT CodePage, const std::string& Text) {
  int Size = MultiByteToWideChar(CodePage, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring Wide(Size, L'\0');
  MultiByteToWideChar(CodePage, 0, Text.data(), static_cast<int>(Text.size()), Wide.data(), Size);
  return Wide;
}

// True when the full path of Path fits the limit: wine makes some longer
// names, which it can then neither open nor remove.
bool FitsPathLimit(const std::string& Path) {
  char Full[MAX_PATH];
  DWORD Length = GetFullPathNameA(Path.c_str(), sizeof Full, Full, nullptr);
  return Length > 0 && Length < sizeof Full;
}

// The attributes a program may set; FILE_ATTRIBUTE_NORMAL stands for none.
constexpr DWORD SettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
DWORD Settable(DWORD Attributes) {
  return (Attributes & SettableAttributes) != 0 ? Attributes & SettableAttributes : FILE_ATTRIBUTE_NORMAL;
}

// Windows reads and writes at most 4 GiB less one byte per call.
DWORD Chunk(size_t Size) { return static_cast<DWORD>(std::min<size_t>(Size, 1u << 30)); }

// Writes all of Data, going on after a short write.
int WriteHandle(HANDLE Handle, const char* Data, size_t Size) {
  while (Size > 0) {
    DWORD Written = 0;
    if (!WriteFile(Handle, Data, Chunk(Size), &Written, nullptr)) return LastError();
    if (Written == 0) return ERROR_WRITE_FAULT;
    Data += Written;
    Size -= Written;
  }
  return 0;
}

}  // namespace

void StartProcess(int, char**) {
  // Failures are reported on standard output, never in a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  LeadBytes();
}

std::vector<std::string> Arguments() { return SplitCommandLine(GetCommandLineA()); }

const char* SwitchChars() { return "-/"; }

const char* EndOfSwitches() { return ""; }

bool ShellExpandsPatterns() { return false; }

const char* PathDelimiters() { return "\\/:"; }

const TLeadBytes& LeadBytes() {
  static const TLeadBytes Settled = ReadLeadBytes();
  return Settled;
}

std::string LocalText(const std::string& Utf8) {
  std::wstring Text = Widen(CP_UTF8, Utf8);
  int Wide = static_cast<int>(Text.size());
  int Narrow = WideCharToMultiByte(CP_ACP, 0, Text.data(), Wide, nullptr, 0, nullptr, nullptr);
  std::string Local(Narrow, '\0');
  WideCharToMultiByte(CP_ACP, 0, Text.data(), Wide, Local.data(), Narrow, nullptr, nullptr);
  return Local;
}

bool ModuleOfAddress(const void* Address, std::string& FileName, uintptr_t& Base) {
  HMODULE Module;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(Address), &Module))
    return false;
  Base = reinterpret_cast<uintptr_t>(Module);
  FileName = ModuleFileName(Module);
  return true;
}

std::string ProgramFileName() { return ModuleFileName(nullptr); }

bool DebuggerAttached() { return IsDebuggerPresent() != 0; }

void Exit(int Code) { ExitProcess(static_cast<UINT>(Code)); }

int OpenStdOut(TOutputKind& Kind) {
  HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (Output == INVALID_HANDLE_VALUE || Output == nullptr) return ERROR_INVALID_HANDLE;
  DWORD Type = GetFileType(Output);
  if (Type == FILE_TYPE_UNKNOWN) return GetLastError() ? LastError() : ERROR_INVALID_HANDLE;
  Kind = Type == FILE_TYPE_CHAR ? TOutputKind::Console : TOutputKind::Stream;
  return 0;
}

int WriteStdOut(const char* Data, size_t Size) {
  return WriteHandle(GetStdHandle(STD_OUTPUT_HANDLE), Data, Size);
}

struct TFileState {
  HANDLE Handle;
  DWORD Attributes;  // put on the file when it is closed; 0: none
};

bool IsNotFound(int Code) {
  return Code == ERROR_FILE_NOT_FOUND || Code == ERROR_PATH_NOT_FOUND || Code == ERROR_INVALID_NAME ||
         Code == ERROR_FILENAME_EXCED_RANGE;
}

bool IsRefusal(int Code) {
  return Code == ERROR_ACCESS_DENIED || Code == ERROR_WRITE_PROTECT ||
         Code == ERROR_SHARING_VIOLATION || Code == ERROR_LOCK_VIOLATION;
}

int OpenForReading(const std::string& Path, TReadable, TFileState*& File) {
  // No writer while the file is read; renaming it stays possible, for the
  // test that it may be renamed: the check before it is replaced would see
  // that another did.
  HANDLE Handle = CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) return LastError();
  // Only files: Windows gives standard input no name, and a pipe has no
  // identity to take.
  if (GetFileType(Handle) != FILE_TYPE_DISK) {
    CloseHandle(Handle);
    return ERROR_INVALID_FUNCTION;
  }
  File = new TFileState{Handle, 0};
  return 0;
}

int ReadSome(TFileState* File, char* Data, size_t Size, size_t& Got) {
  DWORD Count = 0;
  if (!ReadFile(File->Handle, Data, Chunk(Size), &Count, nullptr)) return LastError();
  Got = Count;
  return 0;
}

// Windows has no files without a name.
int CreateUnnamed(const std::string&, TFileState*&) { return Unsupported; }

int CreateExclusive(const std::string& Path, TFileState*& File) {
  // No sharing: nobody else can open the file while it is written. Hidden,
  // so that a listing meanwhile passes it by.
  HANDLE Handle = CreateFileA(Path.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) return LastError();
  File = new TFileState{Handle, 0};
  return 0;
}

bool IsNameTaken(int Code) { return Code == ERROR_FILE_EXISTS || Code == ERROR_ALREADY_EXISTS; }

bool IsOutOfDescriptors(int Code) { return Code == ERROR_TOO_MANY_OPEN_FILES || Code == ERROR_NO_SYSTEM_RESOURCES; }

// A process may hold millions of handles.
size_t FreeDescriptors() { return SIZE_MAX; }

int NameFile(TFileState*, const std::string&) { return Unsupported; }

int WriteAll(TFileState* File, const char* Data, size_t Size) {
  return WriteHandle(File->Handle, Data, Size);
}

int CopyAccess(TFileState* Model, TFileState* File) {
  BY_HANDLE_FILE_INFORMATION Found;
  if (!GetFileInformationByHandle(Model->Handle, &Found)) return LastError();
  PACL Dacl = nullptr;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  DWORD Code = GetSecurityInfo(Model->Handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                               nullptr, &Dacl, nullptr, &Descriptor);
  if (Code == ERROR_SUCCESS)
    Code = SetSecurityInfo(File->Handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, Dacl, nullptr);
  LocalFree(Descriptor);
  // The attributes go on when the file is closed: hidden until then.
  File->Attributes = Settable(Found.dwFileAttributes);
  return static_cast<int>(Code);
}

int StampOf(TFileState* File, TFileStamp& Stamp) {
  BY_HANDLE_FILE_INFORMATION Info;
  if (!GetFileInformationByHandle(File->Handle, &Info)) return LastError();
  Stamp = {Info.dwVolumeSerialNumber, (uint64_t{Info.nFileIndexHigh} << 32) | Info.nFileIndexLow,
           (uint64_t{Info.nFileSizeHigh} << 32) | Info.nFileSizeLow,
           static_cast<int64_t>((uint64_t{Info.ftLastWriteTime.dwHighDateTime} << 32) |
                                Info.ftLastWriteTime.dwLowDateTime),
           Info.nNumberOfLinks,
           (Info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0};
  // A file system whose files need 128 bits to be told apart (ReFS) gives
  // them here; before Windows 8 there is only the index above.
  FILE_ID_INFO Id;
  if (GetFileInformationByHandleEx(File->Handle, FileIdInfo, &Id, sizeof Id)) {
    Stamp.Volume = Id.VolumeSerialNumber;
    std::memcpy(&Stamp.Index, Id.FileId.Identifier, sizeof Stamp.Index);
    std::memcpy(&Stamp.IndexHigh, Id.FileId.Identifier + sizeof Stamp.Index, sizeof Stamp.IndexHigh);
  }
  return 0;
}

namespace {

// No access asked: only the file's information is read, whoever holds it.
HANDLE OpenName(const std::string& Path, DWORD Flags) {
  return CreateFileA(Path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | Flags, nullptr);
}

int StampWithFlags(const std::string& Path, DWORD Flags, TFileStamp& Stamp) {
  TFileState File{OpenName(Path, Flags), 0};
  if (File.Handle == INVALID_HANDLE_VALUE) return LastError();
  int Code = StampOf(&File, Stamp);
  CloseHandle(File.Handle);
  return Code;
}

}  // namespace

int StampAt(const std::string& Path, TFileStamp& Stamp) { return StampWithFlags(Path, 0, Stamp); }

int StampOfName(const std::string& Path, TFileStamp& Stamp) {
  return StampWithFlags(Path, FILE_FLAG_OPEN_REPARSE_POINT, Stamp);
}

// Windows flushes no whole volume for a user, and MOVEFILE_WRITE_THROUGH
// waits for a new name to reach the disk: each file is flushed.
int MakeDurable(const std::vector<TFileState*>& Files, const std::vector<std::string>&) {
  for (TFileState* File : Files)
    if (!FlushFileBuffers(File->Handle)) return LastError();
  return 0;
}

int CloseFile(TFileState* File) {
  FILE_BASIC_INFO Info = {};  // zero times: left as they are
  Info.FileAttributes = File->Attributes;
  int Code = 0;
  if (Info.FileAttributes != 0 &&
      !SetFileInformationByHandle(File->Handle, FileBasicInfo, &Info, sizeof Info))
    Code = LastError();
  if (!CloseHandle(File->Handle) && Code == 0) Code = LastError();
  delete File;
  return Code;
}

namespace {

// Replaces Target, which another program holds open sharing its renaming but
// not its replacement: the file steps aside under a name of its own, hidden
// (Attributes are its own, read-only aside), Source takes its name, and the
// name aside goes. False, everything back, where a step fails.
bool ReplaceHeldFile(const std::string& Source, const std::string& Target, DWORD Attributes) {
  std::string Aside = Source + "~";
  DWORD Hidden = (Attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_HIDDEN;
  if (!SetFileAttributesA(Target.c_str(), Hidden)) return false;
  if (RenameNoReplace(Target, Aside) == 0) {
    if (RenameNoReplace(Source, Target) == 0) return DeleteName(Aside), true;
    RenameNoReplace(Aside, Target);
  }
  SetFileAttributesA(Target.c_str(), Attributes);
  return false;
}

}  // namespace

int RenameOver(const std::string& Source, const std::string& Target, const std::string& Model) {
  // Windows does not replace a read-only name. The attributes belong to the
  // file, so they go back on it under its other name once the name is taken.
  DWORD Attributes = GetFileAttributesA(Target.c_str());
  if (Attributes == INVALID_FILE_ATTRIBUTES) Attributes = 0;
  DWORD Writable = Settable(Attributes & ~FILE_ATTRIBUTE_READONLY);
  bool ReadOnly = (Attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (ReadOnly && !SetFileAttributesA(Target.c_str(), Writable)) return LastError();
  DWORD Flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  int Code = MoveFileExA(Source.c_str(), Target.c_str(), Flags) ? 0 : LastError();
  // A file another program holds open may refuse to be replaced and yet let
  // itself be renamed, where its content stays under another name.
  bool SteppedAside = IsRefusal(Code) && Model != Target && ReplaceHeldFile(Source, Target, Writable);
  if (SteppedAside) Code = 0;
  if (Code != 0 && ReadOnly) SetFileAttributesA(Target.c_str(), Attributes);
  bool Changed = ReadOnly || SteppedAside;
  if (Code == 0 && Changed && Model != Target && !SetFileAttributesA(Model.c_str(), Settable(Attributes)))
    return LastError();
  return Code;
}

int RenameNoReplace(const std::string& Source, const std::string& Target) {
  if (!FitsPathLimit(Target)) return ERROR_FILENAME_EXCED_RANGE;
  return MoveFileA(Source.c_str(), Target.c_str()) ? 0 : LastError();
}

// Windows has no exchange of two names in one step.
int ExchangeNames(const std::string&, const std::string&) { return Unsupported; }

int LinkNoReplace(const std::string& Existing, const std::string& NewName) {
  if (!FitsPathLimit(NewName)) return ERROR_FILENAME_EXCED_RANGE;
  return CreateHardLinkA(NewName.c_str(), Existing.c_str(), nullptr) ? 0 : LastError();
}

bool IsLinkUnsupported(int Code) {
  return Code == ERROR_INVALID_FUNCTION || Code == ERROR_NOT_SUPPORTED ||
         Code == ERROR_TOO_MANY_LINKS;
}

namespace {

// FileDispositionInfoEx (Windows 10 1809): the name goes at once, even while
// another program holds the file open, and in spite of the read-only attribute.
constexpr auto DispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD DeleteAtOnce = 0x1 | 0x2 | 0x10;

// Marks the name Handle is open on to go once every handle of its file is
// closed. The attributes belong to the file, which may have other names: a
// read-only one loses the attribute for the marking and gets it back
// through the same handle.
int MarkForDeletion(HANDLE Handle) {
  FILE_ATTRIBUTE_TAG_INFO Found;
  if (!GetFileInformationByHandleEx(Handle, FileAttributeTagInfo, &Found, sizeof Found)) return LastError();
  bool ReadOnly = (Found.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  FILE_BASIC_INFO Info = {};  // zero times: left as they are
  FILE_DISPOSITION_INFO Delete = {TRUE};
  Info.FileAttributes = Settable(Found.FileAttributes & ~FILE_ATTRIBUTE_READONLY);
  int Code = (!ReadOnly || SetFileInformationByHandle(Handle, FileBasicInfo, &Info, sizeof Info)) &&
                     SetFileInformationByHandle(Handle, FileDispositionInfo, &Delete, sizeof Delete)
                 ? 0 : LastError();
  Info.FileAttributes = Settable(Found.FileAttributes);
  if (ReadOnly && !SetFileInformationByHandle(Handle, FileBasicInfo, &Info, sizeof Info) && Code == 0)
    Code = LastError();
  return Code;
}

}  // namespace

int DeleteName(const std::string& Path) {
  HANDLE Handle = CreateFileA(Path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) return LastError();
  DWORD Flags = DeleteAtOnce;
  int Code = SetFileInformationByHandle(Handle, DispositionEx, &Flags, sizeof Flags) ? 0 : MarkForDeletion(Handle);
  CloseHandle(Handle);
  return Code;
}

int QueryAttributes(const std::string& Path, uint32_t& Attributes) {
  DWORD Found = GetFileAttributesA(Path.c_str());
  if (Found == INVALID_FILE_ATTRIBUTES) return LastError();
  Attributes = Found;
  return 0;
}

bool CanRename(const std::string& Path) {
  // Opening for deletion fails while another process holds the file
  // without sharing its deletion; renaming or replacing it would fail too.
  HANDLE Handle = CreateFileA(Path.c_str(), DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) {
    DWORD Code = GetLastError();
    return Code != ERROR_SHARING_VIOLATION && Code != ERROR_LOCK_VIOLATION;
  }
  CloseHandle(Handle);
  return true;
}

namespace {

// The path the file system gives the name Handle was opened by: short names,
// trailing dots and blanks, "." and ".." resolved.
bool FinalPath(HANDLE Handle, std::wstring& Path) {
  DWORD Size = GetFinalPathNameByHandleW(Handle, nullptr, 0, FILE_NAME_NORMALIZED);
  Path.resize(Size);
  DWORD Length = Size > 0 ? GetFinalPathNameByHandleW(Handle, Path.data(), Size, FILE_NAME_NORMALIZED) : 0;
  Path.resize(Length < Size ? Length : 0);
  return !Path.empty();
}

}  // namespace

bool SameName(const std::string& A, const std::string& B) {
  // A name under which nothing is can be no other; one that the file system
  // cannot resolve counts as the same, never as another.
  HANDLE HandleB = OpenName(B, FILE_FLAG_OPEN_REPARSE_POINT);
  if (HandleB == INVALID_HANDLE_VALUE)
    return GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND;
  HANDLE HandleA = OpenName(A, FILE_FLAG_OPEN_REPARSE_POINT);
  std::wstring PathA, PathB;
  // Letter case compared as the file system does: each letter upper-cased alone.
  bool Same = HandleA == INVALID_HANDLE_VALUE || !FinalPath(HandleA, PathA) || !FinalPath(HandleB, PathB) ||
              CompareStringOrdinal(PathA.data(), static_cast<int>(PathA.size()), PathB.data(),
                                   static_cast<int>(PathB.size()), TRUE) == CSTR_EQUAL;
  if (HandleA != INVALID_HANDLE_VALUE) CloseHandle(HandleA);
  CloseHandle(HandleB);
  return Same;
}

// No Windows name holds a wildcard; the listing shows so a name that the
// code page cannot spell.
bool IsFileName(const std::string& Path) { return Path.find_first_of("*?") == std::string::npos; }

struct TSearchState {
  HANDLE Handle;
};

namespace {

// True for the codes that only say that nothing matches.
bool NothingFound(DWORD Code) { return Code == ERROR_NO_MORE_FILES || IsNotFound(static_cast<int>(Code)); }

// Name in the code page; Exact is false where the code page lacks one of its
// characters, or has only a look-alike: "?" stands there.
std::string CodePageName(const wchar_t* Name, bool& Exact) {
  char Narrow[3 * MAX_PATH];
  BOOL Lacks = FALSE;
  // UTF-8 lacks no character, and takes no such flags.
  bool Utf8 = GetACP() == CP_UTF8;
  int Size = WideCharToMultiByte(CP_ACP, Utf8 ? 0 : WC_NO_BEST_FIT_CHARS, Name, -1, Narrow, sizeof Narrow,
                                 Utf8 ? nullptr : "?", Utf8 ? nullptr : &Lacks);
  Exact = Size > 0 && !Lacks;
  return std::string(Narrow, Size > 0 ? Size - 1 : 0);
}

void FillEntry(const WIN32_FIND_DATAW& Data, TFoundEntry& Entry) {
  // The long name; where the code page cannot spell it, the 8.3 alias, which
  // the file system resolves as well.
  bool Exact = false;
  Entry.Name = CodePageName(Data.cFileName, Exact);
  if (!Exact && Data.cAlternateFileName[0] != L'\0') {
    std::string Alias = CodePageName(Data.cAlternateFileName, Exact);
    if (Exact) Entry.Name = Alias;
  }
  Entry.Attributes = Data.dwFileAttributes;
}

}  // namespace

bool FindFirst(const std::string& Pattern, TSearchState*& State, TFoundEntry& Entry, int& Code) {
  WIN32_FIND_DATAW Data;
  HANDLE Handle = FindFirstFileW(Widen(CP_ACP, Pattern).c_str(), &Data);
  Code = 0;
  if (Handle == INVALID_HANDLE_VALUE) {
    Code = NothingFound(GetLastError()) ? 0 : LastError();
    return false;
  }
  State = new TSearchState{Handle};
  FillEntry(Data, Entry);
  return true;
}

bool FindNext(TSearchState* State, TFoundEntry& Entry, int& Code) {
  WIN32_FIND_DATAW Data;
  Code = 0;
  if (!FindNextFileW(State->Handle, &Data)) {
    Code = GetLastError() == ERROR_NO_MORE_FILES ? 0 : LastError();
    return false;
  }
  FillEntry(Data, Entry);
  return true;
}

void FindClose(TSearchState* State) {
  ::FindClose(State->Handle);
  delete State;
}

}  // namespace Platform
