// Reads the scenario table (scenarios.txt, whose head describes its form).
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <stdexcept>

#include "ScenarioRunner.h"

namespace {

struct TWord {
  std::string Text;
  bool IsValue;  // a quoted piece or a $name: part of a value, never a keyword
};

std::string Unescape(const std::string& Quoted, size_t& Pos) {
  std::string Text;
  for (++Pos; Pos < Quoted.size() && Quoted[Pos] != '"'; ++Pos) {
    if (Quoted[Pos] != '\\') {
      Text += Quoted[Pos];
      continue;
    }
    char Escape = Quoted[++Pos];
    if (Escape == 'x') {
      Text += static_cast<char>(std::stoi(Quoted.substr(Pos + 1, 2), nullptr, 16));
      Pos += 2;
    } else {
      const std::string From = "rnt0", To = std::string("\r\n\t\0", 4);
      size_t Known = From.find(Escape);
      Text += Known == std::string::npos ? Escape : To[Known];
    }
  }
  ++Pos;
  return Text;
}

std::vector<TWord> Words(const std::string& Line, const std::map<std::string, std::string>& Lets) {
  std::vector<TWord> Result;
  for (size_t Pos = 0; Pos < Line.size();) {
    if (std::isspace(static_cast<unsigned char>(Line[Pos]))) {
      ++Pos;
    } else if (Line[Pos] == '"') {
      Result.push_back({Unescape(Line, Pos), true});
    } else {
      size_t End = Line.find_first_of(" \t", Pos);
      std::string Word = Line.substr(Pos, End - Pos);
      Pos = End == std::string::npos ? Line.size() : End;
      if (Word[0] != '$') Result.push_back({Word, false});
      else if (Lets.count(Word.substr(1))) Result.push_back({Lets.at(Word.substr(1)), true});
      else throw std::runtime_error("unknown name " + Word);
    }
  }
  return Result;
}

// A path, its attributes, then its value.
TFile ReadFile(const std::vector<TWord>& Words) {
  TFile File{Words.at(1).Text};
  for (size_t I = 2; I < Words.size(); ++I) {
    const std::string& Word = Words[I].Text;
    if (Words[I].IsValue) File.Content += Word;
    else if (Word == "dir") File.Type = TType::Directory;
    else if (Word == "fifo") File.Type = TType::Fifo;
    else if (Word == "link") File.Type = TType::Symlink;
    else if (Word.rfind("mode=", 0) == 0) File.Mode = std::stoul(Word.substr(5), nullptr, 8);
    else if (Word.rfind("time=", 0) == 0) File.Time = std::stoll(Word.substr(5));
    else if (Word.rfind("size=", 0) == 0) File.Size = std::stoll(Word.substr(5));
    else if (Word.rfind("attrib=", 0) == 0) File.Attributes = Word.substr(7);
    else throw std::runtime_error("unknown attribute " + Word);
  }
  return File;
}

std::string JoinValue(const std::vector<TWord>& Words) {
  std::string Value;
  for (const TWord& Word : Words) Value += Word.IsValue ? Word.Text : "";
  return Value;
}

void ReadLine(const std::vector<TWord>& Words, TScenario& Row) {
  static const std::map<std::string, TOutput> Outputs = {
      {"file", TOutput::File},     {"pipe", TOutput::Pipe}, {"terminal", TOutput::Terminal},
      {"closed", TOutput::Closed}, {"full", TOutput::Full}, {"closed-pipe", TOutput::ClosedPipe}};
  const std::string& Key = Words[0].Text;
  std::string Value = JoinValue(Words);
  if (Key == "file") Row.Before.push_back(ReadFile(Words));
  else if (Key == "after") Row.After.push_back(ReadFile(Words));
  else if (Key == "stdout") Row.Stdout += Value;
  else if (Key == "stdin") Row.Stdin += Value;
  else if (Key == "exit") Row.Exit = std::stoi(Words.at(1).Text);
  else if (Key == "fsize") Row.FileSizeLimit = std::stoll(Words.at(1).Text);
  else if (Key == "memory") Row.AddressSpaceLimit = std::stoll(Words.at(1).Text);
  else if (Key == "locked") Row.ReadOnlyFolder = Words.at(1).Text;
  else if (Key == "raw") Row.RawCommandLine = Value;
  else if (Key == "hold") {
    Row.HeldFile = Words.at(1).Text;
    Row.HeldShare = Words.at(2).Text;
  }
  else if (Key == "run")
    for (size_t I = 1; I < Words.size(); ++I) Row.Args.push_back(Words[I].Text);
  else if (Key == "outputs") {
    Row.Outputs.clear();
    for (size_t I = 1; I < Words.size(); ++I) Row.Outputs.push_back(Outputs.at(Words[I].Text));
  } else throw std::runtime_error("unknown line " + Key);
}

}  // namespace

std::vector<TScenario> ReadScenarios() {
  std::ifstream In(SCENARIO_FILE);
  std::vector<std::string> Lines;
  for (std::string Line; std::getline(In, Line);) {
    if (!Line.empty() && std::isspace(static_cast<unsigned char>(Line[0])) && !Lines.empty())
      Lines.back() += Line;
    else if (!Line.empty() && Line[0] != '#')
      Lines.push_back(Line);
  }
  // "posix:" and "windows:" keep a line for one platform; "only" a scenario.
  const std::string Own = TargetIsWindows() ? "windows:" : "posix:";
  const std::string Other = TargetIsWindows() ? "posix:" : "windows:";
  std::vector<TScenario> Rows;
  std::vector<bool> Wanted;
  std::map<std::string, std::string> Lets;
  for (std::string Line : Lines) {
    if (Line.rfind(Other, 0) == 0) continue;
    if (Line.rfind(Own, 0) == 0) Line.erase(0, Own.size());
    std::vector<TWord> LineWords = Words(Line, Lets);
    if (Line.rfind("== ", 0) == 0) {
      Rows.push_back({Line.substr(3)});
      Wanted.push_back(true);
    } else if (LineWords[0].Text == "let") {
      Lets[LineWords.at(1).Text] = JoinValue(LineWords);
    } else if (Rows.empty()) {
      throw std::runtime_error("no scenario for " + Line);
    } else if (LineWords[0].Text == "only") {
      Wanted.back() = LineWords.at(1).Text + ":" == Own;
    } else {
      ReadLine(LineWords, Rows.back());
    }
  }
  std::vector<TScenario> Result;
  for (size_t I = 0; I < Rows.size(); ++I) {
    if (!Wanted[I]) continue;
    Rows[I].Unchanged = Rows[I].After.empty();
    Result.push_back(Rows[I]);
  }
  return Result;
}
