#include "Format.h"

std::string Format(std::string_view Template, std::initializer_list<std::string_view> Args) {
  std::string Result;
  auto Next = Args.begin();
  for (size_t I = 0; I < Template.size(); ++I) {
    bool Placeholder = Template[I] == '%' && I + 1 < Template.size() &&
                       std::string_view("sdp").find(Template[I + 1]) != std::string_view::npos;
    if (Placeholder && Next != Args.end()) {
      Result += *Next++;
      ++I;
    } else {
      Result += Template[I];
    }
  }
  return Result;
}
