#include "Failures.h"

#include "Format.h"
#include "Platform.h"

namespace {

std::string Text(const char* Utf8, std::initializer_list<std::string_view> Args = {}) {
  return Format(Platform::LocalText(Utf8), Args);
}

std::string InOutErrorText(int Code) {
  switch (Code) {
    case 2: return Text("Fichier introuvable");
    case 3: return Text("Nom de fichier incorrect");
    case 4: return Text("Trop de fichiers ouverts");
    case 5: return Text("Accès au fichier refusé");
    case 100: return Text("Lecture au-delà de la fin de fichier");
    case 101: return Text("Disque plein");
    case 106: return Text("Saisie numérique incorrecte");
    default: return Text("Erreur E/S %d", {std::to_string(Code)});
  }
}

}  // namespace

EFOpenError::EFOpenError(const std::string& Path)
    : Exception(Text("Impossible d'ouvrir le fichier %s", {Path})) {}

EFCreateError::EFCreateError(const std::string& Path)
    : Exception(Text("Impossible de créer le fichier %s", {Path})) {}

EReadError::EReadError() : Exception(Text("Erreur de lecture dans le flux")) {}

EWriteError::EWriteError() : Exception(Text("Erreur d'écriture dans le flux")) {}

EInOutError::EInOutError(int Code) : Exception(InOutErrorText(Code)), ErrorCode(Code) {}
